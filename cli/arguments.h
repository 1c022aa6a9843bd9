// What both programs' command lines share: the parse's outcome, -h and
// --version, and "-" for the standard streams.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bmp2grid {

// The options both programs take for many files and for watching:
// "--out-dir DIR" (the batch form: each input is converted into DIR),
// "-r" (folders among the inputs are walked into their subfolders),
// "-j N" (at most N conversions at once) and "--watch" (convert again on
// every save until interrupted).
struct BatchOptions {
    std::optional<std::string> outDir;  // none: the single form
    bool recursive = false;
    unsigned jobs = 0;  // 0: one per processor
    bool watch = false;
    std::vector<std::string> inputs;  // the batch form's inputs, as typed

    bool batch() const { return outDir.has_value(); }
};

// The most conversions "-j" runs at once.
constexpr unsigned kMaxJobs = 256;

// Takes the batch option at argv[i], if it is one not given yet
// (`options` says which have been) and enough arguments follow it: its
// value and then at least `pathsAfter` more. Returns how many arguments it
// took (0: not a batch option here), or -1 for a "-j" whose value is not a
// whole number from 1 to kMaxJobs.
int TakeBatchOption(int argc, const char* const* argv, int i, int pathsAfter, BatchOptions& options);

template <class Args>
struct ParsedArguments {
    enum class Action {
        Convert,      // `args` holds what to do
        ShowUsage,    // print the usage line and end with `exitStatus`
        ShowHelp,     // print the help and end with exit status 0
        ShowVersion,  // print the version line and end with exit status 0
    };
    Action action = Action::Convert;
    int exitStatus = 0;
    Args args;  // a single conversion's; the batch form's inputs replace its paths
    BatchOptions batch;
};

// "-h" or "--help" as the only argument.
bool AsksForHelp(int argc, const char* const* argv);
// "--version" as the only argument.
bool AsksForVersion(int argc, const char* const* argv);

// A request to print the usage line and end with `exitStatus`.
template <class Args>
ParsedArguments<Args> UsageRequest(int exitStatus) {
    ParsedArguments<Args> parsed;
    parsed.action = ParsedArguments<Args>::Action::ShowUsage;
    parsed.exitStatus = exitStatus;
    return parsed;
}

// A request to print the version line.
template <class Args>
ParsedArguments<Args> VersionRequest() {
    ParsedArguments<Args> parsed;
    parsed.action = ParsedArguments<Args>::Action::ShowVersion;
    return parsed;
}

// The path to open for a path argument as typed: "-" is the process's
// standard input (for an input) or standard output (for an output); any
// other argument is the path itself, so a file named "-" is reached as "./-".
// Messages name the argument as typed.
std::string InputPathToOpen(const std::string& argument);
std::string OutputPathToOpen(const std::string& argument);

}  // namespace bmp2grid
