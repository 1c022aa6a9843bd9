// Reading a palette from a file: the colour table of a picture that
// bmp2grid reads, a GIMP palette (.gpl) or a JASC palette (.pal). The one
// place both programs' `--palette` options read their palettes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "colour_table.h"
#include "picture.h"

namespace bmp2grid {

// Why a palette file was refused: one value per refusal. The programs'
// command-line code turns each into its message.
enum class PaletteError {
    None,
    Picture,             // a picture that was refused: `picture` says why
    NotGimpPalette,      // a .gpl file whose first line is not "GIMP Palette"
    NotJascPalette,      // a .pal file whose first line is not "JASC-PAL"
    NotJascVersion,      // line 2 of a JASC palette is not "0100"
    NotColourCount,      // line 3 of a JASC palette is not a count of colours
    NotAColour,          // a colour line is not three numbers
    ValueOutOfRange,     // a colour value past 0..255
    FewerColours,        // a JASC palette ends before the colours it announced
    MoreColours,         // a JASC palette goes on after the colours it announced
    NoColours,           // a GIMP or JASC palette without a colour
};

// The formats a palette is read from.
enum class PaletteFormat { Picture, Gimp, Jasc };

struct PaletteResult {
    PaletteError error = PaletteError::None;
    PaletteFormat format = PaletteFormat::Picture;
    std::int64_t line = 0;  // the line a GIMP or JASC palette was refused at (1 is the first)
    LoadFailure picture;    // the refusal, for PaletteError::Picture
    ColourTable colours{};  // the first `size` entries are the palette; the rest are 0
    // The line each of the first `size` colours of a GIMP or JASC palette
    // was read from (1 is the first); 0 for a picture's colours.
    std::array<std::int64_t, 256> colourLines{};
    int size = 0;           // 0 to 256; colours past the 256th are read and checked, not kept

    bool ok() const { return error == PaletteError::None; }
};

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
