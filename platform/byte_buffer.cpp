#include "byte_buffer.h"

namespace bmp2grid {

bool ByteBuffer::Reserve(std::size_t capacity) {
    if (capacity <= capacity_) return true;
    void* grown = std::realloc(data_.get(), capacity);
    if (grown == nullptr) return false;
    data_.release();
    data_.reset(static_cast<std::uint8_t*>(grown));
    capacity_ = capacity;
    return true;
}

bool ByteBuffer::AllocateZeroed(std::size_t size) {
    // calloc(0) may return null; keep one byte so data() is always usable.
    void* block = std::calloc(size == 0 ? 1 : size, 1);
    if (block == nullptr) return false;
    data_.reset(static_cast<std::uint8_t*>(block));
    size_ = size;
    capacity_ = size;
    return true;
}

}  // namespace bmp2grid
