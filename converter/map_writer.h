// Writing a loaded picture as map text.
//
// The map text is a header line "columns,rows" and then one line per picture
// row, top row first. Each line holds one cell record per map column: the
// palette index of the sampled pixel, ",0,0,0,0" and a TAB. Every line ends
// in CR LF on every platform.
//
// Sampling follows a skewed grid that wraps horizontally: map row y starts
// half a map cell further right than the row above it. In the two-to-one mode
// cell c of row y reads picture column (2c + y) mod width; in the one-to-one
// mode it reads column (c + y / 2) mod width.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "bitmap_loader.h"
#include "output_sink.h"

namespace bmp2grid {

enum class SampleMode {
    TwoToOne,  // two picture columns per map cell (the default)
    OneToOne,  // one picture column per map cell ("-1")
};

// Picture columns from one map cell to the next.
constexpr std::int64_t ColumnStep(SampleMode mode) { return mode == SampleMode::TwoToOne ? 2 : 1; }

// How far map row `y` is shifted to the right, in picture columns.
constexpr std::int64_t RowShift(std::int64_t y, SampleMode mode) {
    return mode == SampleMode::TwoToOne ? y : y / 2;
}

// Number of cells per map row for a picture `width` columns wide.
constexpr std::int64_t MapColumnCount(std::int64_t width, SampleMode mode) {
    return mode == SampleMode::TwoToOne ? width / 2 : width;
}

// The picture column that cell `c` of map row `y` reads (width > 0).
constexpr std::int64_t SampledColumn(std::int64_t c, std::int64_t y, std::int64_t width,
                                     SampleMode mode) {
    return (c * ColumnStep(mode) + RowShift(y, mode)) % width;
}

// Writes the header line. Returns false if the sink failed.
bool WriteMapHeader(OutputSink& output, const BitmapImage& image, SampleMode mode);

enum class MapWriteStatus {
    Ok,
    OutputFailed,  // the sink failed
    InputFailed,   // the picture's file could not be read (it may have shrunk), or
                   // its row source failed (image.rowSource->Failure() says why)
    NoMemory,      // memory for the output blocks or the row window ran out
    Refused,       // the RowCheck refused a row
};

// Map text is made in blocks of this many bytes (a smaller map in one block
// of its own size), each handed to the output whole. A row's text runs on
// from one block into the next: a block is passed on once fewer bytes are
// left in it than the next cell record may take (12 at most) or than the
// line end takes (2).
constexpr std::size_t kMapBlockBytes = std::size_t{1} << 20;

// How much of a picture kept in its file is read at a time: as many whole
// rows as fit, and a row wider than this in pieces of this size.
constexpr std::int64_t kRowWindowBytes = std::int64_t{1} << 20;

// Writes every row line, in large blocks. `rowWindowBytes` (at least 1) lets
// tests take pictures with small rows through the wide-row path.
MapWriteStatus WriteMapRows(OutputSink& output, const BitmapImage& image, SampleMode mode,
                            std::int64_t rowWindowBytes = kRowWindowBytes);

// The value each palette index is written as: a pixel of index i gives a
// cell of `values[i]`.
using IndexMap = std::array<std::uint8_t, 256>;

// A check of every pixel of the picture, made row by row (top row first)
// before each row's cells are written.
class RowCheck {
public:
    virtual ~RowCheck() = default;
    // Pixels `firstColumn` to `firstColumn + count - 1` of picture row `y`,
    // each row's pieces in order. False refuses the picture.
    virtual bool Check(const std::uint8_t* pixels, std::int64_t count, std::int64_t firstColumn,
                       std::int64_t y) = 0;
};

// Writes every row line as WriteMapRows does, each pixel's index replaced by
// its value in `values`, at the same speed: the 256 cell records are made
// once for the map. With a `check`, every pixel of a row (those not sampled
// too) is given to it before the row's cells are written, and a refusal ends
// the writing with Refused: for an output put in place only once complete.
MapWriteStatus WriteMapRows(OutputSink& output, const BitmapImage& image, SampleMode mode, const IndexMap& values,
                            RowCheck* check = nullptr, std::int64_t rowWindowBytes = kRowWindowBytes);

}  // namespace bmp2grid
