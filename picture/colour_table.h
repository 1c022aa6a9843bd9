// A picture's colours: the one colour table type of both programs.
#pragma once

#include <array>
#include <cstdint>

namespace bmp2grid {

// One colour: blue, green, red and a reserved byte (always 0 here), in the
// order a BMP colour table stores them.
using Colour = std::array<std::uint8_t, 4>;

// Colours in index order. Entries a picture or palette does not give are 0
// (black).
using ColourTable = std::array<Colour, 256>;

}  // namespace bmp2grid
