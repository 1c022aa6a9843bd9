// Reads bytes as map text in both modes. Text the reader accepts is written
// as a BMP in memory, decoded with the converter's own loader and converted
// back to map text, which must be the canonical map text of the same cells
// (header "cols,rows", each cell "v,0,0,0,0" and a TAB, CR LF line ends).
// Read again in pieces of a size taken from the input's length, it must give
// the same outcome, line and picture.
// Text it refuses must name a line that exists (or the one after the last)
// and a reason the program can print. Used by the map-text fuzz target and by the regression
// tests that replay its inputs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmp2grid::fuzzing {

// Accepted maps with more cells than this are not converted back, so that
// the fuzzer spends its time on the reader rather than on big legal maps.
constexpr std::int64_t kMaxRoundTripCells = std::int64_t{1} << 14;

// Returns false when the reader, the BMP writer, the loader or the map
// writer got something wrong.
bool MapTextRoundTrip(const std::uint8_t* data, std::size_t size);

}  // namespace bmp2grid::fuzzing
