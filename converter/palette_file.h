// Reading a palette from a file: the colour table of a picture that
// bmp2grid reads, a GIMP palette (.gpl) or a JASC palette (.pal). The one
// place both programs' `--palette` options read their palettes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "palette.h"

namespace bmp2grid {

// Which format a palette file is in. A name ending in ".gpl" or ".pal" (in
// any case) says GIMP or JASC; otherwise a first line of "GIMP Palette" or
// "JASC-PAL" (`start` holds the file's first bytes) does; anything else is a
// picture.
PaletteFormat PaletteFormatOf(std::string_view name, std::string_view start);

// Reads the palette in the file at `path`; `name` is the path as typed (for
// its ending). "-" is to be given as platform::StandardInputPath(), like any
// input. A regular file is read at offsets when it is a picture (only the
// headers and the colour table); a stream is read in sequence, and a picture
// from it is refused as soon as its headers fail a check.
PaletteResult ReadPalette(const std::string& path, std::string_view name);

// Reads GIMP or JASC palette text given whole; what ReadPalette does with a
// text palette file, for the tests and the fuzz targets. With `piece` above
// 0, the text is fed in pieces of that many bytes, as a stream may give it.
PaletteResult ParsePaletteText(PaletteFormat format, std::string_view text, std::size_t piece = 0);

}  // namespace bmp2grid
