// A growable block of bytes backed by malloc/calloc.
//
// The converter holds whole pictures in memory, so it needs two things that
// std::vector does not give: allocation failure reported as a result instead
// of an exception, and a zero-filled block that costs nothing up front (calloc
// hands out untouched zero pages, so a large, mostly empty decoded picture only
// uses the memory it actually writes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace bmp2grid {

class ByteBuffer {
public:
    ByteBuffer() = default;

    // Grows the capacity to at least `capacity` bytes, keeping the contents.
    // Returns false (and leaves the buffer as it was) when memory runs out.
    bool Reserve(std::size_t capacity);

    // Replaces the contents with `size` zero bytes. Returns false when memory
    // runs out.
    bool AllocateZeroed(std::size_t size);

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }

    // Sets the number of valid bytes; must not exceed the capacity.
    void SetSize(std::size_t size) { size_ = size; }

private:
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, FreeDeleter> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace bmp2grid
