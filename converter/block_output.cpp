#include "block_output.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace bmp2grid {
namespace {

// A block being filled, with the shape's slack past its end.
using Block = std::unique_ptr<char[]>;
// (Left uninitialised, as make_unique_for_overwrite would, which the C++
// library of Emscripten 3.1, the web page's build, does not have.)
Block NewBlock(BlockShape shape) {
    return Block(new char[shape.bytes + shape.slack]);
}

// Writes each block to the sink at once, on the filling thread.
class DirectChannel final : public BlockChannel {
public:
    explicit DirectChannel(OutputSink& sink) : sink_(sink) {}
    char* Pass(char* block, std::size_t used) override {
        return used == 0 || sink_.Write(block, used) ? block : nullptr;
    }

private:
    OutputSink& sink_;
};

// Lets a filler thread fill blocks while the calling thread writes the ones
// already filled, so making the text overlaps with the kernel's copying of
// the output. A small ring of blocks bounds the memory used.
class PipelineChannel final : public BlockChannel {
public:
    explicit PipelineChannel(BlockShape shape) {
        for (Block& block : blocks_) {
            block = NewBlock(shape);
            free_.push_back(block.get());
        }
    }

    // Filler side: its first block. Every block is free until the filler
    // passes one on, so there is always one to take.
    char* Take() {
        std::lock_guard lock(mutex_);
        char* block = free_.back();
        free_.pop_back();
        return block;
    }

    // Filler side.
    char* Pass(char* block, std::size_t used) override {
        std::unique_lock lock(mutex_);
        if (failed_) return nullptr;
        filled_.push_back({block, used});
        changed_.notify_all();
        changed_.wait(lock, [this] { return failed_ || !free_.empty(); });
        if (failed_) return nullptr;
        char* next = free_.back();
        free_.pop_back();
        return next;
    }

    // Filler side: no more blocks will come.
    void Finish() {
        std::lock_guard lock(mutex_);
        finished_ = true;
        changed_.notify_all();
    }

    // Writer side: writes blocks in order until the filler has finished.
    // Returns false, and releases the filler, if a write fails.
    bool Drain(OutputSink& sink) {
        for (;;) {
            Filled next;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return finished_ || !filled_.empty(); });
                if (filled_.empty()) return true;
                next = filled_.front();
                filled_.pop_front();
            }
            const bool ok = next.used == 0 || sink.Write(next.block, next.used);
            std::lock_guard lock(mutex_);
            if (!ok) failed_ = true;
            free_.push_back(next.block);
            changed_.notify_all();
            if (!ok) return false;
        }
    }

private:
    struct Filled {
        char* block = nullptr;
        std::size_t used = 0;
    };
    std::array<Block, 4> blocks_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char*> free_;
    std::deque<Filled> filled_;
    bool finished_ = false;
    bool failed_ = false;
};

}  // namespace

BlockOutcome FillBlocks(OutputSink& output, BlockShape shape, bool twoThreads, BlockFiller& filler) {
    if (twoThreads) {
        std::unique_ptr<PipelineChannel> channel;
        std::optional<std::thread> thread;
        try {
            channel = std::make_unique<PipelineChannel>(shape);
            thread.emplace([&channel, &filler, shape] {
                BlockWriter writer(*channel, channel->Take(), shape.bytes);
                filler.Fill(writer);
                channel->Finish();
            });
        } catch (const std::system_error&) {
            // No thread to be had: fill on this thread instead.
        } catch (const std::bad_alloc&) {
            return BlockOutcome::NoMemory;
        }
        if (thread) {
            const bool written = channel->Drain(output);
            thread->join();
            return written ? BlockOutcome::Passed : BlockOutcome::OutputFailed;
        }
    }
    DirectChannel channel(output);
    Block block;
    try {
        block = NewBlock(shape);
    } catch (const std::bad_alloc&) {
        return BlockOutcome::NoMemory;
    }
    BlockWriter writer(channel, block.get(), shape.bytes);
    filler.Fill(writer);
    return BlockOutcome::Passed;
}

SteppedReservation::SteppedReservation(OutputSink& sink, std::int64_t total) : sink_(sink), total_(total) { Step(); }

bool SteppedReservation::Write(const char* data, std::size_t size) {
    if (!sink_.Write(data, size)) return false;
    written_ += static_cast<std::int64_t>(size);
    if (reservedTo_ - written_ <= kMaxReservedAhead / 2) Step();
    return true;
}

void SteppedReservation::Step() {
    const std::int64_t ahead = std::min(kMaxReservedAhead, total_ - written_);
    if (ahead <= 0 || written_ + ahead <= reservedTo_) return;
    sink_.Reserve(ahead);
    reservedTo_ = written_ + ahead;
}

}  // namespace bmp2grid
