#include "map_reader.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

#include "bitmap_writer.h"

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
    bool tooLarge = false;
    for (char c : text) {
        if (c < '0' || c > '9') return NumberStatus::NotANumber;  // even after too many digits
        if (magnitude > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) tooLarge = true;
        if (!tooLarge) magnitude = magnitude * 10 + (c - '0');
    }
    if (tooLarge) return NumberStatus::TooLarge;
    value = negative ? -magnitude : magnitude;
    return NumberStatus::Ok;
}

MapReadResult Problem(std::int64_t line, MapTextError error) {
    MapReadResult result;
    result.error = error;
    result.line = line;
    return result;
}

enum class HeaderStatus { Ok, Missing, TooLarge };

// Reads "cols,rows": two non-negative decimal numbers. A number past 64 bits
// is too large for any picture.
HeaderStatus ParseHeader(std::string_view line, std::int64_t& columns, std::int64_t& rows) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return HeaderStatus::Missing;
    const std::string_view parts[2] = {line.substr(0, comma), line.substr(comma + 1)};
    std::int64_t* values[2] = {&columns, &rows};
    bool tooLarge = false;
    for (int i = 0; i < 2; ++i) {
        switch (ParseInteger(parts[i], *values[i])) {
            case NumberStatus::NotANumber:
                return HeaderStatus::Missing;
            case NumberStatus::TooLarge:
                if (parts[i].front() == '-') return HeaderStatus::Missing;
                tooLarge = true;
                break;
            case NumberStatus::Ok:
                if (*values[i] < 0) return HeaderStatus::Missing;
                break;
        }
    }
    return tooLarge ? HeaderStatus::TooLarge : HeaderStatus::Ok;
}

// Runs `allocate` (a vector's reserve or resize); false if memory ran out.
template <typename Allocate>
bool TryToAllocate(Allocate allocate) {
    try {
        allocate();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

MapReadResult ReadMapText(std::string_view text, SampleMode mode) {
    // Windows Notepad starts a file saved as UTF-8 with a byte-order mark.
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
    LineReader lines(text);
    std::string_view line;
    std::int64_t columns = 0;
    std::int64_t rows = 0;
    if (!lines.Next(line)) return Problem(1, MapTextError::MissingHeader);
    switch (ParseHeader(line, columns, rows)) {
        case HeaderStatus::Ok:
            break;
        case HeaderStatus::Missing:
            return Problem(1, MapTextError::MissingHeader);
        case HeaderStatus::TooLarge:
            return Problem(1, MapTextError::TooLarge);
    }
    // Checked before the width is computed, so nothing here can overflow.
    const std::int64_t step = ColumnStep(mode);
    if (columns > std::numeric_limits<std::int32_t>::max() / step || !BitmapCanHold(columns * step, rows))
        return Problem(1, MapTextError::TooLarge);
    if (columns == 0 || rows == 0) return Problem(1, MapTextError::NoCells);

    MapReadResult result;
    result.columns = columns;
    IndexedPicture& picture = result.picture;
    picture.rows = rows;
    picture.width = columns * step;
    // A row's values are read before the row is stored, so memory follows
    // the text actually present however large the header's numbers (a cell
    // takes at least 9 bytes and a TAB separates it from the next, so a row
    // of n cells takes at least 10n - 1 bytes), and the first wrong line is
    // the one reported. Room for as many rows as the text can hold is asked
    // for at once; if that fails the rows still grow one by one.
    const std::int64_t rowsTextCanHold =
        std::min(rows, static_cast<std::int64_t>(text.size()) / (10 * columns - 1));
    TryToAllocate([&] { picture.pixels.reserve(static_cast<std::size_t>(rowsTextCanHold * picture.width)); });
    std::vector<std::uint8_t> cells;  // the first value of each cell of the row being read

    for (std::int64_t y = 0; y < rows; ++y) {
        if (!lines.Next(line)) return Problem(lines.number() + 1, MapTextError::FewerRows);
        // Room for every cell this line can hold, so `cells` never grows below.
        const std::int64_t room = std::min(columns, static_cast<std::int64_t>(line.size()) / 10 + 1);
        cells.clear();
        if (!TryToAllocate([&] { cells.reserve(static_cast<std::size_t>(room)); }))
            return Problem(lines.number(), MapTextError::NoMemory);
        while (!line.empty()) {
            const std::size_t tab = line.find('\t');
            std::string_view record = line.substr(0, tab);
            line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
            if (static_cast<std::int64_t>(cells.size()) == columns) return Problem(lines.number(), MapTextError::WrongCellCount);
            std::int64_t values[5];
            int count = 0;
            for (;;) {
                const std::size_t comma = record.find(',');
                if (count == 5) return Problem(lines.number(), MapTextError::NeedsFiveValues);
                const NumberStatus status = ParseInteger(record.substr(0, comma), values[count]);
                if (status == NumberStatus::NotANumber) return Problem(lines.number(), MapTextError::NotANumber);
                if (status == NumberStatus::TooLarge && count == 0)
                    return Problem(lines.number(), MapTextError::ValueOutOfRange);
                if (status == NumberStatus::TooLarge) values[count] = 1;  // surely not 0
                ++count;
                if (comma == std::string_view::npos) break;
                record.remove_prefix(comma + 1);
            }
            if (count != 5) return Problem(lines.number(), MapTextError::NeedsFiveValues);
            if (values[0] < 0 || values[0] > 255) return Problem(lines.number(), MapTextError::ValueOutOfRange);
            if (values[1] != 0 || values[2] != 0 || values[3] != 0 || values[4] != 0)
                ++result.cellsWithExtraValues;
            cells.push_back(static_cast<std::uint8_t>(values[0]));
        }
        if (static_cast<std::int64_t>(cells.size()) != columns) return Problem(lines.number(), MapTextError::WrongCellCount);

        const std::size_t rowStart = picture.pixels.size();
        if (!TryToAllocate([&] { picture.pixels.resize(rowStart + static_cast<std::size_t>(picture.width)); }))
            return Problem(lines.number(), MapTextError::NoMemory);
        std::uint8_t* row = picture.pixels.data() + rowStart;
        for (std::int64_t c = 0; c < columns; ++c) {
            const std::uint8_t value = cells[static_cast<std::size_t>(c)];
            const std::int64_t x = SampledColumn(c, y, picture.width, mode);
            row[x] = value;
            if (mode == SampleMode::TwoToOne) row[(x + 1) % picture.width] = value;
        }
    }
    if (lines.Next(line)) return Problem(lines.number(), MapTextError::MoreRows);

    return result;
}

}  // namespace bmp2grid
