#include "palette_match.h"

#include <algorithm>
#include <new>

#include "refused_indices.h"

namespace bmp2grid {
namespace {

bool SameColour(const std::array<std::uint8_t, 4>& a, const std::array<std::uint8_t, 4>& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// Records the refused pixel at `column`, `y` in `match`.
void Refuse(const Picture& image, PaletteMatch& match, std::int64_t column, std::int64_t y, int index) {
    match.column = column;
    match.row = y;
    match.index = index;
    if (index >= image.colourCount) {
        match.error = PaletteMatchError::IndexPastTable;
    } else {
        const auto& colour = image.colours[static_cast<std::size_t>(index)];
        match.rgb = {colour[2], colour[1], colour[0]};
        match.error = PaletteMatchError::UnknownColour;
    }
}

}  // namespace

// PixelCheck's finder, which palette_match.h names without the scan's header.
class PixelCheck::Finder : public RefusedIndices {
public:
    using RefusedIndices::RefusedIndices;
};

PaletteMatch MatchColours(const Picture& image, const ColourTable& reference, int referenceSize) {
    PaletteMatch match;
    match.pictureColours = image.colourCount;
    // The reference's colours sorted, each with its index, so that the
    // lowest index of a colour is the first of its entries.
    const auto key = [](const std::array<std::uint8_t, 4>& colour) {
        return std::uint64_t{colour[2]} << 32 | std::uint64_t{colour[1]} << 24 | std::uint64_t{colour[0]} << 16;
    };
    std::array<std::uint64_t, 256> sorted{};
    const auto size = static_cast<std::size_t>(std::clamp(referenceSize, 0, 256));
    for (std::size_t j = 0; j < size; ++j) sorted[j] = key(reference[j]) | j;
    std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(size));
    for (int i = 0; i < 256; ++i) {
        const auto index = static_cast<std::size_t>(i);
        match.refused[index] = 1;
        if (i >= image.colourCount) continue;
        const auto& colour = image.colours[index];
        if (i < referenceSize && SameColour(reference[index], colour)) {
            match.values[index] = static_cast<std::uint8_t>(i);
            match.refused[index] = 0;
            continue;
        }
        const auto end = sorted.begin() + static_cast<std::ptrdiff_t>(size);
        const auto found = std::lower_bound(sorted.begin(), end, key(colour));
        if (found != end && (*found & ~std::uint64_t{0xFFFF}) == key(colour)) {
            match.values[index] = static_cast<std::uint8_t>(*found & 0xFFFF);
            match.refused[index] = 0;
        }
    }
    for (std::uint8_t r : match.refused) match.checkPixels = match.checkPixels || r != 0;
    return match;
}

void CheckPixels(const Picture& image, PaletteMatch& match, std::int64_t rowWindowBytes) {
    if (!match.checkPixels || image.width == 0) return;
    const RefusedIndices refused(match.refused);
    const std::unique_ptr<RowReader> reader = image.ReadRows(std::max<std::int64_t>(1, rowWindowBytes));
    if (reader == nullptr) {
        match.error = PaletteMatchError::NoMemory;
        return;
    }
    RowReader& rows = *reader;
    for (std::int64_t y = 0; y < image.rows; ++y) {
        // A row at once, or a row wider than the window a window at a time.
        const std::int64_t piece = rows.Wide() ? rows.WindowBytes() : image.width;
        for (std::int64_t first = 0; first < image.width; first += piece) {
            const std::int64_t count = std::min(piece, image.width - first);
            const std::uint8_t* pixels = rows.Wide() ? rows.Columns(y, first, count) : rows.Row(y);
            if (pixels == nullptr) {
                match.error = rows.Failure().error == LoadError::NoMemory ? PaletteMatchError::NoMemory
                                                                          : PaletteMatchError::InputFailed;
                return;
            }
            const std::int64_t at = refused.First(pixels, count);
            if (at < count) return Refuse(image, match, first + at, y, pixels[at]);
        }
    }
}

PaletteMatch MatchPalette(const Picture& image, const ColourTable& reference, int referenceSize,
                          std::int64_t rowWindowBytes) {
    PaletteMatch match = MatchColours(image, reference, referenceSize);
    CheckPixels(image, match, rowWindowBytes);
    return match;
}

PixelCheck::PixelCheck(const Picture& image, PaletteMatch& match)
    : image_(image), match_(match), finder_(std::make_unique<Finder>(match.refused)) {}

PixelCheck::~PixelCheck() = default;

bool PixelCheck::Check(const std::uint8_t* pixels, std::int64_t count, std::int64_t firstColumn, std::int64_t y) {
    if (!match_.checkPixels) return true;
    const std::int64_t at = finder_->First(pixels, count);
    if (at == count) return true;
    Refuse(image_, match_, firstColumn + at, y, pixels[at]);
    return false;
}

}  // namespace bmp2grid
