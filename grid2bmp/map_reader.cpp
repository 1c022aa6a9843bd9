#include "map_reader.h"

#include <algorithm>
#include <limits>
#include <new>

namespace bmp2grid {
namespace {

// Splits text into lines ending in LF (a CR before it is dropped). A last
// line without a line end counts only if it holds something.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const std::size_t end = text_.find('\n', pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        line = text_.substr(pos_, stop - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        ++number_;
        return true;
    }
    std::int64_t number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::int64_t number_ = 0;
};

enum class NumberStatus { Ok, NotANumber, TooLarge };

// A decimal integer with an optional leading minus, nothing else.
NumberStatus ParseInteger(std::string_view text, std::int64_t& value) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty()) return NumberStatus::NotANumber;
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return NumberStatus::NotANumber;
        if (magnitude > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return NumberStatus::TooLarge;
        magnitude = magnitude * 10 + (c - '0');
    }
    value = negative ? -magnitude : magnitude;
    return NumberStatus::Ok;
}

MapReadResult Problem(std::int64_t line, std::string reason) {
    MapReadResult result;
    result.line = line;
    result.reason = std::move(reason);
    return result;
}

// Reads "cols,rows": two non-negative decimal numbers.
bool ParseHeader(std::string_view line, std::int64_t& columns, std::int64_t& rows) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return false;
    return ParseInteger(line.substr(0, comma), columns) == NumberStatus::Ok &&
           ParseInteger(line.substr(comma + 1), rows) == NumberStatus::Ok && columns >= 0 && rows >= 0;
}

}  // namespace

MapReadResult ReadMapText(std::string_view text, SampleMode mode) {
    LineReader lines(text);
    std::string_view line;
    std::int64_t columns = 0;
    std::int64_t rows = 0;
    if (!lines.Next(line) || !ParseHeader(line, columns, rows)) return Problem(1, "missing header");

    MapPicture picture;
    picture.columns = columns;
    picture.rows = rows;
    picture.width = mode == SampleMode::TwoToOne ? 2 * columns : columns;
    // Pictures are stored with 32-bit sizes and offsets.
    const std::int64_t fileSize = 14 + 40 + 1024 + RowStride(picture.width) * rows;
    if (picture.width > std::numeric_limits<std::int32_t>::max() ||
        rows > std::numeric_limits<std::int32_t>::max() || fileSize > std::numeric_limits<std::uint32_t>::max()) {
        return Problem(1, "picture would be too large");
    }
    // Every cell takes at least ten bytes of text. A header announcing more
    // cells than there are bytes is refused before any memory is taken for
    // them; smaller shortfalls are found row by row.
    if (columns > 0 && rows > static_cast<std::int64_t>(text.size()) / columns) {
        std::int64_t present = 0;
        while (lines.Next(line)) present = lines.number();
        return Problem(std::max<std::int64_t>(present, 1) + 1, "fewer rows than announced");
    }
    try {
        picture.pixels.assign(static_cast<std::size_t>(picture.width * rows), 0);
    } catch (const std::bad_alloc&) {
        return Problem(1, "not enough memory");
    }

    for (std::int64_t y = 0; y < rows; ++y) {
        if (!lines.Next(line)) return Problem(lines.number() + 1, "fewer rows than announced");
        std::uint8_t* row = picture.pixels.data() + y * picture.width;
        std::int64_t cell = 0;
        while (!line.empty()) {
            const std::size_t tab = line.find('\t');
            std::string_view record = line.substr(0, tab);
            line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
            if (cell == columns) return Problem(lines.number(), "wrong cell count");
            std::int64_t values[5];
            int count = 0;
            for (;;) {
                const std::size_t comma = record.find(',');
                if (count == 5) return Problem(lines.number(), "a cell needs five values");
                const NumberStatus status = ParseInteger(record.substr(0, comma), values[count]);
                if (status == NumberStatus::NotANumber) return Problem(lines.number(), "not a number");
                if (status == NumberStatus::TooLarge && count == 0)
                    return Problem(lines.number(), "value out of 0..255");
                if (status == NumberStatus::TooLarge) values[count] = 1;  // surely not 0
                ++count;
                if (comma == std::string_view::npos) break;
                record.remove_prefix(comma + 1);
            }
            if (count != 5) return Problem(lines.number(), "a cell needs five values");
            if (values[0] < 0 || values[0] > 255) return Problem(lines.number(), "value out of 0..255");
            if (values[1] != 0 || values[2] != 0 || values[3] != 0 || values[4] != 0)
                ++picture.cellsWithExtraValues;
            const auto value = static_cast<std::uint8_t>(values[0]);
            const std::int64_t x = SampledColumn(cell, y, picture.width, mode);
            row[x] = value;
            if (mode == SampleMode::TwoToOne) row[(x + 1) % picture.width] = value;
            ++cell;
        }
        if (cell != columns) return Problem(lines.number(), "wrong cell count");
    }
    if (lines.Next(line)) return Problem(lines.number(), "more rows than announced");

    MapReadResult result;
    result.ok = true;
    result.picture = std::move(picture);
    return result;
}

}  // namespace bmp2grid
