// Writing an uncompressed 8-bit BMP picture.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "colour_table.h"
#include "indexed_picture.h"
#include "output_sink.h"
#include "row_sink.h"

namespace bmp2grid {

// Writes `picture` as a bottom-up, uncompressed 8-bit BMP with a 40-byte
// info header and a 256-entry colour table. Returns false if the sink failed
// or memory for a block of rows ran out.
bool WriteBitmap(OutputSink& output, const IndexedPicture& picture, const ColourTable& palette);

// Writes a map's picture rows, as they are read, straight to their places in
// a BMP file like WriteBitmap's: the output gets the headers and its full
// size first, then each block of rows (about 1 MiB) goes to its own offset,
// since rows are read top first and a BMP stores them bottom first. Holds one block of rows, never the picture. A
// failed write is remembered (ok()) and the rest is not written; the rows
// are still taken, so that the map text can be read to its end.
class BitmapRowWriter final : public MapRowSink {
public:
    // `blockBytes`: how many bytes of rows to gather before each write
    // (at least one row).
    BitmapRowWriter(SeekableSink& output, const ColourTable& palette, std::int64_t blockBytes = std::int64_t{1} << 20);
    void Begin(std::int64_t width, std::int64_t rows) override;
    std::uint8_t* Row(std::int64_t y) override;
    void RowDone(std::int64_t y) override;
    // False once writing failed.
    bool ok() const { return ok_; }

private:
    SeekableSink& output_;
    ColourTable palette_;
    std::int64_t blockBytes_;
    bool ok_ = true;
    std::int64_t width_ = 0;
    std::int64_t rows_ = 0;
    std::int64_t stride_ = 0;
    std::int64_t rowsPerBlock_ = 0;
    std::int64_t blockStart_ = 0;  // the top row of the block being filled
    std::vector<char> block_;      // its rows, bottom first, padded
    // A picture that fits in one block is written in one piece, its header
    // at the front of the block: the output needs no size set beforehand.
    bool whole_ = false;
};

}  // namespace bmp2grid
