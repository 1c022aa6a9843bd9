#include "watch.h"

namespace bmp2grid {

// Placeholder until the watch is written: every watch is refused, naming
// the first folder it would have followed.
bool WatchFiles(const BatchPlan& plan, const BatchOptions&, const BatchRules&, const ConvertJob&, WatchObserver&,
                std::string& unwatchable) {
    unwatchable = plan.folders.empty() ? std::string(".") : plan.folders.front();
    return false;
}

}  // namespace bmp2grid
