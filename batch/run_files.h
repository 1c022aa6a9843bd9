// The batch and watch forms of both programs: plans the files, converts
// them, prints what happened and, with --watch, keeps converting each file
// again as it is saved. This is program code: it prints.
#pragma once

#include "arguments.h"
#include "batch_plan.h"
#include "batch_run.h"

namespace bmp2grid {

// Runs the batch form (`options.batch()`), or the single form with
// --watch (`single` is then its one job). Returns the exit status: 0 when
// every file converted (a watch ends with 0 when interrupted), 1 otherwise.
int RunFiles(const BatchOptions& options, const BatchJob& single, const BatchRules& rules,
             const ConvertJob& convert);

}  // namespace bmp2grid
