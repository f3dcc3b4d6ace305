// Sole ownership of one base structure of the C interfaces (ArrowSchema,
// ArrowArray or ArrowArrayStream) received from a producer.
//
// The structure is held by value. The interface lets a consumer move a
// structure by copying its bits and marking the source released (a null
// `release`) without calling anything; that is what taking one over and
// moving an Owned do. The release callback runs exactly once, when the last
// owner lets go, and never on the children: those belong to the producer.
#pragma once

#include "arrow/c_data_interface.hpp"

namespace tallygrams::arrow {

template <class CStruct>
class Owned {
public:
    // Holds nothing (a released structure).
    Owned() noexcept = default;

    // Takes over the structure at `source` and leaves `source` released, so
    // whoever holds it (a capsule, say) will not release it again. A released
    // source gives an empty Owned.
    static Owned take(CStruct* source) noexcept {
        Owned owned;
        owned.raw_ = *source;
        source->release = nullptr;
        return owned;
    }

    Owned(Owned&& other) noexcept : raw_(other.raw_) { other.raw_.release = nullptr; }
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            raw_ = other.raw_;
            other.raw_.release = nullptr;
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    // Releases the structure now, if one is held.
    void reset() noexcept {
        if (raw_.release != nullptr) {
            raw_.release(&raw_);
            // A correct producer has done this already; a careless one must
            // still not be released twice.
            raw_.release = nullptr;
        }
    }

    // Releases what is held and returns a zeroed structure for a producer
    // callback to fill (get_schema, get_next, or an export function).
    CStruct* fill() noexcept {
        reset();
        raw_ = CStruct{};
        return &raw_;
    }

    // Forgets, without releasing, whatever a failed producer callback may
    // have left in the structure: after an error its contents are undefined.
    void forget() noexcept { raw_ = CStruct{}; }

    // Hands the structure on to `destination`, leaving this one empty.
    void move_to(CStruct* destination) noexcept {
        *destination = raw_;
        raw_.release = nullptr;
    }

    bool released() const noexcept { return raw_.release == nullptr; }
    const CStruct& operator*() const noexcept { return raw_; }
    const CStruct* operator->() const noexcept { return &raw_; }
    CStruct* get() noexcept { return &raw_; }

private:
    CStruct raw_{};
};

using OwnedSchema = Owned<ArrowSchema>;
using OwnedArray = Owned<ArrowArray>;
using OwnedStream = Owned<ArrowArrayStream>;

}  // namespace tallygrams::arrow
