// Reading grid2bmp's command line:
// [-1] [--palette PALETTE] [--format png|bmp|tmx|tmj] <maptext> <outfile>.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "arguments.h"
#include "map_text_format.h"

namespace bmp2grid {

// The kind of picture grid2bmp writes: a BMP, a PNG, or a Tiled map (TMX,
// or Tiled's JSON) with its tile sheet beside it.
enum class PictureFormat { Bmp, Png, Tmx, Tmj };

struct GridArgs {
    SampleMode mode = SampleMode::TwoToOne;
    std::optional<std::string> palettePath;  // none: the built-in palette
    PictureFormat format = PictureFormat::Bmp;
    std::string mapPath;
    std::string outputPath;
};

// The options "-1", "--palette PALETTE", "--format png|bmp|tmx|tmj" and the
// batch options (TakeBatchOption) come first, in any order, then exactly
// two paths; with "--out-dir DIR", one or more inputs, written as BMPs
// unless --format says otherwise. "-r" and "-j" need "--out-dir". Without --format the output's
// name decides: a PNG when it ends in ".png", a TMX for ".tmx", a TMJ for
// ".tmj" (in any case), else a BMP. "-h" or "--help" as the only argument asks for the help
// (exit status 0), "--version" as the only argument the version line;
// anything else that doesn't fit gives the usage line with exit status 1.
// Every path may be "-" (see InputPathToOpen and OutputPathToOpen).
ParsedArguments<GridArgs> ParseGridArguments(int argc, const char* const* argv);

// The extension a batch gives each output of `format`: "bmp", "png", "tmx"
// or "tmj".
const char* ExtensionOf(PictureFormat format);

// Whether a file found in a folder of a batch's inputs is map text: its
// name ends in ".txt", in any case.
bool IsMapTextName(const std::string& path);

}  // namespace bmp2grid
