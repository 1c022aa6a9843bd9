// What reading a palette and matching a picture's colours with one give:
// the results both programs, the page and the diagnostics module share.
#pragma once

#include <array>
#include <cstdint>

#include "colour_table.h"
#include "picture.h"

namespace bmp2grid {

// Why a palette file was refused: one value per refusal. The diagnostics
// module turns each into its words.
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

// The value each palette index is written as: a pixel of index i gives a
// cell of `values[i]`.
using IndexMap = std::array<std::uint8_t, 256>;

enum class PaletteMatchError {
    None,
    UnknownColour,   // a pixel's colour is not in the reference palette
    IndexPastTable,  // a pixel's index is past the picture's colour table
    InputFailed,     // the picture's file could not be read (it may have shrunk)
    NoMemory,        // memory for the row window ran out
};

struct PaletteMatch {
    PaletteMatchError error = PaletteMatchError::None;
    // The first pixel refused, counted from the top left (row 0 at the top),
    // its index, and that index's colour as red, green, blue.
    std::int64_t column = 0;
    std::int64_t row = 0;
    int index = 0;
    std::array<std::uint8_t, 3> rgb{};
    int pictureColours = 0;  // the picture's colour table entries
    // The value each index is written as, when the picture is sound.
    IndexMap values{};
    // The indices no pixel may have (1): past the picture's colour table, or
    // with a colour the reference lacks. When there is none, no pixel needs
    // checking.
    std::array<std::uint8_t, 256> refused{};
    bool checkPixels = false;

    bool ok() const { return error == PaletteMatchError::None; }
};

}  // namespace bmp2grid
