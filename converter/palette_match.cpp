#include "palette_match.h"

#include <algorithm>
#include <cstring>
#include <new>


namespace bmp2grid {
namespace {

bool SameColour(const std::array<std::uint8_t, 4>& a, const std::array<std::uint8_t, 4>& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// Sixteen pixels at a time, in the compiler's vector type: SSE2 on x86,
// whatever the target has elsewhere, plain bytes where it has nothing.
using Lanes = std::uint8_t __attribute__((vector_size(16)));

// The indices a pixel may not have, and a quick way to find the first pixel
// with one. Where the refused indices, or the others, form a few runs
// (indices past a short colour table, a block of unused colours, the few
// colours a map uses), pixels are compared with the runs sixteen at a time;
// otherwise each pixel is looked up in a table.
class RefusedIndices {
public:
    explicit RefusedIndices(const std::array<std::uint8_t, 256>& refused) : table_(refused) {
        // The runs of refused indices and of allowed ones.
        RunList runs[2];
        for (int i = 0; i < 256;) {
            const std::uint8_t kind = refused[static_cast<std::size_t>(i)];
            int end = i;
            while (end < 256 && refused[static_cast<std::size_t>(end)] == kind) ++end;
            RunList& list = runs[kind != 0 ? 0 : 1];
            if (list.count < kMaxRuns) {
                list.first[static_cast<std::size_t>(list.count)] = static_cast<std::uint8_t>(i);
                list.span[static_cast<std::size_t>(list.count)] = static_cast<std::uint8_t>(end - 1 - i);
            }
            ++list.count;
            i = end;
        }
        allowed_ = runs[1].count < runs[0].count;
        runs_ = runs[allowed_ ? 1 : 0];
    }

    // Where in `pixels[0, count)` the first refused index is, or `count`.
    std::int64_t First(const std::uint8_t* pixels, std::int64_t count) const {
        switch (runs_.count) {
            case 1: return allowed_ ? Runs<1, true>(pixels, count) : Runs<1, false>(pixels, count);
            case 2: return allowed_ ? Runs<2, true>(pixels, count) : Runs<2, false>(pixels, count);
            case 3: return allowed_ ? Runs<3, true>(pixels, count) : Runs<3, false>(pixels, count);
            case 4: return allowed_ ? Runs<4, true>(pixels, count) : Runs<4, false>(pixels, count);
            default: return Table(pixels, 0, count);
        }
    }

private:
    static constexpr int kMaxRuns = 4;
    struct RunList {
        int count = 0;
        std::array<std::uint8_t, kMaxRuns> first{};
        std::array<std::uint8_t, kMaxRuns> span{};  // last - first
    };

    // Looks each pixel from `i` on up in the table, eight at a time with
    // no branch between them.
    std::int64_t Table(const std::uint8_t* pixels, std::int64_t i, std::int64_t count) const {
        const auto& t = table_;
        for (; i + 8 <= count; i += 8) {
            const std::uint8_t* p = pixels + i;
            if ((t[p[0]] | t[p[1]] | t[p[2]] | t[p[3]] | t[p[4]] | t[p[5]] | t[p[6]] | t[p[7]]) != 0) break;
        }
        for (; i < count; ++i)
            if (t[pixels[i]] != 0) return i;
        return count;
    }

    // Compares blocks of 64 pixels with the runs (of refused indices, or
    // with kAllowed of the allowed ones), 16 at a time, with no branch inside
    // a block; the block with a refused pixel is searched in the table.
    template <int kRuns, bool kAllowed>
    std::int64_t Runs(const std::uint8_t* pixels, std::int64_t count) const {
        constexpr std::int64_t kBlock = 64;
        constexpr std::int64_t kLanes = sizeof(Lanes);
        Lanes first[kRuns];
        Lanes span[kRuns];
        for (std::size_t r = 0; r < kRuns; ++r)
            for (std::int64_t k = 0; k < kLanes; ++k) {
                first[r][k] = runs_.first[r];
                span[r][k] = runs_.span[r];
            }
        std::int64_t i = 0;
        for (; i + kBlock <= count; i += kBlock) {
            Lanes hit = {};
            for (std::int64_t at = i; at < i + kBlock; at += kLanes) {
                Lanes v;
                std::memcpy(&v, pixels + at, sizeof v);
                Lanes in = {};
                for (std::size_t r = 0; r < kRuns; ++r) in |= static_cast<Lanes>(static_cast<Lanes>(v - first[r]) <= span[r]);
                hit |= kAllowed ? ~in : in;
            }
            std::uint64_t halves[2];
            std::memcpy(halves, &hit, sizeof halves);
            if ((halves[0] | halves[1]) != 0) break;
        }
        return Table(pixels, i, count);
    }

    std::array<std::uint8_t, 256> table_;
    RunList runs_;
    bool allowed_ = false;
};

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
    try {
        const std::unique_ptr<RowReader> reader = image.ReadRows(std::max<std::int64_t>(1, rowWindowBytes));
        RowReader& rows = *reader;
        for (std::int64_t y = 0; y < image.rows; ++y) {
            // A row at once, or a row wider than the window a window at a time.
            const std::int64_t piece = rows.Wide() ? rows.WindowBytes() : image.width;
            for (std::int64_t first = 0; first < image.width; first += piece) {
                const std::int64_t count = std::min(piece, image.width - first);
                const std::uint8_t* pixels = rows.Wide() ? rows.Columns(y, first, count) : rows.Row(y);
                if (pixels == nullptr) {
                    match.error = PaletteMatchError::InputFailed;
                    return;
                }
                const std::int64_t at = refused.First(pixels, count);
                if (at < count) return Refuse(image, match, first + at, y, pixels[at]);
            }
        }
    } catch (const std::bad_alloc&) {
        match.error = PaletteMatchError::NoMemory;
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
