// Reading a loaded picture's rows top to bottom, for the map writer and the
// palette check: in place for a picture held in memory, a window at a time
// for one kept in its file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bitmap_loader.h"

namespace bmp2grid {

// Hands out picture rows top to bottom. A picture held in memory is
// addressed in place; one kept in its file is read a window of rows at a
// time into a buffer that is reused, so memory use stays small whatever the
// picture's size. Rows wider than the window are read a window of columns at
// a time instead (see Wide and Columns). A picture with a row source (a
// PNG's) gets each row from it, decoded as it is asked for. Running out of
// memory for the window throws std::bad_alloc.
class RowCursor {
public:
    RowCursor(const BitmapImage& image, std::int64_t windowBytes) : image_(image), windowBytes_(windowBytes) {}

    // Whether rows are too wide for the window, so that they must be read
    // in pieces with Columns instead of whole with Row.
    bool Wide() const { return image_.file != nullptr && image_.stride > windowBytes_; }
    std::int64_t WindowBytes() const { return windowBytes_; }
    // Whether every row must be asked for, even where the map has no cells:
    // a row source finds faults in the picture only as it decodes it.
    bool Decodes() const { return image_.rowSource != nullptr; }

    // The pixels of picture row `y`, asked for in increasing order; nullptr
    // when the file could not be read.
    const std::uint8_t* Row(std::int64_t y) {
        if (image_.rowSource != nullptr) return image_.rowSource->Row(y);
        if (image_.file == nullptr) return image_.Row(y);
        const std::int64_t stored = image_.StoredRow(y);
        if ((stored < first_ || stored >= first_ + count_) && !Load(y)) return nullptr;
        return window_.data() + (stored - first_) * image_.stride;
    }

    // Pixels `first` to `first + count - 1` of picture row `y` of a picture
    // kept in its file (0 < count <= the window, first + count <= width);
    // nullptr when the file could not be read.
    const std::uint8_t* Columns(std::int64_t y, std::int64_t first, std::int64_t count) {
        count_ = 0;  // the window no longer holds whole rows
        if (window_.size() < static_cast<std::size_t>(count)) window_.resize(static_cast<std::size_t>(count));
        const std::int64_t offset = image_.bfOffBits + image_.StoredRow(y) * image_.stride + first;
        return image_.file->ReadAt(offset, window_.data(), static_cast<std::size_t>(count)) ? window_.data()
                                                                                             : nullptr;
    }

private:
    // Reads picture rows y, y + 1, ... as far as the window holds. They are
    // stored next to each other: in order top-down, in reverse bottom-up.
    bool Load(std::int64_t y) {
        const std::int64_t stride = image_.stride;
        count_ = std::min(std::max<std::int64_t>(1, windowBytes_ / stride), image_.rows - y);
        first_ = image_.topDown ? y : image_.rows - y - count_;
        const std::int64_t offset = image_.bfOffBits + first_ * stride;
        // The last stored row may end at the end of the file, without padding.
        const std::int64_t length = std::min(count_ * stride, image_.file->Size() - offset);
        if (window_.size() < static_cast<std::size_t>(count_ * stride))
            window_.resize(static_cast<std::size_t>(count_ * stride));
        if (length < (count_ - 1) * stride + image_.width ||
            !image_.file->ReadAt(offset, window_.data(), static_cast<std::size_t>(length))) {
            count_ = 0;
            return false;
        }
        return true;
    }

    const BitmapImage& image_;
    const std::int64_t windowBytes_;
    std::vector<std::uint8_t> window_;
    std::int64_t first_ = 0;  // first stored row in the window
    std::int64_t count_ = 0;  // rows in the window
};

}  // namespace bmp2grid
