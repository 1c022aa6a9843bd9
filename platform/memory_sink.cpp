#include "memory_sink.h"

#include <algorithm>
#include <cstring>

namespace bmp2grid {

bool MemorySink::Write(const char* data, std::size_t size) {
    const std::size_t length = bytes_.size();
    if (size > SIZE_MAX - length || !Grow(length + size)) return false;
    if (size > 0) std::memcpy(bytes_.data() + length, data, size);
    bytes_.SetSize(length + size);
    if (progress_ && bytes_.size() >= reported_ + step_) {
        reported_ = bytes_.size();
        progress_(reported_);
    }
    return true;
}

bool MemorySink::SetSize(std::int64_t size) {
    if (size < 0 || static_cast<std::uint64_t>(size) > SIZE_MAX) return false;
    const auto wanted = static_cast<std::size_t>(size);
    if (!Grow(wanted)) return false;
    if (wanted > bytes_.size()) std::memset(bytes_.data() + bytes_.size(), 0, wanted - bytes_.size());
    bytes_.SetSize(wanted);
    return true;
}

bool MemorySink::WriteAt(std::int64_t offset, const char* data, std::size_t size) {
    const std::size_t length = bytes_.size();
    if (offset < 0 || static_cast<std::uint64_t>(offset) > length || size > length - static_cast<std::size_t>(offset))
        return false;
    if (size > 0) std::memcpy(bytes_.data() + offset, data, size);
    return true;
}

// Grows by half at least, as a file's blocks are found, so that writing in
// small pieces costs no more than writing in one.
bool MemorySink::Grow(std::size_t wanted) {
    if (wanted <= bytes_.capacity()) return true;
    const std::size_t capacity = bytes_.capacity();
    const std::size_t grown = std::max(wanted, capacity + capacity / 2 + 4096);
    return bytes_.Reserve(grown) || bytes_.Reserve(wanted);
}

}  // namespace bmp2grid
