// What both programs' command lines share: the parse's outcome, -h and
// --version, and "-" for the standard streams.
#pragma once

#include <string>

namespace bmp2grid {

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
    Args args;
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
