#include "bitmap_writer.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace bmp2grid {
namespace {

void Put16(std::vector<char>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::vector<char>& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

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

bool WriteBitmap(OutputSink& output, const MapPicture& picture, const Palette& palette) {
    constexpr std::uint32_t kOffBits = 14 + 40 + 256 * 4;
    const std::int64_t stride = RowStride(picture.width);
    const std::int64_t imageSize = stride * picture.rows;

    std::vector<char> header(kOffBits, 0);
    header[0] = 'B';
    header[1] = 'M';
    Put32(header, 2, static_cast<std::uint32_t>(kOffBits + imageSize));
    Put32(header, 10, kOffBits);
    Put32(header, 14, 40);
    Put32(header, 18, static_cast<std::uint32_t>(picture.width));
    Put32(header, 22, static_cast<std::uint32_t>(picture.rows));
    Put16(header, 26, 1);     // planes
    Put16(header, 28, 8);     // bits per pixel
    Put32(header, 30, 0);     // no compression
    Put32(header, 34, static_cast<std::uint32_t>(imageSize));
    Put32(header, 38, 2835);  // 72 dots per inch
    Put32(header, 42, 2835);
    Put32(header, 46, 256);   // colours used
    for (std::size_t i = 0; i < 256; ++i)
        for (std::size_t c = 0; c < 4; ++c) header[54 + 4 * i + c] = static_cast<char>(palette[i][c]);
    if (!output.Write(header.data(), header.size())) return false;

    // Rows bottom first, padded, gathered into blocks of about 1 MiB.
    const auto rowBytes = static_cast<std::size_t>(stride);
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, (std::size_t{1} << 20) / std::max<std::size_t>(rowBytes, 1));
    std::vector<char> block;
    for (std::int64_t y = picture.rows - 1; y >= 0; --y) {
        const std::uint8_t* row = picture.pixels.data() + y * picture.width;
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
