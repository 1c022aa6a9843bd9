// Reading grid2bmp's command line:
// [-1] [--palette PICTURE] [--format png|bmp] <maptext> <outfile>.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "command_line.h"
#include "map_reader.h"
#include "map_writer.h"

namespace bmp2grid {

// The kind of picture grid2bmp writes.
enum class PictureFormat { Bmp, Png };

struct GridArgs {
    SampleMode mode = SampleMode::TwoToOne;
    std::optional<std::string> palettePath;  // none: the built-in palette
    PictureFormat format = PictureFormat::Bmp;
    std::string mapPath;
    std::string outputPath;
};

// The options "-1", "--palette PICTURE" and "--format png|bmp" come first, in
// any order, then exactly two paths. Without --format the picture is a PNG
// when the output's name ends in ".png" (in any case), else a BMP. "-h" or "--help" as the only argument asks for the usage
// line (exit status 0), "--version" as the only argument the version line;
// anything else that doesn't fit gives the usage line with exit status 1.
// Every path may be "-" (see InputPathToOpen and OutputPathToOpen).
ParsedArguments<GridArgs> ParseGridArguments(int argc, const char* const* argv);

// "Usage: <program> [-1] [--palette PICTURE] [--format png|bmp] <maptext> <outfile>\n"
std::string GridUsageLine(const char* programName);

// The short lower-case reason for refused map text ("wrong cell count", ...);
// empty for None.
std::string_view MapTextErrorReason(MapTextError error);

// "Can't convert <path>: line N: <reason>\n" for map text that was refused.
std::string MapTextFailureMessage(const MapTextSummary& result, const std::string& path);

// "Size: WxH\n": the picture's size, for map text that was read.
std::string MapSizeReport(const MapTextSummary& result);

// "Note: N cells carried values other than 0 after the first; ...\n" when
// cells of the map text that was read had such values; empty when none had.
std::string ExtraValuesNote(const MapTextSummary& result);

}  // namespace bmp2grid
