#include "builtin_palette.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace bmp2grid {

ColourTable BuiltInPalette() {
    ColourTable palette{};
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

}  // namespace bmp2grid
