// What both Tiled readers share once a map's facts are known: its shape
// checked, and the tiles of the layer read turned into picture rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture.h"
#include "tiled_format.h"

namespace bmp2grid::tiled {

// The largest map side read, in tiles (Tiled's own limit, a 32-bit int).
constexpr std::int64_t kMaxTiles = 0x7FFFFFFF;

// The shape of a map from its orientation, sizes and stagger; false (and
// `failure` says why) for any shape not read.
bool ShapeOf(const MapShapeFacts& facts, Shape& shape, LoadFailure& failure);

// The picture a map of `columns` x `rows` tiles of `shape` is.
inline std::int64_t PictureWidth(Shape shape, std::int64_t columns) {
    return shape == Shape::Bricks ? 2 * columns : columns;
}

// The tiles of the layer read, gid by gid in the layer's order, checked and
// turned into tile values; each whole tile row is a picture row. Rows are
// queued as they complete, a few at a time.
class TileRows {
public:
    // A layer of `columns` x `rows` tiles, whose values are gid - firstGid,
    // below `otherGid` (the next tileset's first gid).
    void Start(Shape shape, std::int64_t columns, std::int64_t rows, std::uint64_t firstGid, std::uint64_t otherGid);

    // Adds the next tile's gid; false when it is refused (Failure()) or
    // memory ran out.
    bool Add(std::uint32_t gid) {
        if ((gid & kGidFlags) == 0 && gid >= firstGid_ && gid - firstGid_ < limit_ && tiles_ < total_) {
            try {
                queue_.push_back(static_cast<std::uint8_t>(gid - firstGid_));
            } catch (const std::bad_alloc&) {
                return NoMemory();
            }
            ++tiles_;
            return true;
        }
        return Refuse(gid);
    }

    std::int64_t Tiles() const { return tiles_; }
    std::int64_t Total() const { return total_; }
    // Whether a whole tile row waits.
    bool RowReady() const { return queue_.size() - head_ >= static_cast<std::size_t>(columns_); }
    // The picture row of the next tile row, which must be ready; valid until
    // the next Add or TakeRow. nullptr when memory ran out.
    const std::uint8_t* TakeRow();
    // At the data's end: false (TiledTileCount) unless it held every tile.
    bool CheckComplete();
    // A refusal of the data as a whole, with the next tile's place.
    bool Fail(LoadFailure failure);
    const LoadFailure& Failure() const { return failure_; }
    bool Failed() const { return !failure_.ok(); }

private:
    bool Refuse(std::uint32_t gid);
    bool NoMemory();

    Shape shape_ = Shape::Squares;
    std::int64_t columns_ = 1;
    std::int64_t total_ = 0;
    std::int64_t tiles_ = 0;
    std::int64_t taken_ = 0;  // tile rows taken
    std::uint64_t firstGid_ = 1;
    std::uint64_t limit_ = 0;  // values below this are tiles of the first tileset
    std::uint64_t otherGid_ = 0;
    std::vector<std::uint8_t> queue_;  // tile values not yet taken: [head_, end)
    std::size_t head_ = 0;
    std::size_t handed_ = 0;  // the row handed out last, dropped at the next TakeRow
    std::vector<std::uint8_t> bricks_;  // a brick row's picture row
    LoadFailure failure_;
};

}  // namespace bmp2grid::tiled
