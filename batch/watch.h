// Following saves: after the first conversion, each input is converted
// again whenever it has been saved, and a new file the program takes that
// appears in a watched folder is converted too.
#pragma once

#include <memory>
#include <string>

#include "batch_plan.h"
#include "batch_run.h"

namespace bmp2grid {

// What a watch tells as it runs; called on one thread at a time.
class WatchObserver {
public:
    virtual ~WatchObserver() = default;
    // A file was converted again (or refused).
    virtual void Converted(const BatchJob& job, bool ok, const CollectedLines& lines) = 0;
    // A file that was converted has gone; its output is left as it is.
    virtual void Removed(const BatchJob& job) = 0;
};

// Watches the folders of a plan's inputs for saves and converts again the
// jobs whose input was saved, and, for the batch form, new files `rules`
// takes that appear in a folder given as an input (with -r, or below it),
// into the output folder. A file is converted once it has stopped
// changing: a moment after its writer closed it or renamed it into place,
// or once it has been left alone for a second.
class FileWatch {
public:
    FileWatch(const BatchPlan& plan, const BatchOptions& options, const BatchRules& rules, const ConvertJob& convert,
              WatchObserver& observer);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Starts watching, before the first conversion, so that no save made
    // during it is missed. False when a folder can't be watched
    // (`unwatchable` names it).
    bool Start(std::string& unwatchable);

    // Follows saves. Never returns: the watch ends when the process is
    // interrupted.
    [[noreturn]] void Run();

    class State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace bmp2grid
