// Tiled maps (TMX, and Tiled's JSON, TMJ) as pictures: the shapes of map
// bmp2grid reads and grid2bmp writes, the tile set grid2bmp writes beside
// them, and how a map's tiles and cells line up. The one home of these
// rules; docs/map-text.md shows them worked through on a small map.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "map_text_format.h"

namespace bmp2grid::tiled {

// One-to-one maps are orthogonal maps of square tiles: tile (x, y) is
// picture pixel (x, y).
//
// Two-to-one maps are brick walls: Tiled's hexagonal orientation with
// staggeraxis "y", staggerindex "odd" and a side length equal to the tile
// height, of tiles twice as wide as high, so that rows don't overlap and
// every odd row sits half a tile to the right. Brick k of row y covers
// picture pixels 2k + (y mod 2) and the one to its right (wrapping), so a
// map of `columns` bricks a row is a picture 2 * columns pixels wide.
enum class Shape {
    Squares,  // orientation "orthogonal", tilewidth == tileheight
    Bricks,   // orientation "hexagonal", staggeraxis "y", staggerindex "odd",
              // tilewidth == 2 * tileheight, hexsidelength == tileheight
};

constexpr Shape ShapeFor(SampleMode mode) { return mode == SampleMode::OneToOne ? Shape::Squares : Shape::Bricks; }

// The tiles of the maps grid2bmp writes: every picture pixel is drawn
// 8 x 8 screen pixels.
constexpr int kTileHeight = 8;
constexpr int TileWidth(Shape shape) { return shape == Shape::Bricks ? 2 * kTileHeight : kTileHeight; }

// The tile set grid2bmp writes: one tile per palette index, a solid swatch
// of that index's colour, in a sheet of kSheetColumns tiles a row.
constexpr int kTileCount = 256;
constexpr int kSheetColumns = 16;
constexpr int kSheetRows = kTileCount / kSheetColumns;
constexpr std::uint32_t kFirstGid = 1;
constexpr std::string_view kTilesetName = "palette";
constexpr std::string_view kLayerName = "map";

// The sheet's file name for a map file named `mapFileName` (no folder): the
// map's name without its last extension, then kSheetSuffix
// ("cave.tmx" -> "cave.tiles.png").
constexpr std::string_view kSheetSuffix = ".tiles.png";
std::string SheetFileName(std::string_view mapFileName);

// A gid's top four bits are flags: flipped horizontally, vertically,
// diagonally (or rotated 60 degrees on hexagonal maps), rotated 120
// degrees on hexagonal maps. The rest is the tile's gid.
constexpr std::uint32_t kGidFlags = 0xF0000000u;
constexpr std::uint32_t kEmptyGid = 0;

// The tile column that map cell `c` of row `y` sits in, in both shapes:
// each map row is its map text row turned right by y / 2 cells.
constexpr std::int64_t TileColumn(std::int64_t c, std::int64_t y, std::int64_t columns) {
    return (c + y / 2) % columns;
}

// The map cell that tile column `x` of row `y` holds (its inverse).
constexpr std::int64_t CellOfTile(std::int64_t x, std::int64_t y, std::int64_t columns) {
    return ((x - y / 2) % columns + columns) % columns;
}

// The brick that picture pixel `p` of row `y` lies in, on a map of
// `columns` bricks a row (picture 2 * columns pixels wide).
constexpr std::int64_t BrickOfPixel(std::int64_t p, std::int64_t y, std::int64_t columns) {
    return (p - y % 2 + 2 * columns) / 2 % columns;
}

// The first of the two picture pixels that brick `k` of row `y` covers.
constexpr std::int64_t FirstPixelOfBrick(std::int64_t k, std::int64_t y) { return 2 * k + y % 2; }

}  // namespace bmp2grid::tiled
