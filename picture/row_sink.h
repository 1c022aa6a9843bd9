// Where a picture's rows go as they are made, top row first: the map text
// reader gives them, the picture writers take them.
#pragma once

#include <cstdint>

namespace bmp2grid {

class MapRowSink {
public:
    virtual ~MapRowSink() = default;
    // The picture is `width` x `rows` pixels (both at least 1).
    virtual void Begin(std::int64_t width, std::int64_t rows) = 0;
    // Room for the `width` pixels of row `y`; null when memory ran out.
    virtual std::uint8_t* Row(std::int64_t y) = 0;
    // Row `y` has been filled.
    virtual void RowDone(std::int64_t y) = 0;
};

}  // namespace bmp2grid
