// Reading bmp2grid's command line: [-1] [--palette PALETTE] <infile>
// <outfile>; the messages about loaded pictures and palettes that both
// programs print.
#pragma once

#include <optional>
#include <string>

#include "map_writer.h"
#include "palette_file.h"
#include "palette_match.h"

namespace bmp2grid {

struct ConverterArgs {
    SampleMode mode = SampleMode::TwoToOne;
    // None: the pixels' indices are written as they are. An empty name is
    // a name, which can't be opened.
    std::optional<std::string> palettePath;
    std::string inputPath;
    std::string outputPath;
};

template <class Args>
struct ParsedArguments {
    enum class Action {
        Convert,    // `args` holds what to do
        ShowUsage,  // print the usage line and end with `exitStatus`
        ShowHelp,   // print the usage line and a line for each option, and end with exit status 0
        ShowVersion,  // print the version line and end with exit status 0
    };
    Action action = Action::Convert;
    int exitStatus = 0;
    Args args;
};
using ParsedCommandLine = ParsedArguments<ConverterArgs>;

// Pieces both programs' command lines are made of.
// "-h" or "--help" as the only argument.
bool AsksForHelp(int argc, const char* const* argv);
// A request to print the usage line and end with `exitStatus`.
template <class Args>
ParsedArguments<Args> UsageRequest(int exitStatus) {
    ParsedArguments<Args> parsed;
    parsed.action = ParsedArguments<Args>::Action::ShowUsage;
    parsed.exitStatus = exitStatus;
    return parsed;
}
// "--version" as the only argument.
bool AsksForVersion(int argc, const char* const* argv);
// A request to print the version line.
template <class Args>
ParsedArguments<Args> VersionRequest() {
    ParsedArguments<Args> parsed;
    parsed.action = ParsedArguments<Args>::Action::ShowVersion;
    return parsed;
}
// "<program> <version>\n", the version being the project's (CMake's
// project(... VERSION ...)), e.g. "bmp2grid 1.1.0\n".
std::string VersionLine(const char* program);

// The path to open for a path argument as typed: "-" is the process's
// standard input (for an input) or standard output (for an output); any
// other argument is the path itself, so a file named "-" is reached as "./-".
// Messages name the argument as typed.
std::string InputPathToOpen(const std::string& argument);
std::string OutputPathToOpen(const std::string& argument);

// argv[0], or `fallback` when the program was started without it.
std::string ProgramName(const char* programName, const char* fallback);

// The options come first, each at most once and in either order: "-1"
// (exactly those two characters) switches to the one-to-one mode, and
// "--palette PALETTE" names the reference palette. The first argument that
// is not an option still to be given is the input path, so without
// "--palette" "-1" counts only as the first argument, and anything else
// there (or a second "-1") is the input path. Arguments after the output
// path are ignored. "-h" or "--help" as the only argument asks for the help
// (exit status 0), "--version" as the only argument for the version line;
// too few arguments give the usage line with exit status 1.
ParsedCommandLine ParseArguments(int argc, const char* const* argv);

// "Usage: <program> [-1] <infile> <outfile>\n"
std::string UsageLine(const char* programName);

// The usage line, then one line for each option.
std::string HelpText(const char* programName);

// The short lower-case reason a refused picture's "Can't convert" message
// gives ("pixel data is truncated", "unsupported compression 3", ...); empty
// for the refusals whose messages say it all (CantOpen, ReadFailed,
// NotEightBit) and for None.
std::string LoadErrorReason(const LoadFailure& result);

// The one-line message for a picture that could not be loaded from `path`.
std::string LoadFailureMessage(const LoadFailure& result, const std::string& path);

// The message for a picture whose rows could not all be had while its map
// was being written: "Can't convert <path>: pixel data could not be read"
// when its file failed, or the reason its row source (a PNG's) gives.
std::string RowsFailureMessage(const LoadFailure& failure, const std::string& path);

// The one-line message for a palette file that could not be read from
// `path`: a refused picture's message, or "Can't convert <path>: line N:
// <reason>\n" for a GIMP or JASC palette.
std::string PaletteFailureMessage(const PaletteResult& result, const std::string& path);

// The one-line message for a picture `inputPath` whose pixels could not be
// matched with the palette `palettePath`.
std::string PaletteMatchFailureMessage(const PaletteMatch& match, const std::string& inputPath,
                                       const std::string& palettePath);

// "Size: WxH (should be W*H bytes, is N bytes)\n": the width, the row count,
// their product and the pixel block's length (for a PNG, the bytes its rows
// decode to at its bit depth), all exact 64-bit figures.
std::string SizeReport(const Picture& image);

}  // namespace bmp2grid
