// The built-in palette: the colours grid2bmp's pictures and the web page
// use when no palette is given.
#pragma once

#include "colour_table.h"

namespace bmp2grid {

// A palette in which neighbouring indices have clearly different colours:
// hues step by the golden angle and lightness alternates, so the usual
// terrain indices 0, 1, 2, ... stand apart in any viewer.
ColourTable BuiltInPalette();

}  // namespace bmp2grid
