// Reading a palette from a file: the colour table of a picture that
// bmp2grid reads, a GIMP palette (.gpl) or a JASC palette (.pal). The one
// place both programs' `--palette` options read their palettes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "byte_buffer.h"
#include "palette.h"

namespace bmp2grid {

// How many of a palette file's first bytes tell its format: room for the
// longest first line looked for after a byte-order mark, and its line end.
constexpr std::size_t kPaletteFormatBytes = 32;

// Which format a palette file is in. A name ending in ".gpl" or ".pal" (in
// any case) says GIMP or JASC; otherwise a first line of "GIMP Palette" or
// "JASC-PAL" does; anything else is a picture. `start` holds the file's
// first bytes: only the first kPaletteFormatBytes are looked at, so a first
// line cut there is judged by what it holds up to the cut.
PaletteFormat PaletteFormatOf(std::string_view name, std::string_view start);

// Reads the palette in a whole file held in memory; takes ownership of the
// bytes. `name` is the file's name as typed (for its ending). The result is
// the one ReadPalette gives for a file holding these bytes.
PaletteResult DecodePalette(ByteBuffer file, std::string_view name);

// Reads the palette in the file at `path`; `name` is the path as typed (for
// its ending). "-" is to be given as platform::StandardInputPath(), like any
// input. A text palette is read in blocks and never held; a picture in a
// regular file is read at offsets (only the headers and the colour table);
// a picture from a stream is read in sequence, as an input picture is, and
// refused as soon as its headers fail a check.
PaletteResult ReadPalette(const std::string& path, std::string_view name);

// Reads GIMP or JASC palette text given whole; what ReadPalette does with a
// text palette file, for the tests and the fuzz targets. With `piece` above
// 0, the text is fed in pieces of that many bytes, as a stream may give it.
PaletteResult ParsePaletteText(PaletteFormat format, std::string_view text, std::size_t piece = 0);

}  // namespace bmp2grid
