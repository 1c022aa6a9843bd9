// Following saves: after the first conversion, each input is converted
// again whenever it has been saved, and a new file the program takes that
// appears in a watched folder is converted too.
#pragma once

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
};

// Watches `plan.folders` for saves and converts again the jobs whose input
// was saved (and new files `rules` takes, into `outDir`, for the batch
// form; `outDir` empty for the single form). A file is converted once it
// has stopped changing. Returns false at once when a folder can't be
// watched (`unwatchable` names it); otherwise never returns: the watch
// ends when the process is interrupted.
bool WatchFiles(const BatchPlan& plan, const BatchOptions& options, const BatchRules& rules,
                             const ConvertJob& convert, WatchObserver& observer, std::string& unwatchable);

}  // namespace bmp2grid
