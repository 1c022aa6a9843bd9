// Writing an 8-bit indexed PNG picture, through libpng.
#pragma once

#include <cstdint>
#include <memory>

#include "colour_table.h"
#include "indexed_picture.h"
#include "output_sink.h"
#include "row_sink.h"

namespace bmp2grid {

// The widest picture a PNG is written for: as wide as bmp2grid reads.
std::int64_t PngMaxWidth();

// Writes a map's picture rows, as they are read (top first, as PNG stores
// them), in sequence to the output as an 8-bit indexed PNG: non-interlaced,
// the 256 colours of `palette` in PLTE, no tRNS. Holds one row and the
// compressor's state, never the picture. A failed write is remembered
// (ok()) and the rest is not written; the rows are still taken, so that
// the map text can be read to its end.
class PngRowWriter final : public MapRowSink {
public:
    PngRowWriter(OutputSink& output, const ColourTable& palette);
    ~PngRowWriter() override;
    PngRowWriter(const PngRowWriter&) = delete;
    PngRowWriter& operator=(const PngRowWriter&) = delete;

    void Begin(std::int64_t width, std::int64_t rows) override;
    std::uint8_t* Row(std::int64_t y) override;
    void RowDone(std::int64_t y) override;
    // False once writing failed (or memory for libpng ran out).
    bool ok() const { return ok_; }

    struct State;  // libpng's structs and the output, for its callbacks

private:
    std::unique_ptr<State> state_;
    bool ok_ = true;
};

// Writes `picture` as PngRowWriter does. Returns false if the sink failed
// (or memory ran out).
bool WritePng(OutputSink& output, const IndexedPicture& picture, const ColourTable& palette);

}  // namespace bmp2grid
