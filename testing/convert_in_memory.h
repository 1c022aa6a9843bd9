// Loads a picture (a BMP or a PNG) from bytes and writes its map text in
// both modes into memory, checking the text against a plain per-cell
// rendering. Used by the fuzz targets and by the regression tests that
// replay their inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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
// Returns false when the map text differs from the per-cell rendering. A
// PNG whose rows come one at a time as the map is written is checked
// against the same bytes decoded whole: the same picture, or the same
// refusal where its rows turn out faulty.
bool ConvertInMemory(const std::uint8_t* data, std::size_t size);

// The bytes with every whole chunk's CRC made right, when they start with
// PNG's signature: the PNG fuzz target's mutations would otherwise nearly
// all be refused at their first chunk.
std::vector<std::uint8_t> WithChunkCrcsMended(const std::uint8_t* data, std::size_t size);

// ConvertInMemory on the bytes as they are and, if it changes them, with
// their CRCs mended.
bool ConvertPngInMemory(const std::uint8_t* data, std::size_t size);

// Loads any bytes as a picture, as the Tiled map targets do (every third
// input, as its bytes decide, picking the tile layer "map"), and checks that
// a map that loads gives, in both modes, the map text of the rows read
// straight through its RowReader, or, where those rows turn out faulty, the
// same refusal at the same tile; and that every refusal has its words.
bool ConvertTiledInMemory(const std::uint8_t* data, std::size_t size);

}  // namespace bmp2grid::fuzzing
