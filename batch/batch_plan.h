// Which files a batch converts and where each one's output goes: the
// inputs as typed, folders among them opened into the files a program
// takes, every output named DIR/<name>.<extension>.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "arguments.h"

namespace bmp2grid {

// One file of a batch: its input and the output it is converted into, as
// paths to open. `input` is named in messages as it is.
struct BatchJob {
    std::string input;
    std::string output;
};

// What a program takes from a folder among its inputs, and what it writes.
struct BatchRules {
    // The outputs' extension, without the dot ("txt", "bmp", ...).
    std::string outputExtension;
    // Whether a file found in a folder is one of the program's inputs
    // (bmp2grid looks at its content, grid2bmp at its name). Files named as
    // inputs are converted whatever they are.
    std::function<bool(const std::string& path)> takes;
};

enum class PlanError {
    None,
    NoInputs,    // the folders given hold no file the program takes
    SameOutput,  // `path` and `otherPath` would both write `output`
    OutDirIsAFile,  // DIR (`path`) exists and is not a folder, or is empty
    WatchesStandardInput,  // --watch with "-" (standard input) among the inputs
};

struct BatchPlan {
    PlanError error = PlanError::None;
    std::string path, otherPath, output;  // what an error names
    std::vector<BatchJob> jobs;  // in the order the inputs were given, a folder's files sorted by name
    // Every folder whose saves a watch follows: each file input's folder,
    // each folder input and (with -r) every folder below it.
    std::vector<std::string> folders;
};

// Plans the batch form: `options.outDir` and `options.inputs`. A missing
// input or one that can't be opened stays a job (its conversion names it,
// and a watch converts it once it appears). The same input named twice is
// one job. Nothing is written.
BatchPlan PlanBatch(const BatchOptions& options, const BatchRules& rules);

// Plans the single form with --watch: its one job, the input's folder
// watched. Standard input can't be watched.
BatchPlan PlanSingleWatch(const BatchJob& single);

// Entries of a folder that are never taken as inputs: hidden ones (a name
// starting with a dot: editors' swap and lock files among them), editors'
// backups (a name ending in "~") and the programs' own temporary files.
bool Skipped(const std::string& name);

// The folder holding the file `path`, as a path to open: "." for a bare
// name, "/" for a file in the root, without separators at its end.
std::string FolderOf(const std::string& path);

// The output path for `input` in DIR for the batch form: DIR, a separator,
// the folders `relative` holds (possibly none) and the input's file name
// without its last extension, then "." and `extension`.
std::string BatchOutputPath(const std::string& outDir, const std::string& relative, const std::string& input,
                            const std::string& extension);

}  // namespace bmp2grid
