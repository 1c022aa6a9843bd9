// Writing an uncompressed 8-bit BMP picture.
#pragma once

#include <array>
#include <cstdint>

#include "indexed_picture.h"
#include "output_sink.h"

namespace bmp2grid {

// 256 colour table entries: blue, green, red, reserved.
using Palette = std::array<std::array<std::uint8_t, 4>, 256>;

// A palette in which neighbouring indices have clearly different colours:
// hues step by the golden angle and lightness alternates, so the usual
// terrain indices 0, 1, 2, ... stand apart in any viewer.
Palette DistinctPalette();

// Whether WriteBitmap can write a picture of this size (both non-negative):
// a BMP stores its width and height as signed 32-bit numbers and its file
// size as an unsigned 32-bit one, and the file written holds the headers and
// a full colour table (1078 bytes), then the rows, each padded to a multiple
// of 4 bytes.
bool BitmapCanHold(std::int64_t width, std::int64_t rows);

// Writes `picture` as a bottom-up, uncompressed 8-bit BMP with a 40-byte
// info header and a 256-entry colour table. Returns false if the sink failed,
// its only failure.
bool WriteBitmap(OutputSink& output, const IndexedPicture& picture, const Palette& palette);

}  // namespace bmp2grid
