// A picture held in memory as palette indices: the form grid2bmp's map
// reader gives and its BMP writer takes, and the fixtures' pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bmp2grid {

// One byte per pixel, top row first, no padding between rows.
struct IndexedPicture {
    std::int64_t width = 0;
    std::int64_t rows = 0;
    std::vector<std::uint8_t> pixels;  // width x rows

    // The pixels of row `y`, counted from the top (0 <= y < rows).
    const std::uint8_t* Row(std::int64_t y) const { return pixels.data() + y * width; }
    std::uint8_t at(std::int64_t x, std::int64_t y) const {
        return pixels[static_cast<std::size_t>(y * width + x)];
    }
};

}  // namespace bmp2grid
