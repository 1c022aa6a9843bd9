#include "batch_run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "diagnostics.h"

namespace bmp2grid {

namespace {

// How often the observer hears how far the batch has come.
constexpr std::chrono::milliseconds kProgressInterval{100};

}  // namespace

void CollectedLines::Print(std::string_view line, LineKind kind, bool toError) {
    lines_.push_back({kind, toError, std::string(line)});
}

BatchCounts RunBatch(const std::vector<BatchJob>& jobs, unsigned workers, const ConvertJob& convert,
                     BatchObserver& observer) {
    BatchCounts counts;
    const std::size_t total = jobs.size();
    if (total == 0) return counts;
    std::size_t threads = workers != 0 ? workers : std::thread::hardware_concurrency();
    threads = std::clamp<std::size_t>(threads, 1, total);

    const auto start = std::chrono::steady_clock::now();
    std::atomic<std::size_t> next{0};
    std::mutex mutex;  // held while the observer is called, and over `counts` and `finished`
    std::condition_variable allFinished;
    std::size_t finished = 0;

    // Each worker takes the next job until none is left. Nothing of a job
    // is kept once the observer has had it: only the counts.
    auto work = [&] {
        for (std::size_t i = next++; i < total; i = next++) {
            const BatchJob& job = jobs[i];
            CollectedLines lines;
            CollectedLines noMemory;
            bool ok = false;
            bool outOfMemory = false;
            try {
                ok = convert(job, lines);
            } catch (const std::bad_alloc&) {
                noMemory.Print(NoMemoryMessage(job.input), LineKind::Failure, false);
                outOfMemory = true;
            }
            const std::lock_guard<std::mutex> lock(mutex);
            observer.Finished(job, ok, outOfMemory ? noMemory : lines);
            ++(ok ? counts.converted : counts.refused);
            if (++finished == total) allFinished.notify_one();
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(work);

    // This thread tells the progress now and then until every job is over.
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!allFinished.wait_for(lock, kProgressInterval, [&] { return finished == total; })) {
            observer.Progress(static_cast<std::int64_t>(finished), static_cast<std::int64_t>(total),
                              std::chrono::steady_clock::now() - start);
        }
    }
    for (std::thread& thread : pool) thread.join();
    return counts;
}

}  // namespace bmp2grid
