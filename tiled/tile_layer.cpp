#include "tile_layer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace bmp2grid::tiled {

bool ShapeOf(const MapShapeFacts& facts, Shape& shape, LoadFailure& failure) {
    if (facts.orientation == "orthogonal" && facts.tileWidth == facts.tileHeight) {
        shape = Shape::Squares;
        return true;
    }
    if (facts.orientation == "hexagonal" && facts.staggerAxis == "y" && facts.staggerIndex == "odd" &&
        facts.tileWidth == 2 * facts.tileHeight && facts.hexSideLength == facts.tileHeight) {
        shape = Shape::Bricks;
        return true;
    }
    failure = bmp2grid::Failure(LoadError::TiledShape);
    failure.shape = facts;
    return false;
}

void TileRows::Start(Shape shape, std::int64_t columns, std::int64_t rows, std::uint64_t firstGid,
                     std::uint64_t otherGid) {
    shape_ = shape;
    columns_ = columns;
    total_ = columns * rows;
    firstGid_ = firstGid;
    otherGid_ = otherGid;
    limit_ = std::min<std::uint64_t>(256, otherGid - firstGid);
}

bool TileRows::NoMemory() {
    failure_ = bmp2grid::Failure(LoadError::NoMemory);
    return false;
}

bool TileRows::Fail(LoadFailure failure) {
    failure.column = tiles_ % columns_;
    failure.row = tiles_ / columns_;
    failure_ = std::move(failure);
    return false;
}

bool TileRows::CheckComplete() {
    if (tiles_ == total_) return true;
    failure_ = bmp2grid::Failure(LoadError::TiledTileCount);
    failure_.value = static_cast<std::uint64_t>(tiles_);
    failure_.column = columns_;
    failure_.row = total_ / columns_;
    return false;
}

bool TileRows::Refuse(std::uint32_t gid) {
    LoadFailure failure;
    if (tiles_ >= total_) {
        failure = bmp2grid::Failure(LoadError::TiledTileCount);
        failure.value = static_cast<std::uint64_t>(total_) + 1;  // more than the layer holds
        failure.column = columns_;
        failure.row = total_ / columns_;
        failure_ = std::move(failure);
        return false;
    }
    if ((gid & kGidFlags) != 0) {
        failure.error = LoadError::TiledFlippedTile;
        failure.value = gid;
    } else if (gid == kEmptyGid) {
        failure.error = LoadError::TiledEmptyCell;
    } else if (gid < firstGid_ || gid >= otherGid_) {
        failure.error = LoadError::TiledForeignTile;
        failure.value = gid;
    } else {
        failure.error = LoadError::TiledValuePast255;
        failure.value = gid - firstGid_;
    }
    return Fail(std::move(failure));
}

const std::uint8_t* TileRows::TakeRow() {
    head_ += handed_;
    handed_ = 0;
    if (head_ > 0 && head_ >= queue_.size() / 2) {
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    const std::uint8_t* tiles = queue_.data() + head_;
    handed_ = static_cast<std::size_t>(columns_);
    const std::int64_t y = taken_++;
    if (shape_ == Shape::Squares) return tiles;
    const auto width = static_cast<std::size_t>(2 * columns_);
    try {
        bricks_.resize(width);
    } catch (const std::bad_alloc&) {
        NoMemory();
        return nullptr;
    }
    std::uint8_t* out = bricks_.data();
    const auto n = static_cast<std::size_t>(columns_);
    if (y % 2 == 0) {
        // Brick k covers pixels 2k and 2k + 1.
        for (std::size_t k = 0; k < n; ++k) out[2 * k] = out[2 * k + 1] = tiles[k];
    } else {
        // Brick k covers pixels 2k + 1 and 2k + 2; the last one wraps to pixel 0.
        out[0] = tiles[n - 1];
        for (std::size_t k = 0; k + 1 < n; ++k) out[2 * k + 1] = out[2 * k + 2] = tiles[k];
        out[2 * n - 1] = tiles[n - 1];
    }
    return out;
}

}  // namespace bmp2grid::tiled
