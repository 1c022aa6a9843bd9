// Reads bytes as a GIMP and as a JASC palette, whole and in pieces, and
// checks that no line was dropped: each colour read names the line it came
// from, that line's own first three words are the colour's values, and
// every line that holds a colour is one of them, in order. A refusal names
// a line that exists (or the one after the last) and is the same however
// the text is fed. Used by the palette fuzz target and by the tests that
// replay its seeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bmp2grid::fuzzing {

// Returns false when the reader dropped, cut or misplaced a line.
bool PaletteLinesHold(const std::uint8_t* data, std::size_t size);

// Palettes to start from: ordinary ones, and lines long enough to cross
// any fixed-size buffer or read block. Names end in .gpl or .pal.
std::vector<std::pair<std::string, std::string>> PaletteSeeds();

}  // namespace bmp2grid::fuzzing
