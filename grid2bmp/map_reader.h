// Reading map text back into a picture: the inverse of the map writer.
#pragma once

#include <cstdint>
#include <string_view>
#include "indexed_picture.h"
#include "map_writer.h"

namespace bmp2grid {

// Why map text was refused: one value per reason, for the first wrong line
// in reading order. grid2bmp's command-line code turns each into its text.
enum class MapTextError {
    None,
    MissingHeader,    // line 1 is not two non-negative numbers "cols,rows"
    TooLarge,         // no BMP file can hold the picture line 1 describes
    NoCells,          // line 1 announces 0 columns or 0 rows
    WrongCellCount,
    NotANumber,
    ValueOutOfRange,  // a cell's first value is not in 0..255
    NeedsFiveValues,
    FewerRows,        // the text ends early; the line is the first missing one
    MoreRows,
    NoMemory,
};

struct MapReadResult {
    MapTextError error = MapTextError::None;
    std::int64_t line = 0;  // 1-based line of the problem (the header is line 1)
    // When `error` is None: the picture, and what the map text said beyond it.
    IndexedPicture picture;
    std::int64_t columns = 0;  // map cells per row, from the header line
    // Cells whose second to fifth values were not all 0; the picture keeps
    // only the first value of a cell.
    std::int64_t cellsWithExtraValues = 0;

    bool ok() const { return error == MapTextError::None; }
};

// Parses map text ("cols,rows", then one line per row of records
// "v,a,b,c,d" each ended by a TAB; CR LF or LF line ends) and places each
// cell's value in the picture column the converter samples for it. In the
// two-to-one mode the picture is twice as wide as the map, and the column to
// the right of each sampled one (wrapping) gets the same value, so every
// pixel is set and converting the picture again gives the same map text.
MapReadResult ReadMapText(std::string_view text, SampleMode mode);

}  // namespace bmp2grid
