// Getting text made in blocks to an output: a writer that appends to the
// current block and passes it on when full, and the two ways a full block
// reaches the output (at once, on the thread that fills it, or through a
// ring of blocks that a second thread fills while the calling one writes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "output_sink.h"

namespace bmp2grid {

// Takes filled blocks from the writer and gets them to the output.
class BlockChannel {
public:
    virtual ~BlockChannel() = default;
    // Hands over a block holding `used` bytes; returns an empty block to go
    // on with, or nullptr once the output has failed.
    virtual char* Pass(char* block, std::size_t used) = 0;
};

// Appends text to the current block and passes it on when full.
class BlockWriter {
public:
    BlockWriter(BlockChannel& channel, char* first, std::size_t size)
        : channel_(channel), block_(first), size_(size) {}

    // Bytes that may still be appended before a flush is needed.
    std::size_t Room() const { return size_ - used_; }
    char* Cursor() { return block_ + used_; }
    void Advance(char* cursor) { used_ = static_cast<std::size_t>(cursor - block_); }

    // Passes the block on. Returns false if the output has failed.
    bool Flush() {
        block_ = channel_.Pass(block_, used_);
        used_ = 0;
        return block_ != nullptr;
    }

private:
    BlockChannel& channel_;
    char* block_;
    std::size_t size_;
    std::size_t used_ = 0;
};

// The blocks' size, and the bytes past each block's end that a writer may
// write over but that are never passed on (room to copy a piece of fixed
// size whole where less of it is kept).
struct BlockShape {
    std::size_t bytes = 0;
    std::size_t slack = 0;
};

// The work that fills the blocks.
class BlockFiller {
public:
    virtual ~BlockFiller() = default;
    // Called once, with the writer of the first block; ends by flushing the
    // last.
    virtual void Fill(BlockWriter& writer) = 0;
};

enum class BlockOutcome {
    Passed,        // every block the filler passed on was written, or the
                   // filler saw the output fail (its Flush returned false)
    OutputFailed,  // a write failed on the calling thread (two threads)
    NoMemory,      // memory for the blocks, the ring or the thread ran out
};

// Runs `filler` with a writer of blocks of `shape`, written to `output` in
// order, each whole. With `twoThreads`, the filler runs on a second thread
// filling a ring of four blocks while the calling thread writes the filled
// ones, so that making the text overlaps with the output's copying of it;
// where no thread can be had, or without `twoThreads`, it runs on the
// calling thread with one block, written each time it is full.
BlockOutcome FillBlocks(OutputSink& output, BlockShape shape, bool twoThreads, BlockFiller& filler);

// Passes every write on to `sink`, setting the space of the `total` bytes
// to come aside in steps: at most kMaxReservedAhead ahead of the bytes
// written, and the next step once half of it is used. For an output whose
// size its input only promises: a few bytes that promise a huge picture and
// then stall must never hold a disk.
class SteppedReservation final : public OutputSink {
public:
    static constexpr std::int64_t kMaxReservedAhead = std::int64_t{64} << 20;

    SteppedReservation(OutputSink& sink, std::int64_t total);
    bool Write(const char* data, std::size_t size) override;
    bool OverlapsWork() const override { return sink_.OverlapsWork(); }

private:
    void Step();

    OutputSink& sink_;
    std::int64_t total_;
    std::int64_t written_ = 0;
    std::int64_t reservedTo_ = 0;
};

}  // namespace bmp2grid
