// The numbering's ordered fallback: a balanced search tree over the tokens
// numbered so far, ordered by their bytes. It takes over from the hash table
// when a probe run grows too long, which with a keyed hash only happens to
// inputs built by someone who knows the keys; from then on every token costs
// O(log n) comparisons, whatever the tokens are.
//
// An AA tree (A. Andersson, "Balanced search trees made simple", WADS 1993):
// a red-black tree in which only right children may be red, kept balanced by
// two rotations, `skew` and `split`. Its height is at most 2 log2(n + 1).
//
// Nodes are token ids plus one (0 is the empty tree), so the tree adds three
// small arrays beside the numbering's own record of each token, all in arena
// memory, and never moves a token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "scorer/details/scratch_arena.hpp"

namespace tallygrams::scorer::detail {

// Byte order, then length: a strict order on distinct tokens.
inline int compare_tokens(const char* a, size_t a_length, const char* b, size_t b_length) noexcept {
    const size_t common = a_length < b_length ? a_length : b_length;
    if (common > 0) {
        if (const int order = std::memcmp(a, b, common); order != 0) return order;
    }
    return (a_length > b_length) - (a_length < b_length);
}

// `Tokens`, a small value, gives a node's bytes: `text(node)` and
// `length(node)`.
template <class Id, class Tokens>
class TokenTree {
public:
    TokenTree() = default;  // holds nothing until given room
    // Room for nodes 1 .. max_node.
    TokenTree(size_t max_node, Tokens tokens, ScratchArena& arena)
        : tokens_(tokens),
          left_(arena.allocate_zeroed<Id>(max_node + 1)),
          right_(arena.allocate_zeroed<Id>(max_node + 1)),
          level_(arena.allocate_zeroed<uint8_t>(max_node + 1)) {}

    // The node holding the token, or 0.
    Id find(const char* text, size_t length) const noexcept {
        Id node = root_;
        while (node != 0) {
            const int order = compare_tokens(text, length, tokens_.text(node), tokens_.length(node));
            if (order == 0) return node;
            node = order < 0 ? left_[node] : right_[node];
        }
        return 0;
    }

    // Adds `node`, whose token must not be in the tree yet.
    void insert(Id node) noexcept { root_ = insert_below(root_, node); }

private:
    Id insert_below(Id subtree, Id node) noexcept {
        if (subtree == 0) {
            left_[node] = right_[node] = 0;
            level_[node] = 1;
            return node;
        }
        const int order =
            compare_tokens(tokens_.text(node), tokens_.length(node), tokens_.text(subtree), tokens_.length(subtree));
        if (order < 0) {
            left_[subtree] = insert_below(left_[subtree], node);
        } else {
            right_[subtree] = insert_below(right_[subtree], node);
        }
        return split(skew(subtree));
    }

    // A left child on the same level becomes the parent.
    Id skew(Id node) noexcept {
        const Id left = left_[node];
        if (left == 0 || level_[left] != level_[node]) return node;
        left_[node] = right_[left];
        right_[left] = node;
        return left;
    }

    // Two right children in a row on the same level: the middle one rises.
    Id split(Id node) noexcept {
        const Id right = right_[node];
        if (right == 0 || right_[right] == 0 || level_[right_[right]] != level_[node]) return node;
        right_[node] = left_[right];
        left_[right] = node;
        ++level_[right];
        return right;
    }

    Tokens tokens_{};
    Id* left_ = nullptr;
    Id* right_ = nullptr;
    uint8_t* level_ = nullptr;  // at most log2(n + 1) + 1, so a byte is plenty
    Id root_ = 0;
};

}  // namespace tallygrams::scorer::detail
