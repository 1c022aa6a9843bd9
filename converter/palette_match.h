// Matching a picture's colours with a reference palette: each pixel's value
// becomes the index its colour has there.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "colour_table.h"
#include "map_writer.h"
#include "picture.h"

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
    // The indices no pixel may have (1): past the picture's colour table, or
    // with a colour the reference lacks. When there is none, no pixel needs
    // checking.
    std::array<std::uint8_t, 256> refused{};
    bool checkPixels = false;

    bool ok() const { return error == PaletteMatchError::None; }
};

// Matches the picture's colours with the first `referenceSize` colours of
// `reference`, from the two palettes alone: no pixel is read. An index that
// has the same colour (red, green and blue; the reserved byte is not
// compared) in both palettes keeps its value; any other index gets the
// lowest index in the reference with exactly its colour; an index with
// neither, or past the picture's colour table, is refused.
PaletteMatch MatchColours(const Picture& image, const ColourTable& reference, int referenceSize);

// Looks at every pixel, top row first and left to right in each, and
// refuses the first whose index `match` refuses (when match.checkPixels).
// A picture kept in its file is read a window of `rowWindowBytes` at a time.
void CheckPixels(const Picture& image, PaletteMatch& match, std::int64_t rowWindowBytes = kRowWindowBytes);

// MatchColours, then CheckPixels.
PaletteMatch MatchPalette(const Picture& image, const ColourTable& reference, int referenceSize,
                          std::int64_t rowWindowBytes = kRowWindowBytes);

// The same check made row by row as the map is written (WriteMapRows with a
// RowCheck), so that the picture is read once: for an output that is put in
// place only once complete. A refusal is recorded in the PaletteMatch.
class PixelCheck final : public RowCheck {
public:
    PixelCheck(const Picture& image, PaletteMatch& match);
    ~PixelCheck() override;
    PixelCheck(const PixelCheck&) = delete;
    PixelCheck& operator=(const PixelCheck&) = delete;
    bool Check(const std::uint8_t* pixels, std::int64_t count, std::int64_t firstColumn, std::int64_t y) override;

private:
    class Finder;
    const Picture& image_;
    PaletteMatch& match_;
    std::unique_ptr<Finder> finder_;
};

}  // namespace bmp2grid
