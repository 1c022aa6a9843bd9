// The tile set grid2bmp writes beside a Tiled map: one solid swatch of each
// palette colour, in a sheet PNG, and where that sheet goes.
#pragma once

#include <string>
#include <string_view>

#include "colour_table.h"
#include "output_sink.h"
#include "tiled_format.h"

namespace bmp2grid {

// Writes the sheet of `shape`'s tiles as an 8-bit indexed PNG (through
// WritePng), its colours `palette`: tiled::kSheetColumns tiles a row,
// tiled::kSheetRows rows, tile i (counted along the rows) a swatch of index
// i, tiled::TileWidth(shape) x tiled::kTileHeight pixels. The bytes depend
// on the arguments alone. Returns false if the sink failed (or memory ran
// out).
bool WriteTileSheet(OutputSink& output, const ColourTable& palette, tiled::Shape shape);

// The sheet's path for a map written to `mapPath`: in the map's folder,
// named tiled::SheetFileName of the map's file name ("maps/cave.tmx" ->
// "maps/cave.tiles.png").
std::string SheetPathBeside(std::string_view mapPath);

// The map's file name without its folder, as the map names its sheet
// relative to itself.
std::string_view FileNameOf(std::string_view path);

}  // namespace bmp2grid
