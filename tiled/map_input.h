// The bytes of a Tiled map, handed out a block at a time in sequence: from
// memory, from a regular file at offsets, or from a stream whose first
// bytes were taken already to tell its format.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "byte_buffer.h"
#include "platform.h"

namespace bmp2grid::tiled {

class MapInput {
public:
    static constexpr std::size_t kBlockBytes = std::size_t{64} << 10;

    MapInput(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken);
    explicit MapInput(ByteBuffer memory);

    // False when memory for the block ran out.
    bool Prepare();
    // The next block (empty at the end or on a failure: Failed() says
    // which); valid until the next call.
    std::span<const std::uint8_t> Next();
    bool Failed() const { return failed_; }
    // Whether the input can be read again from its start (memory, or a
    // regular file), and doing so.
    bool CanRewind() const { return memory_.data() != nullptr || atOffsets_; }
    void Rewind() { next_ = 0; }
    // Goes on from `offset` of an input that CanRewind().
    void Seek(std::uint64_t offset) { next_ = std::min(offset, size_); }
    // Reads a stream to its end into memory, so that it can be read again;
    // false when memory ran out or the input failed (Failed()).
    bool HoldWhole(bool& noMemory);
    // Closes the file, once nothing more is to be read.
    void Release() { file_.reset(); }

private:
    std::shared_ptr<platform::InputFile> file_;
    ByteBuffer memory_;
    bool atOffsets_ = false;
    std::uint64_t size_ = 0;
    std::uint64_t next_ = 0;  // offset of the next block (file at offsets, memory)
    std::vector<std::uint8_t> taken_;
    ByteBuffer block_;
    bool failed_ = false;
};

}  // namespace bmp2grid::tiled
