// Loads a picture from bytes and writes its map text in both modes into
// memory, checking the text against a plain per-cell rendering. Used by the
// fuzz target and by the regression tests that replay its inputs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmp2grid::fuzzing {

// Pictures whose map text would have more cells or rows than this are
// skipped after loading, and RLE8 pictures with more pixels than
// kMaxDecodedPixels are refused by the decoder, so that the fuzzer spends
// its time on faults rather than on big legal pictures.
constexpr std::int64_t kMaxMapCells = std::int64_t{1} << 14;
constexpr std::int64_t kMaxDecodedPixels = std::int64_t{1} << 18;

// Then matches the picture with a reference palette made at random from its
// own colours (seeded by the bytes), both in a pass of its own and while the
// map is written, and checks the remapped map text, or the pixel refused,
// against the matching rules applied pixel by pixel.
// Returns false when the map text differs from the per-cell rendering.
bool ConvertInMemory(const std::uint8_t* data, std::size_t size);

}  // namespace bmp2grid::fuzzing
