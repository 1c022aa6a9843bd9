// Reading the converter's command line: [-1] <infile> <outfile>.
#pragma once

#include <string>

#include "map_writer.h"

namespace bmp2grid {

struct ConverterArgs {
    SampleMode mode = SampleMode::TwoToOne;
    std::string inputPath;
    std::string outputPath;
};

struct ParsedCommandLine {
    enum class Action {
        Convert,    // `args` holds what to do
        ShowUsage,  // print the usage line and end with `exitStatus`
    };
    Action action = Action::Convert;
    int exitStatus = 0;
    ConverterArgs args;
};

// "-1" switches to the one-to-one mode, and only as the first argument and
// only as exactly those two characters; anything else there is the input
// path. Arguments after the output path are ignored. "-h" or "--help" as the
// only argument asks for the usage line (exit status 0); too few arguments
// give the usage line with exit status 1.
ParsedCommandLine ParseArguments(int argc, const char* const* argv);

// "Usage: <program> [-1] <infile> <outfile>\n"
std::string UsageLine(const char* programName);

// "Size: WxH (should be W*H bytes, is N bytes)\n": the width, the row count,
// their product and the pixel block's length, all exact 64-bit figures.
std::string SizeReport(const BitmapImage& image);

}  // namespace bmp2grid
