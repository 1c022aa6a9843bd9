// Matching a picture's colours with a reference palette: each pixel's value
// becomes the index its colour has there.
#pragma once

#include <array>
#include <cstdint>

#include "bitmap_loader.h"
#include "map_writer.h"
#include "palette_file.h"

namespace bmp2grid {

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

    bool ok() const { return error == PaletteMatchError::None; }
};

// Matches the picture's colours with the first `referenceSize` colours of
// `reference`. An index that has the same colour (red, green and blue; the
// reserved byte is not compared) in both palettes keeps its value; any other
// index gets the lowest index in the reference with exactly its colour. Only
// the indices that pixels use matter: every pixel is looked at, top row
// first and left to right in each, and the first whose index is past the
// picture's colour table or whose colour the reference lacks is refused.
// No pixel is read when every index of the picture has its colour in the
// reference. A picture kept in its file is read a window of
// `rowWindowBytes` at a time.
PaletteMatch MatchPalette(const BitmapImage& image, const ColourTable& reference, int referenceSize,
                          std::int64_t rowWindowBytes = kRowWindowBytes);

}  // namespace bmp2grid
