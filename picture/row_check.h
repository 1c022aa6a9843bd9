// A check of a picture's pixels made as its rows are read, so that the
// picture is read once: the map writer hands every row to it.
#pragma once

#include <cstdint>

namespace bmp2grid {

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

}  // namespace bmp2grid
