// Reading bmp2grid's command line: [-1] [--palette PALETTE] [--layer NAME]
// [--watch] <infile> <outfile>, or the batch form [options] --out-dir DIR
// PICTURE... (see BatchOptions).
#pragma once

#include <optional>
#include <string>

#include "arguments.h"
#include "map_text_format.h"

namespace bmp2grid {

struct ConverterArgs {
    SampleMode mode = SampleMode::TwoToOne;
    // None: the pixels' indices are written as they are. An empty name is
    // a name, which can't be opened.
    std::optional<std::string> palettePath;
    // None: a Tiled map must have one tile layer. The tile layer to read.
    std::optional<std::string> layer;
    std::string inputPath;
    std::string outputPath;
};

using ParsedCommandLine = ParsedArguments<ConverterArgs>;

// The options come first, each at most once and in any order: "-1"
// (exactly those two characters) switches to the one-to-one mode,
// "--palette PALETTE" names the reference palette and "--layer NAME" a
// Tiled map's tile layer. The first argument that is not an option still
// to be given is the input path, so without "--palette" "-1" counts only as
// the first argument, and anything else there (or a second "-1") is the
// input path. "--layer" is an option only when its name and both paths
// follow it, so that "--layer a b" still converts a file named "--layer";
// so are the batch options (TakeBatchOption). Arguments after the output
// path are ignored. With "--out-dir DIR" every argument after the options
// is an input (at least one); "-r" and "-j" without it give the usage line. "-h" or "--help" as the
// only argument asks for the help (exit status 0), "--version" as the only
// argument for the version line; too few arguments give the usage line
// with exit status 1.
ParsedCommandLine ParseArguments(int argc, const char* const* argv);

}  // namespace bmp2grid
