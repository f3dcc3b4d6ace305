#include "arrow/float64_batch.hpp"

#include <algorithm>
#include <utility>

#include "common/internal_failure.hpp"

namespace tallygrams::arrow {

namespace {

// Where an empty column's values point: some consumers dislike a null data
// buffer even when it would hold no bytes.
alignas(64) constexpr unsigned char kNoValues[64] = {};

// The private data of every schema node this file exports. A node owns its
// name and, for the struct, its children's structures; each child owns its
// own node, so a child moved out of the struct outlives it correctly.
struct SchemaNode {
    std::string name;
    std::vector<ArrowSchema> children;
    std::vector<ArrowSchema*> child_pointers;
};

// The release callback of a structure exported here: its children first
// (those not moved out), then its node.
template <class Structure, class Node>
void release_exported(Structure* structure) {
    auto* node = static_cast<Node*>(structure->private_data);
    for (Structure& child : node->children) {
        if (child.release != nullptr) child.release(&child);
    }
    delete node;
    structure->release = nullptr;
}

// The same for arrays; a node also keeps alive the buffers its array points at.
struct ArrayNode {
    std::shared_ptr<const OwnedBuffer> values;
    std::shared_ptr<const ValidityBitmap> validity;
    const void* buffers[2] = {nullptr, nullptr};
    std::vector<ArrowArray> children;
    std::vector<ArrowArray*> child_pointers;
};


}  // namespace

Float64Column::Float64Column(std::string name, OwnedBuffer values, size_t length,
                             std::shared_ptr<const ValidityBitmap> validity)
    : name_(std::move(name)),
      values_(std::make_shared<const OwnedBuffer>(std::move(values))),
      length_(length),
      validity_(std::move(validity)) {
    ensure(length == 0 || values_->data() != nullptr, "a non-empty column without values");
    ensure(validity_ == nullptr || validity_->length() == length, "a validity bitmap of another length");
}

void Float64Batch::add_column(Float64Column column) {
    ensure(column.length() == length_, "a column of another length than its batch");
    ensure(std::none_of(columns_.begin(), columns_.end(),
                        [&](const Float64Column& other) { return other.name() == column.name(); }),
           "two columns of one batch with the same name");
    columns_.push_back(std::move(column));
}

bool Float64Batch::same_columns_as(const Float64Batch& other) const noexcept {
    return std::equal(columns_.begin(), columns_.end(), other.columns_.begin(), other.columns_.end(),
                      [](const Float64Column& a, const Float64Column& b) { return a.name() == b.name(); });
}

std::vector<std::string> Float64Batch::column_names() const {
    std::vector<std::string> names;
    names.reserve(columns_.size());
    for (const Float64Column& column : columns_) names.push_back(column.name());
    return names;
}

void Float64Batch::export_schema(ArrowSchema* out) const { export_float64_schema(column_names(), out); }

void export_float64_schema(const std::vector<std::string>& column_names, ArrowSchema* out) {
    const size_t n = column_names.size();
    // Everything that can throw comes first; the structures are filled after.
    auto root = std::make_unique<SchemaNode>();
    root->children.resize(n);
    root->child_pointers.resize(n);
    std::vector<std::unique_ptr<SchemaNode>> nodes(n);
    for (size_t i = 0; i < n; ++i) {
        nodes[i] = std::make_unique<SchemaNode>();
        nodes[i]->name = column_names[i];
    }
    for (size_t i = 0; i < n; ++i) {
        ArrowSchema& child = root->children[i];
        child = ArrowSchema{};
        child.format = "g";
        child.name = nodes[i]->name.c_str();
        child.flags = ARROW_FLAG_NULLABLE;
        child.release = &release_exported<ArrowSchema, SchemaNode>;
        child.private_data = nodes[i].release();
        root->child_pointers[i] = &child;
    }
    *out = ArrowSchema{};
    out->format = "+s";
    out->name = "";
    out->n_children = static_cast<int64_t>(n);
    out->children = n == 0 ? nullptr : root->child_pointers.data();
    out->release = &release_exported<ArrowSchema, SchemaNode>;
    out->private_data = root.release();
}

void Float64Batch::export_array(ArrowArray* out) const {
    const size_t n = columns_.size();
    auto root = std::make_unique<ArrayNode>();
    root->children.resize(n);
    root->child_pointers.resize(n);
    std::vector<std::unique_ptr<ArrayNode>> nodes(n);
    for (size_t i = 0; i < n; ++i) {
        const Float64Column& column = columns_[i];
        auto node = std::make_unique<ArrayNode>();
        node->values = column.values_;
        if (column.null_count() > 0) node->validity = column.validity_;
        node->buffers[0] = node->validity ? node->validity->bits() : nullptr;
        node->buffers[1] = column.length() == 0 ? static_cast<const void*>(kNoValues) : column.values();
        nodes[i] = std::move(node);
    }
    for (size_t i = 0; i < n; ++i) {
        ArrowArray& child = root->children[i];
        child = ArrowArray{};
        child.length = static_cast<int64_t>(length_);
        child.null_count = static_cast<int64_t>(columns_[i].null_count());
        child.n_buffers = 2;
        child.buffers = nodes[i]->buffers;
        child.release = &release_exported<ArrowArray, ArrayNode>;
        child.private_data = nodes[i].release();
        root->child_pointers[i] = &child;
    }
    *out = ArrowArray{};
    out->length = static_cast<int64_t>(length_);
    out->n_buffers = 1;
    out->buffers = root->buffers;
    out->n_children = static_cast<int64_t>(n);
    out->children = n == 0 ? nullptr : root->child_pointers.data();
    out->release = &release_exported<ArrowArray, ArrayNode>;
    out->private_data = root.release();
}

}  // namespace tallygrams::arrow
