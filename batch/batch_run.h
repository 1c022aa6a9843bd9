// Running a batch's conversions in parallel, each file's lines kept
// together, and what the programs see of it as it goes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "batch_plan.h"
#include "message_lines.h"

namespace bmp2grid {

// One file's conversion, as a single run does it: its lines go to `lines`;
// true when its output was written. Called on several threads at once.
using ConvertJob = std::function<bool(const BatchJob& job, MessageLines& lines)>;

// A line a conversion printed, as MessageLines::Print() had it.
struct CollectedLine {
    LineKind kind;
    bool toError;
    std::string text;
};

// A conversion's lines, kept until it is over.
class CollectedLines final : public MessageLines {
public:
    void Print(std::string_view line, LineKind kind, bool toError) override;
    const std::vector<CollectedLine>& lines() const { return lines_; }

private:
    std::vector<CollectedLine> lines_;
};

struct BatchCounts {
    std::int64_t converted = 0;
    std::int64_t refused = 0;
};

// What a batch tells as it runs; called on one thread at a time.
class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    // A file's conversion is over.
    virtual void Finished(const BatchJob& job, bool ok, const CollectedLines& lines) = 0;
    // How far the batch has come, some time after it started and from then
    // on now and then while it runs.
    virtual void Progress(std::int64_t done, std::int64_t total, std::chrono::steady_clock::duration elapsed) = 0;
};

// Converts every job, at most `workers` at once (0: one per processor), and
// goes on past refusals. Returns how many converted and how many were
// refused.
BatchCounts RunBatch(const std::vector<BatchJob>& jobs, unsigned workers, const ConvertJob& convert,
                     BatchObserver& observer);

}  // namespace bmp2grid
