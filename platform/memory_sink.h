// An output kept in memory: the web page's outputs, and the tests'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "byte_buffer.h"
#include "output_sink.h"

namespace bmp2grid {

// Collects everything written. Memory running out is a failed write (or
// SetSize), never an abort, as a full disk is for a file.
class MemorySink final : public SeekableSink {
public:
    // Told the number of bytes written so far.
    using Progress = std::function<void(std::size_t written)>;

    MemorySink() = default;
    // Calls `progress` from Write() each time at least `step` more bytes
    // have been written since it was last called.
    MemorySink(std::size_t step, Progress progress) : step_(step), progress_(std::move(progress)) {}

    bool Write(const char* data, std::size_t size) override;
    bool SetSize(std::int64_t size) override;
    bool WriteAt(std::int64_t offset, const char* data, std::size_t size) override;

    // The bytes written (null when there are none).
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    // The same bytes as text, for comparing and copying.
    std::string_view text() const { return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()}; }

private:
    bool Grow(std::size_t wanted);

    ByteBuffer bytes_;
    std::size_t step_ = 0;
    Progress progress_;
    std::size_t reported_ = 0;  // the bytes written when progress was last told
};

}  // namespace bmp2grid
