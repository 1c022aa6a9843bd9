// Reading map text back into a picture: the inverse of the map writer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "map_writer.h"

namespace bmp2grid {

// A picture rebuilt from map text: palette indices, top row first.
struct MapPicture {
    std::int64_t columns = 0;  // map cells per row, from the header line
    std::int64_t width = 0;    // picture columns
    std::int64_t rows = 0;
    std::vector<std::uint8_t> pixels;  // width x rows
    // Cells whose second to fifth values were not all 0; the picture keeps
    // only the first value of a cell.
    std::int64_t cellsWithExtraValues = 0;
};

struct MapReadResult {
    bool ok = false;
    std::int64_t line = 0;  // 1-based line of the problem (the header is line 1)
    std::string reason;     // short lower-case text
    MapPicture picture;
};

// Parses map text ("cols,rows", then one line per row of records
// "v,a,b,c,d" each ended by a TAB; CR LF or LF line ends) and places each
// cell's value in the picture column the converter samples for it. In the
// two-to-one mode the picture is twice as wide as the map, and the column to
// the right of each sampled one (wrapping) gets the same value, so every
// pixel is set and converting the picture again gives the same map text.
MapReadResult ReadMapText(std::string_view text, SampleMode mode);

}  // namespace bmp2grid
