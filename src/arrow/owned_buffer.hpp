// A block of memory handed to an Arrow export together with the way to free
// it, so that column buffers made elsewhere (the batch runner's result
// columns, say) are exported as they are, without a copy.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace tallygrams::arrow {

class OwnedBuffer {
public:
    OwnedBuffer() noexcept = default;

    // Takes over an array owned by a unique_ptr whose deleter holds no state
    // (std::default_delete, or a functor calling std::free).
    template <class T, class Deleter>
    explicit OwnedBuffer(std::unique_ptr<T[], Deleter> memory) noexcept : data_(memory.release()) {
        static_assert(std::is_empty_v<Deleter> && std::is_default_constructible_v<Deleter>,
                      "the deleter must be stateless");
        free_ = [](void* data) { Deleter{}(static_cast<T*>(data)); };
    }

    // `bytes` zeroed bytes from calloc (none for 0).
    static OwnedBuffer zeroed(size_t bytes) {
        OwnedBuffer buffer;
        if (bytes == 0) return buffer;
        buffer.data_ = std::calloc(bytes, 1);
        if (buffer.data_ == nullptr) throw std::bad_alloc();
        buffer.free_ = [](void* data) { std::free(data); };
        return buffer;
    }

    OwnedBuffer(OwnedBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), free_(std::exchange(other.free_, nullptr)) {}
    OwnedBuffer& operator=(OwnedBuffer&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
            free_ = std::exchange(other.free_, nullptr);
        }
        return *this;
    }
    OwnedBuffer(const OwnedBuffer&) = delete;
    OwnedBuffer& operator=(const OwnedBuffer&) = delete;
    ~OwnedBuffer() { reset(); }

    void* data() noexcept { return data_; }
    const void* data() const noexcept { return data_; }

private:
    void reset() noexcept {
        if (data_ != nullptr) free_(data_);
        data_ = nullptr;
        free_ = nullptr;
    }

    void* data_ = nullptr;
    void (*free_)(void*) = nullptr;
};

}  // namespace tallygrams::arrow
