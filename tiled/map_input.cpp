#include "map_input.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace bmp2grid::tiled {

MapInput::MapInput(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken)
    : file_(std::move(file)), atOffsets_(taken.empty() && file_->IsRegularFile()),
      size_(atOffsets_ ? static_cast<std::uint64_t>(file_->Size()) : 0), taken_(taken.begin(), taken.end()) {}

MapInput::MapInput(ByteBuffer memory) : memory_(std::move(memory)), size_(memory_.size()) {}

bool MapInput::Prepare() { return memory_.data() != nullptr || block_.Reserve(kBlockBytes); }

std::span<const std::uint8_t> MapInput::Next() {
    if (memory_.data() != nullptr) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes, size_ - next_));
        const std::uint8_t* data = memory_.data() + next_;
        next_ += n;
        return {data, n};
    }
    if (file_ == nullptr) return {};
    if (!taken_.empty()) {
        const std::size_t n = taken_.size();
        std::memcpy(block_.data(), taken_.data(), n);
        taken_.clear();
        return {block_.data(), n};
    }
    if (atOffsets_) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockBytes, size_ - next_));
        if (n == 0) return {};
        if (!file_->ReadAt(static_cast<std::int64_t>(next_), block_.data(), n)) {
            failed_ = true;
            return {};
        }
        next_ += n;
        return {block_.data(), n};
    }
    const long long n = file_->Read(block_.data(), kBlockBytes);
    if (n < 0) failed_ = true;
    if (n <= 0) return {};
    return {block_.data(), static_cast<std::size_t>(n)};
}

bool MapInput::HoldWhole(bool& noMemory) {
    noMemory = false;
    if (CanRewind()) return true;
    ByteBuffer whole;
    std::size_t size = 0;
    for (;;) {
        const std::span<const std::uint8_t> block = Next();
        if (block.empty()) break;
        if (whole.capacity() - size < block.size()) {
            const std::size_t want = std::max(size + block.size(), whole.capacity() * 2);
            if (want < size || !whole.Reserve(want)) {
                noMemory = true;
                return false;
            }
        }
        std::memcpy(whole.data() + size, block.data(), block.size());
        size += block.size();
    }
    if (failed_) return false;
    if (!whole.Reserve(std::max<std::size_t>(size, 1))) {
        noMemory = true;
        return false;
    }
    whole.SetSize(size);
    memory_ = std::move(whole);
    size_ = size;
    next_ = 0;
    file_.reset();
    return true;
}

}  // namespace bmp2grid::tiled
