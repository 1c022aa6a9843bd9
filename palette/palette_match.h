// Matching a picture's colours with a reference palette: each pixel's value
// becomes the index its colour has there.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "colour_table.h"
#include "palette.h"
#include "picture.h"
#include "row_check.h"

namespace bmp2grid {

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
