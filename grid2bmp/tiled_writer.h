// Writing a map's picture as a Tiled map: TMX (XML) or Tiled's JSON (TMJ),
// one tile layer of CSV or a flat array of gids, in the shapes of
// tiled_format.h, its tile set a sheet of swatches (tile_sheet.h) named in
// the map and kept beside it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "indexed_picture.h"
#include "map_text_format.h"
#include "output_sink.h"
#include "row_sink.h"

namespace bmp2grid {

enum class TiledFormat { Tmx, Tmj };

// Writes a map's picture rows, as they are read (top first), in sequence to
// the output as a Tiled map of the shape `mode` makes (tiled::ShapeFor):
// squares, one tile per pixel, for one-to-one; bricks, one per map cell, for
// two-to-one, brick k of row y taking the value of picture pixel
// tiled::FirstPixelOfBrick(k, y). Each tile's gid is its value plus
// tiled::kFirstGid. `sheetName` is the tile sheet's file name, as the map
// names it (relative to the map's folder). The bytes depend on the
// arguments and the rows alone. Holds one row and one block of text, never
// the picture. A failed write is remembered (ok()) and the rest is not
// written; the rows are still taken, so that the map text can be read to
// its end.
class TiledRowWriter final : public MapRowSink {
public:
    TiledRowWriter(OutputSink& output, TiledFormat format, SampleMode mode, std::string sheetName);

    void Begin(std::int64_t width, std::int64_t rows) override;
    std::uint8_t* Row(std::int64_t y) override;
    void RowDone(std::int64_t y) override;
    // False once writing failed (or memory for a row ran out).
    bool ok() const { return ok_; }

private:
    void Put(std::string_view text);
    bool Flush();

    OutputSink& output_;
    TiledFormat format_;
    SampleMode mode_;
    std::string sheetName_;
    bool ok_ = true;
    std::int64_t width_ = 0;    // picture pixels a row
    std::int64_t rows_ = 0;
    std::int64_t columns_ = 0;  // tiles a row
    std::vector<std::uint8_t> row_;
    std::vector<char> text_;    // text not yet written
    std::size_t used_ = 0;      // bytes of text_ in use
};

// Writes `picture` as TiledRowWriter does. Returns false if the sink failed
// (or memory ran out).
bool WriteTiledMap(OutputSink& output, const IndexedPicture& picture, TiledFormat format, SampleMode mode,
                   std::string_view sheetName);

}  // namespace bmp2grid
