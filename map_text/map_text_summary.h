// What reading map text finds: the picture's size, or why the text was
// refused.
#pragma once

#include <cstdint>

namespace bmp2grid {

// Why map text was refused: one value per reason, for the first wrong line
// in reading order. The diagnostics module turns each into its words.
enum class MapTextError {
    None,
    MissingHeader,    // line 1 is not two non-negative numbers "cols,rows"
    TooLarge,         // no BMP file can hold the picture line 1 describes, or it is
                      // wider than the reader was told to take
    NoCells,          // line 1 announces 0 columns or 0 rows
    WrongCellCount,
    NotANumber,
    ValueOutOfRange,  // a cell's first value is not in 0..255
    NeedsFiveValues,
    FewerRows,        // the text ends early; the line is the first missing one
    MoreRows,
    NoMemory,
};

// What reading map text found.
struct MapTextSummary {
    MapTextError error = MapTextError::None;
    std::int64_t line = 0;  // 1-based line of the problem (the header is line 1)
    // When `error` is None: the picture's size, and what the map text said beyond it.
    std::int64_t width = 0;
    std::int64_t rows = 0;
    std::int64_t columns = 0;  // map cells per row, from the header line
    // Cells whose second to fifth values were not all 0; the picture keeps
    // only the first value of a cell.
    std::int64_t cellsWithExtraValues = 0;

    bool ok() const { return error == MapTextError::None; }
};

}  // namespace bmp2grid
