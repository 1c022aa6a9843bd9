#include "bitmap_writer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "bmp_format.h"

namespace bmp2grid {
namespace {

// The file header, the 40-byte info header and the colour table, then the rows.
constexpr std::size_t kInfo = bmp::kFileHeaderSize;
constexpr std::size_t kPalette = kInfo + bmp::kInfoHeaderSize;
constexpr std::size_t kOffBits = kPalette + bmp::kMaxPaletteEntries * bmp::kPaletteEntrySize;

}  // namespace

Palette DistinctPalette() {
    Palette palette{};
    for (int i = 0; i < 256; ++i) {
        const double hue = std::fmod(i * 0.618033988749895, 1.0) * 6.0;
        const double value = i % 2 == 0 ? 0.95 : 0.6;
        const double saturation = (i / 2) % 2 == 0 ? 0.85 : 0.55;
        const double chroma = value * saturation;
        const double second = chroma * (1.0 - std::fabs(std::fmod(hue, 2.0) - 1.0));
        double rgb[3] = {0, 0, 0};
        const int sector = static_cast<int>(hue) % 6;
        const int order[6][3] = {{0, 1, 2}, {1, 0, 2}, {2, 0, 1}, {2, 1, 0}, {1, 2, 0}, {0, 2, 1}};
        rgb[order[sector][0]] = chroma;
        rgb[order[sector][1]] = second;
        const double light = value - chroma;
        auto channel = [light](double c) { return static_cast<std::uint8_t>(std::lround((c + light) * 255.0)); };
        palette[static_cast<std::size_t>(i)] = {channel(rgb[2]), channel(rgb[1]), channel(rgb[0]), 0};
    }
    return palette;
}

bool BitmapCanHold(std::int64_t width, std::int64_t rows) {
    constexpr std::int64_t kMaxSide = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMaxFileSize = std::numeric_limits<std::uint32_t>::max();
    // With both sides below 2^31 the product stays below 2^63.
    return width <= kMaxSide && rows <= kMaxSide &&
           bmp::RowStride(width) * rows <= kMaxFileSize - static_cast<std::int64_t>(kOffBits);
}

bool WriteBitmap(OutputSink& output, const IndexedPicture& picture, const Palette& palette) {
    using namespace bmp;
    const std::int64_t stride = RowStride(picture.width);
    const std::int64_t imageSize = stride * picture.rows;

    std::vector<std::uint8_t> header(kOffBits, 0);
    std::uint8_t* h = header.data();
    h[kSignatureOffset] = 'B';
    h[kSignatureOffset + 1] = 'M';
    Put32(h + kFileSizeOffset, static_cast<std::uint32_t>(kOffBits + imageSize));
    Put32(h + kPixelOffsetOffset, static_cast<std::uint32_t>(kOffBits));
    Put32(h + kInfo + info::kSize, kInfoHeaderSize);
    Put32(h + kInfo + info::kWidth, static_cast<std::uint32_t>(picture.width));
    Put32(h + kInfo + info::kHeight, static_cast<std::uint32_t>(picture.rows));  // bottom-up
    Put16(h + kInfo + info::kPlanes, 1);
    Put16(h + kInfo + info::kBitCount, 8);
    Put32(h + kInfo + info::kCompression, kCompressionNone);
    Put32(h + kInfo + info::kImageSize, static_cast<std::uint32_t>(imageSize));
    Put32(h + kInfo + info::kXPixelsPerMetre, 2835);  // 72 dots per inch
    Put32(h + kInfo + info::kYPixelsPerMetre, 2835);
    Put32(h + kInfo + info::kColoursUsed, static_cast<std::uint32_t>(kMaxPaletteEntries));
    for (std::size_t i = 0; i < kMaxPaletteEntries; ++i)
        for (std::size_t c = 0; c < kPaletteEntrySize; ++c) h[kPalette + kPaletteEntrySize * i + c] = palette[i][c];
    if (!output.Write(reinterpret_cast<const char*>(header.data()), header.size())) return false;

    // Rows bottom first, padded, gathered into blocks of about 1 MiB.
    const auto rowBytes = static_cast<std::size_t>(stride);
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(rowBytes, 1));
    std::vector<char> block;
    for (std::int64_t y = picture.rows - 1; y >= 0; --y) {
        const std::uint8_t* row = picture.Row(y);
        block.insert(block.end(), row, row + picture.width);
        block.resize(block.size() + static_cast<std::size_t>(stride - picture.width), 0);
        if (block.size() >= rowsPerBlock * rowBytes || y == 0) {
            if (!output.Write(block.data(), block.size())) return false;
            block.clear();
        }
    }
    return true;
}

}  // namespace bmp2grid
