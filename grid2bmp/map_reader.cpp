#include "map_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "bmp_format.h"

namespace bmp2grid {
namespace {

using map_text::kByteOrderMark;
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

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

}  // namespace

// A decimal integer with an optional leading minus, nothing else; a number
// past 64 bits is too large, unless a character that is not a digit follows.
void MapTextReader::Number::Add(char c) {
    const auto digit = static_cast<unsigned>(c - '0');
    if (digit <= 9) {
        digits = true;
        if (!tooLarge) {
            if (magnitude > static_cast<std::uint64_t>((kInt64Max - digit) / 10)) {
                tooLarge = true;
            } else {
                magnitude = magnitude * 10 + digit;
            }
        }
    } else if (c == '-' && !started) {
        negative = true;
    } else {
        bad = true;
    }
    started = true;
}

MapTextReader::MapTextReader(SampleMode mode, MapRowSink& sink, std::int64_t maxWidth)
    : mode_(mode), sink_(sink), maxWidth_(maxWidth) {}

bool MapTextReader::Fail(MapTextError error) {
    summary_.error = error;
    summary_.line = state_ == State::Header ? 1 : y_ + 2;
    state_ = State::Refused;
    return false;
}

bool MapTextReader::Feed(const char* data, std::size_t size) {
    const char* p = data;
    const char* const end = data + size;
    // Windows Notepad starts a file saved as UTF-8 with a byte-order mark.
    while (!bomDecided_ && p < end) {
        if (*p == kByteOrderMark[bomHeld_]) {
            ++p;
            if (++bomHeld_ == static_cast<int>(kByteOrderMark.size())) bomDecided_ = true;
        } else {
            bomDecided_ = true;
            for (int i = 0; i < bomHeld_; ++i) Byte(kByteOrderMark[i]);
        }
    }
    while (p < end && state_ != State::Refused) {
        if (state_ == State::Rows && !inRecord_ && !pendingCR_) {
            p = FastRecords(p, end);
            if (p == end) break;
        }
        Byte(*p++);
    }
    return state_ != State::Refused;
}

MapTextSummary MapTextReader::Finish() {
    if (!bomDecided_) {
        bomDecided_ = true;
        for (int i = 0; i < bomHeld_ && state_ != State::Refused; ++i) Byte(kByteOrderMark[i]);
    }
    if (state_ == State::Refused) return summary_;
    pendingCR_ = false;  // a CR that ends the last line is dropped, as before an LF
    // A last line without a line end counts only if it holds something.
    if (lineHasBytes_) EndLine();
    if (state_ == State::Header) Fail(MapTextError::MissingHeader);
    if (state_ == State::Rows) Fail(MapTextError::FewerRows);
    return summary_;
}

void MapTextReader::Byte(char c) {
    if (state_ == State::Refused) return;
    if (state_ == State::AfterRows) {
        Fail(MapTextError::MoreRows);  // anything after the last row is one more
        return;
    }
    lineHasBytes_ = true;
    if (pendingCR_) {
        pendingCR_ = false;
        if (c == '\n') {
            EndLine();
            return;
        }
        LineByte('\r');
        if (state_ == State::Refused) return;
    }
    if (c == '\r') {
        pendingCR_ = true;
    } else if (c == '\n') {
        EndLine();
    } else {
        LineByte(c);
    }
}

void MapTextReader::LineByte(char c) {
    if (state_ == State::Header) {
        HeaderByte(c);
    } else {
        RowByte(c);
    }
}

void MapTextReader::EndLine() {
    lineHasBytes_ = false;
    if (state_ == State::Header) {
        EndHeader();
    } else {
        EndRow();
    }
}

// "cols,rows": two non-negative decimal numbers. A number past 64 bits is
// too large for any picture. Everything after the first comma is the rows.
void MapTextReader::HeaderByte(char c) {
    if (headerPart_ == 0 && c == map_text::kHeaderSeparator) {
        headerPart_ = 1;
        return;
    }
    Number& number = headerNumbers_[headerPart_];
    number.Add(c);
    if (number.bad) Fail(MapTextError::MissingHeader);  // whatever follows
}

void MapTextReader::EndHeader() {
    if (headerPart_ == 0) {
        Fail(MapTextError::MissingHeader);
        return;
    }
    bool tooLarge = false;
    for (const Number& number : headerNumbers_) {
        if (number.bad || !number.digits || (number.negative && (number.tooLarge || number.magnitude != 0))) {
            Fail(MapTextError::MissingHeader);
            return;
        }
        tooLarge = tooLarge || number.tooLarge;
    }
    if (tooLarge) {
        Fail(MapTextError::TooLarge);
        return;
    }
    const auto columns = static_cast<std::int64_t>(headerNumbers_[0].magnitude);
    const auto rows = static_cast<std::int64_t>(headerNumbers_[1].magnitude);
    // Checked before the width is computed, so nothing here can overflow.
    const std::int64_t step = ColumnStep(mode_);
    if (columns > std::numeric_limits<std::int32_t>::max() / step || !bmp::CanHold(columns * step, rows) ||
        columns * step > maxWidth_) {
        Fail(MapTextError::TooLarge);
        return;
    }
    if (columns == 0 || rows == 0) {
        Fail(MapTextError::NoCells);
        return;
    }
    summary_.columns = columns;
    summary_.rows = rows;
    summary_.width = columns * step;
    state_ = State::Rows;
    // Room for the cells of a row grows with the text actually present (a
    // cell takes at least 10 bytes), however many the header announces.
    TryToAllocate([&] { cells_.resize(static_cast<std::size_t>(std::min<std::int64_t>(columns, 4096))); });
    sink_.Begin(summary_.width, rows);
}

void MapTextReader::RowByte(char c) {
    if (!inRecord_) {
        if (static_cast<std::int64_t>(cellCount_) == summary_.columns) {
            Fail(MapTextError::WrongCellCount);
            return;
        }
        inRecord_ = true;
        valueCount_ = 0;
        value_ = Number{};
        extraValues_ = false;
    }
    if (c == map_text::kRecordEnd) {
        if (EndRecord()) inRecord_ = false;
    } else if (c == map_text::kValueSeparator) {
        if (!EndValue()) return;
        if (valueCount_ == map_text::kValuesPerRecord) {
            Fail(MapTextError::NeedsFiveValues);
            return;
        }
        value_ = Number{};
    } else {
        value_.Add(c);
        if (value_.bad) Fail(MapTextError::NotANumber);
    }
}

bool MapTextReader::EndValue() {
    if (value_.bad || !value_.digits) return Fail(MapTextError::NotANumber);
    if (value_.tooLarge) {
        if (valueCount_ == 0) return Fail(MapTextError::ValueOutOfRange);
        extraValues_ = true;  // surely not 0
    } else {
        const auto magnitude = static_cast<std::int64_t>(value_.magnitude);
        const std::int64_t value = value_.negative ? -magnitude : magnitude;
        if (valueCount_ == 0) {
            firstValue_ = value;
        } else if (value != 0) {
            extraValues_ = true;
        }
    }
    ++valueCount_;
    return true;
}

bool MapTextReader::EndRecord() {
    if (!EndValue()) return false;
    if (valueCount_ != map_text::kValuesPerRecord) return Fail(MapTextError::NeedsFiveValues);
    if (firstValue_ < 0 || firstValue_ > 255) return Fail(MapTextError::ValueOutOfRange);
    if (extraValues_) ++summary_.cellsWithExtraValues;
    return PushCell(static_cast<std::uint8_t>(firstValue_));
}

bool MapTextReader::PushCell(std::uint8_t value) {
    if (cellCount_ == cells_.size()) {
        const std::size_t grown = static_cast<std::size_t>(
            std::min<std::int64_t>(summary_.columns, static_cast<std::int64_t>(std::max<std::size_t>(cells_.size() * 2, 4096))));
        if (!TryToAllocate([&] { cells_.resize(grown); })) return Fail(MapTextError::NoMemory);
    }
    cells_[cellCount_++] = value;
    return true;
}

void MapTextReader::EndRow() {
    if (inRecord_) {
        if (!EndRecord()) return;
        inRecord_ = false;
    }
    if (static_cast<std::int64_t>(cellCount_) != summary_.columns) {
        Fail(MapTextError::WrongCellCount);
        return;
    }
    std::uint8_t* row = sink_.Row(y_);
    if (row == nullptr) {
        Fail(MapTextError::NoMemory);
        return;
    }
    // Cell c goes to picture column (c * step + shift) mod width, and in the
    // two-to-one mode also to the column right of it.
    const std::int64_t width = summary_.width;
    const std::uint8_t* cell = cells_.data();
    const std::uint8_t* const last = cell + cellCount_;
    std::int64_t x = RowShift(y_, mode_) % width;
    if (mode_ == SampleMode::TwoToOne) {
        for (; cell != last; ++cell) {
            row[x] = *cell;
            if (++x == width) x = 0;
            row[x] = *cell;
            if (++x == width) x = 0;
        }
    } else {
        for (; cell != last; ++cell) {
            row[x] = *cell;
            if (++x == width) x = 0;
        }
    }
    sink_.RowDone(y_);
    cellCount_ = 0;
    if (++y_ == summary_.rows) state_ = State::AfterRows;
}

// Reads records of the usual form, a value of 1 to 3 digits and the record
// tail bmp2grid writes, and line ends, while at least 16 bytes are left;
// stops at anything else, for Byte() to read. Returns where it stopped.
const char* MapTextReader::FastRecords(const char* p, const char* end) {
    static_assert(map_text::kMaxRecordLength + 2 <= 16);
    constexpr std::string_view kRest = map_text::kRecordTail;
    const auto columns = static_cast<std::size_t>(summary_.columns);
    while (end - p >= 16) {
        if (p[0] == '\r' || p[0] == '\n') {
            const int length = p[0] == '\n' ? 1 : p[1] == '\n' ? 2 : 0;
            if (length == 0 || cellCount_ != columns) break;
            p += length;
            EndLine();
            if (state_ != State::Rows) break;
            continue;
        }
        if (cellCount_ == columns || cellCount_ == cells_.size()) break;
        unsigned value = static_cast<unsigned>(p[0] - '0');
        if (value > 9) break;
        const char* q = p + 1;
        unsigned digit = static_cast<unsigned>(*q - '0');
        if (digit <= 9) {
            value = value * 10 + digit;
            digit = static_cast<unsigned>(*++q - '0');
            if (digit <= 9) {
                value = value * 10 + digit;
                ++q;
            }
        }
        if (value > 255 || std::memcmp(q, kRest.data(), kRest.size()) != 0) break;
        cells_[cellCount_++] = static_cast<std::uint8_t>(value);
        lineHasBytes_ = true;
        p = q + kRest.size();
    }
    return p;
}

PictureCollector::PictureCollector(SampleMode mode, std::int64_t textBytes) : mode_(mode), textBytes_(textBytes) {}

void PictureCollector::Begin(std::int64_t width, std::int64_t rows) {
    picture.width = width;
    picture.rows = rows;
    if (textBytes_ < 0) return;
    // Room for as many rows as the text can hold is asked for at once (a
    // row of n cells takes at least 10n - 1 bytes); if that fails the rows
    // still grow one by one.
    const std::int64_t columns = width / ColumnStep(mode_);
    const std::int64_t rowsTextCanHold = std::min(rows, textBytes_ / (10 * columns - 1));
    TryToAllocate([&] { picture.pixels.reserve(static_cast<std::size_t>(rowsTextCanHold * width)); });
}

std::uint8_t* PictureCollector::Row(std::int64_t y) {
    const auto start = static_cast<std::size_t>(y * picture.width);
    if (!TryToAllocate([&] { picture.pixels.resize(start + static_cast<std::size_t>(picture.width)); }))
        return nullptr;
    return picture.pixels.data() + start;
}

void PictureCollector::RowDone(std::int64_t) {}

MapReadResult ReadMapText(std::string_view text, SampleMode mode) {
    PictureCollector collector(mode, static_cast<std::int64_t>(text.size()));
    MapTextReader reader(mode, collector);
    reader.Feed(text.data(), text.size());
    MapReadResult result;
    static_cast<MapTextSummary&>(result) = reader.Finish();
    if (result.ok()) result.picture = std::move(collector.picture);
    return result;
}

}  // namespace bmp2grid
