// The map text format: its grammar and the sampling geometry that ties its
// cells to picture columns. The one home of both; docs/map-text.md
// describes them in words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bmp2grid::map_text {

// A header line "columns,rows", then one line per picture row, top row
// first. Each line holds one record per map cell: the cell's value (a
// palette index, 0 to 255), then kRecordTail. Every line ends in kLineEnd.
constexpr char kHeaderSeparator = ',';
constexpr char kValueSeparator = ',';
constexpr char kRecordEnd = '\t';
// What follows a cell's value in every record bmp2grid writes: four more
// values, all 0, and the record's TAB.
constexpr std::string_view kRecordTail = ",0,0,0,0\t";
// Values in a record: the cell's, then four that a picture can't keep.
constexpr int kValuesPerRecord = 5;
constexpr std::string_view kLineEnd = "\r\n";
// The longest record: "255" and the tail.
constexpr std::size_t kMaxRecordLength = 3 + kRecordTail.size();

// A UTF-8 byte-order mark, which a reader skips before the header (Windows
// Notepad starts a file saved as UTF-8 with one); never written.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace bmp2grid::map_text

namespace bmp2grid {

// How a map samples its picture: map row y starts half a map cell further
// right than the row above it, wrapping at the right edge.
enum class SampleMode {
    TwoToOne,  // two picture columns per map cell (the default): cell c of row y reads column (2c + y) mod width
    OneToOne,  // one picture column per map cell ("-1"): cell c of row y reads column (c + y / 2) mod width
};

// Picture columns from one map cell to the next.
constexpr std::int64_t ColumnStep(SampleMode mode) { return mode == SampleMode::TwoToOne ? 2 : 1; }

// How far map row `y` is shifted to the right, in picture columns.
constexpr std::int64_t RowShift(std::int64_t y, SampleMode mode) {
    return mode == SampleMode::TwoToOne ? y : y / 2;
}

// Number of cells per map row for a picture `width` columns wide.
constexpr std::int64_t MapColumnCount(std::int64_t width, SampleMode mode) {
    return mode == SampleMode::TwoToOne ? width / 2 : width;
}

// The picture column that cell `c` of map row `y` reads (width > 0).
constexpr std::int64_t SampledColumn(std::int64_t c, std::int64_t y, std::int64_t width, SampleMode mode) {
    return (c * ColumnStep(mode) + RowShift(y, mode)) % width;
}

}  // namespace bmp2grid
