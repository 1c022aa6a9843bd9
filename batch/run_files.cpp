#include "run_files.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "diagnostics.h"
#include "folders.h"
#include "platform.h"
#include "watch.h"

namespace bmp2grid {

namespace {

// How long a batch runs before its progress is shown.
constexpr std::chrono::seconds kProgressAfter{1};

// Prints a line where a single run would: standard output unless `toError`.
void PrintLine(std::string_view line, bool toError) {
    if (toError) {
        platform::PrintToErrorConsole(line);
    } else {
        platform::PrintToConsole(line);
    }
}

// The batch's progress line on standard error when that is a terminal:
// drawn over itself with a carriage return (a Windows console may not take
// escape codes), and cleared with spaces before any other line is printed.
class ProgressLine {
public:
    ProgressLine() : shown_(platform::StandardErrorIsTerminal()) {}

    void Draw(std::int64_t done, std::int64_t total, std::chrono::steady_clock::duration elapsed) {
        if (!shown_ || elapsed < kProgressAfter) return;
        text_ = BatchProgressText(done, total, std::chrono::duration<double>(elapsed).count());
        Redraw();
    }
    // Clears the line, if one is drawn, for another line to be printed.
    void Clear() {
        if (width_ == 0) return;
        std::string blank(width_ + 2, ' ');
        blank.front() = '\r';
        blank.back() = '\r';
        platform::PrintToErrorConsole(blank);
        width_ = 0;
    }
    // Draws the last line again after Clear().
    void Redraw() {
        if (text_.empty()) return;
        std::string line(1, '\r');
        line += text_;
        if (width_ > text_.size()) line.append(width_ - text_.size(), ' ');
        width_ = std::max(width_, text_.size());
        platform::PrintToErrorConsole(line);
    }

private:
    const bool shown_;
    std::string text_;  // the last progress drawn
    std::size_t width_ = 0;  // the widest text on the line now
};

// Prints a file's lines as a batch does: Failure lines as the conversion
// printed them, Note lines after the input's name, Report lines not at all.
void PrintFileLines(const BatchJob& job, const CollectedLines& lines) {
    for (const CollectedLine& line : lines.lines()) {
        switch (line.kind) {
            case LineKind::Report:
                break;
            case LineKind::Note:
                PrintLine(FileNoteLine(job.input, line.text), line.toError);
                break;
            case LineKind::Failure:
                PrintLine(line.text, line.toError);
                break;
        }
    }
}

class BatchPrinter final : public BatchObserver {
public:
    void Finished(const BatchJob& job, bool, const CollectedLines& lines) override {
        bool any = false;
        for (const CollectedLine& line : lines.lines()) any = any || line.kind != LineKind::Report;
        if (!any) return;
        progress_.Clear();
        PrintFileLines(job, lines);
        progress_.Redraw();
    }
    void Progress(std::int64_t done, std::int64_t total, std::chrono::steady_clock::duration elapsed) override {
        progress_.Draw(done, total, elapsed);
    }
    void End() { progress_.Clear(); }

private:
    ProgressLine progress_;
};

// "HH:MM:SS", the local time now.
std::string ClockNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char clock[16];
    if (std::strftime(clock, sizeof clock, "%H:%M:%S", &local) == 0) return "??:??:??";
    return clock;
}

// A watch's lines: the time and the file converted, or the time and each
// refusal; notes after the input's name.
class WatchPrinter final : public WatchObserver {
public:
    void Converted(const BatchJob& job, bool ok, const CollectedLines& lines) override {
        const std::string clock = ClockNow();
        bool toError = false;
        for (const CollectedLine& line : lines.lines()) {
            toError = toError || line.toError;
            switch (line.kind) {
                case LineKind::Report:
                    break;
                case LineKind::Note:
                    PrintLine(WatchLine(clock, FileNoteLine(job.input, line.text)), line.toError);
                    break;
                case LineKind::Failure:
                    PrintLine(WatchLine(clock, line.text), line.toError);
                    break;
            }
        }
        if (ok) PrintLine(WatchConvertedLine(clock, job.input, job.output), toError);
    }
    void Removed(const BatchJob& job) override { PrintLine(WatchRemovedLine(ClockNow(), job.input, job.output), false); }
};

// The folders that the outputs go into, made where they are missing. One
// that can't be made is left to each conversion into it to name.
void MakeOutputFolders(const std::vector<BatchJob>& jobs) {
    std::set<std::string> made;
    for (const BatchJob& job : jobs) {
#ifdef _WIN32
        const std::size_t cut = job.output.find_last_of("/\\");
#else
        const std::size_t cut = job.output.find_last_of('/');
#endif
        if (cut == std::string::npos || cut == 0) continue;
        const std::string folder = job.output.substr(0, cut);
        if (made.insert(folder).second) platform::MakeFolders(folder);
    }
}

std::string PlanErrorMessage(const BatchPlan& plan) {
    switch (plan.error) {
        case PlanError::None:
            break;
        case PlanError::NoInputs:
            return NothingToConvertMessage(plan.path);
        case PlanError::SameOutput:
            return SameOutputMessage(plan.path, plan.otherPath, plan.output);
        case PlanError::OutDirIsAFile:
            return OutDirNotAFolderMessage(plan.path);
        case PlanError::WatchesStandardInput:
            return CantWatchStandardInputMessage();
    }
    return {};
}

}  // namespace

int RunFiles(const BatchOptions& options, const BatchJob& single, const BatchRules& rules,
             const ConvertJob& convert) {
    const BatchPlan plan = options.batch() ? PlanBatch(options, rules) : PlanSingleWatch(single);
    if (plan.error != PlanError::None) {
        platform::PrintToConsole(PlanErrorMessage(plan));
        return 1;
    }
    // From the first conversion on, Ctrl-C ends a watch as it is meant to.
    // The watch starts before the first conversion, so that a save made
    // during it is seen.
    WatchPrinter watchPrinter;
    std::optional<FileWatch> watch;
    if (options.watch) {
        platform::EndQuietlyOnInterrupt();
        watch.emplace(plan, options, rules, convert, watchPrinter);
        std::string unwatchable;
        if (!watch->Start(unwatchable)) {
            platform::PrintToConsole(CantWatchMessage(unwatchable));
            return 1;
        }
    }

    bool allConverted = true;
    if (options.batch()) {
        MakeOutputFolders(plan.jobs);
        BatchPrinter printer;
        const BatchCounts counts = RunBatch(plan.jobs, options.jobs, convert, printer);
        printer.End();
        if (!plan.jobs.empty()) platform::PrintToConsole(BatchSummaryLine(counts.converted, counts.refused));
        allConverted = counts.refused == 0;
    } else {
        CollectedLines lines;
        const bool ok = convert(single, lines);
        watchPrinter.Converted(single, ok, lines);
        allConverted = ok;
    }
    if (!watch) return allConverted ? 0 : 1;
    watch->Run();
}

}  // namespace bmp2grid
