// Writing an uncompressed 8-bit BMP picture.
#pragma once

#include <array>
#include <cstdint>

#include "map_reader.h"
#include "output_sink.h"

namespace bmp2grid {

// 256 colour table entries: blue, green, red, reserved.
using Palette = std::array<std::array<std::uint8_t, 4>, 256>;

// A palette in which neighbouring indices have clearly different colours:
// hues step by the golden angle and lightness alternates, so the usual
// terrain indices 0, 1, 2, ... stand apart in any viewer.
Palette DistinctPalette();

// Writes `picture` as a bottom-up, uncompressed 8-bit BMP with a 40-byte
// info header and a 256-entry colour table. Returns false if the sink failed.
bool WriteBitmap(OutputSink& output, const MapPicture& picture, const Palette& palette);

}  // namespace bmp2grid
