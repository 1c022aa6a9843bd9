#include "palette_match.h"

#include <algorithm>
#include <new>

#include "picture_rows.h"

namespace bmp2grid {
namespace {

bool SameColour(const std::array<std::uint8_t, 4>& a, const std::array<std::uint8_t, 4>& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// Where in `pixels[0, count)` the first index marked in `refused` is, or
// `count` if none is. Eight pixels are looked up at a time, with no branch
// between them.
std::int64_t FirstRefused(const std::uint8_t* pixels, std::int64_t count,
                          const std::array<std::uint8_t, 256>& refused) {
    std::int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const std::uint8_t* p = pixels + i;
        if ((refused[p[0]] | refused[p[1]] | refused[p[2]] | refused[p[3]] | refused[p[4]] | refused[p[5]] |
             refused[p[6]] | refused[p[7]]) != 0)
            break;
    }
    for (; i < count; ++i)
        if (refused[pixels[i]] != 0) return i;
    return count;
}

// Finds the first refused pixel, top row first; false if none is. Sets
// `error` to InputFailed when the picture's file could not be read.
bool FindRefusedPixel(const BitmapImage& image, const std::array<std::uint8_t, 256>& refused,
                      std::int64_t windowBytes, PaletteMatch& match) {
    if (image.width == 0) return false;
    RowCursor rows(image, windowBytes);
    for (std::int64_t y = 0; y < image.rows; ++y) {
        // A row at once, or a row wider than the window a window at a time.
        const std::int64_t piece = rows.Wide() ? rows.WindowBytes() : image.width;
        for (std::int64_t first = 0; first < image.width; first += piece) {
            const std::int64_t count = std::min(piece, image.width - first);
            const std::uint8_t* pixels = rows.Wide() ? rows.Columns(y, first, count) : rows.Row(y);
            if (pixels == nullptr) {
                match.error = PaletteMatchError::InputFailed;
                return false;
            }
            const std::int64_t at = FirstRefused(pixels, count, refused);
            if (at < count) {
                match.column = first + at;
                match.row = y;
                match.index = pixels[at];
                return true;
            }
        }
    }
    return false;
}

}  // namespace

PaletteMatch MatchPalette(const BitmapImage& image, const ColourTable& reference, int referenceSize,
                          std::int64_t rowWindowBytes) {
    PaletteMatch match;
    match.pictureColours = image.paletteSize;
    std::array<std::uint8_t, 256> refused{};
    bool anyRefused = false;
    for (int i = 0; i < 256; ++i) {
        const auto index = static_cast<std::size_t>(i);
        refused[index] = 1;
        if (i >= image.paletteSize) continue;
        const auto& colour = image.palette[index];
        if (i < referenceSize && SameColour(reference[index], colour)) {
            match.values[index] = static_cast<std::uint8_t>(i);
            refused[index] = 0;
            continue;
        }
        for (int j = 0; j < referenceSize; ++j) {
            if (SameColour(reference[static_cast<std::size_t>(j)], colour)) {
                match.values[index] = static_cast<std::uint8_t>(j);
                refused[index] = 0;
                break;
            }
        }
    }
    for (std::uint8_t r : refused) anyRefused = anyRefused || r != 0;
    if (!anyRefused) return match;
    try {
        if (!FindRefusedPixel(image, refused, std::max<std::int64_t>(1, rowWindowBytes), match)) return match;
    } catch (const std::bad_alloc&) {
        match.error = PaletteMatchError::NoMemory;
        return match;
    }
    if (match.index >= image.paletteSize) {
        match.error = PaletteMatchError::IndexPastTable;
    } else {
        const auto& colour = image.palette[static_cast<std::size_t>(match.index)];
        match.rgb = {colour[2], colour[1], colour[0]};
        match.error = PaletteMatchError::UnknownColour;
    }
    return match;
}

}  // namespace bmp2grid
