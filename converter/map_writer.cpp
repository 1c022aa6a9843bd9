#include "map_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>

#include "block_output.h"

namespace bmp2grid {
namespace {

// Each of the 256 possible cell records, made by the compiler, so that no
// run pays for formatting them. A record is at most 12 bytes
// ("255,0,0,0,0\t"); slots are 16 bytes so that copying one is a single
// fixed-size move.
struct CellRecords {
    static constexpr std::size_t kSlot = 16;
    static constexpr std::size_t kMaxLength = map_text::kMaxRecordLength;
    std::array<std::array<char, kSlot>, 256> text{};
    std::array<std::uint8_t, 256> length{};

    constexpr CellRecords() {
        for (int value = 0; value < 256; ++value) {
            auto& record = text[static_cast<std::size_t>(value)];
            std::size_t n = 0;
            if (value >= 100) record[n++] = static_cast<char>('0' + value / 100);
            if (value >= 10) record[n++] = static_cast<char>('0' + value / 10 % 10);
            record[n++] = static_cast<char>('0' + value % 10);
            for (const char c : map_text::kRecordTail) record[n++] = c;
            length[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(n);
        }
    }
};

constexpr CellRecords kRecords;
static_assert(kRecords.length[255] == CellRecords::kMaxLength && kRecords.length[0] == 10);

// The records with index i's cells written as `values[i]`.
CellRecords RecordsFor(const IndexMap& values) {
    CellRecords records;
    for (std::size_t i = 0; i < values.size(); ++i) {
        records.text[i] = kRecords.text[values[i]];
        records.length[i] = kRecords.length[values[i]];
    }
    return records;
}

// Appends `count` cell records, reading row[column], row[column + step], ...
// and wrapping at `width`. The caller ensures the block has room for them.
// Returns the column after the last one read.
template <std::int64_t kStep>
std::int64_t AppendCells(BlockWriter& writer, const CellRecords& records, const std::uint8_t* row,
                         std::int64_t width, std::int64_t column, std::int64_t count) {
    char* out = writer.Cursor();
    while (count > 0) {
        // Cells up to the right edge need no wrap check.
        const std::int64_t beforeEdge = std::min(count, (width - column + kStep - 1) / kStep);
        const std::uint8_t* pixel = row + column;
        for (std::int64_t i = 0; i < beforeEdge; ++i, pixel += kStep) {
            const std::uint8_t value = *pixel;
            std::memcpy(out, records.text[value].data(), CellRecords::kSlot);
            out += records.length[value];
        }
        count -= beforeEdge;
        column += beforeEdge * kStep - width;  // wrap to the left edge
    }
    writer.Advance(out);
    return column < 0 ? column + width : column;
}

// Ends a row line. Returns false if the output failed.
bool EndLine(BlockWriter& writer) {
    if (writer.Room() < map_text::kLineEnd.size() && !writer.Flush()) return false;
    char* out = writer.Cursor();
    std::memcpy(out, map_text::kLineEnd.data(), map_text::kLineEnd.size());
    writer.Advance(out + map_text::kLineEnd.size());
    return true;
}

// Formats the rows of a picture kept in its file whose rows are wider than
// the row window. The cells of a row read columns s, s + step, ... up to the
// right edge and then, wrapping once at most, on from the left edge; each
// stretch of them is read as consecutive windows of columns, so no more than
// a window of the row is held at a time.
template <std::int64_t kStep>
MapWriteStatus FormatWideRows(BlockWriter& writer, const CellRecords& records, const Picture& image,
                              SampleMode mode, RowReader& rows, RowCheck* check) {
    const std::int64_t width = image.width;
    const std::int64_t cells = MapColumnCount(width, mode);
    for (std::int64_t y = 0; y < image.rows; ++y) {
        // The whole row is checked, a window at a time, before its cells.
        for (std::int64_t first = 0; check != nullptr && first < width; first += rows.WindowBytes()) {
            const std::int64_t count = std::min(rows.WindowBytes(), width - first);
            const std::uint8_t* pixels = rows.Columns(y, first, count);
            if (pixels == nullptr) return MapWriteStatus::InputFailed;
            if (!check->Check(pixels, count, first, y)) return MapWriteStatus::Refused;
        }
        std::int64_t column = RowShift(y, mode) % width;
        for (std::int64_t left = cells; left > 0;) {
            // From the next cell's column to the right edge, the window's
            // end or the last cell's column, whichever comes first.
            const std::int64_t span =
                std::min({width - column, rows.WindowBytes(), (left - 1) * kStep + 1});
            const std::uint8_t* pixels = rows.Columns(y, column, span);
            if (pixels == nullptr) return MapWriteStatus::InputFailed;
            std::int64_t inWindow = (span + kStep - 1) / kStep;
            left -= inWindow;
            column += inWindow * kStep;
            if (column >= width) column -= width;
            // The window is `span` columns wide and its cells don't reach
            // its end, so AppendCells never wraps inside it.
            for (std::int64_t at = 0; inWindow > 0;) {
                const auto fit = static_cast<std::int64_t>(writer.Room() / CellRecords::kMaxLength);
                if (fit == 0) {
                    if (!writer.Flush()) return MapWriteStatus::OutputFailed;
                    continue;
                }
                const std::int64_t batch = std::min(inWindow, fit);
                AppendCells<kStep>(writer, records, pixels, span, at, batch);
                at += batch * kStep;
                inWindow -= batch;
            }
        }
        if (!EndLine(writer)) return MapWriteStatus::OutputFailed;
    }
    return writer.Flush() ? MapWriteStatus::Ok : MapWriteStatus::OutputFailed;
}

template <std::int64_t kStep>
MapWriteStatus FormatRows(BlockWriter& writer, const CellRecords& records, const Picture& image,
                          SampleMode mode, RowReader& rows, RowCheck* check) {
    const std::int64_t width = image.width;
    const std::int64_t cells = MapColumnCount(width, mode);
    if (rows.Wide()) return FormatWideRows<kStep>(writer, records, image, mode, rows, check);
    for (std::int64_t y = 0; y < image.rows; ++y) {
        if (cells > 0 || rows.Decodes() || (check != nullptr && width > 0)) {
            const std::uint8_t* row = rows.Row(y);
            if (row == nullptr) return MapWriteStatus::InputFailed;
            if (check != nullptr && !check->Check(row, width, 0, y)) return MapWriteStatus::Refused;
            std::int64_t column = RowShift(y, mode) % width;
            for (std::int64_t left = cells; left > 0;) {
                const auto fit = static_cast<std::int64_t>(writer.Room() / CellRecords::kMaxLength);
                if (fit == 0) {
                    if (!writer.Flush()) return MapWriteStatus::OutputFailed;
                    continue;
                }
                const std::int64_t batch = std::min(left, fit);
                column = AppendCells<kStep>(writer, records, row, width, column, batch);
                left -= batch;
            }
        }
        if (!EndLine(writer)) return MapWriteStatus::OutputFailed;
    }
    return writer.Flush() ? MapWriteStatus::Ok : MapWriteStatus::OutputFailed;
}

// Formats the whole map. Memory that runs out on the way (for the row
// window, or in passing a block on) ends it with NoMemory.
MapWriteResult FormatMap(BlockWriter& writer, const CellRecords& records, const Picture& image,
                         SampleMode mode, std::int64_t windowBytes, RowCheck* check) {
    MapWriteResult result;
    const std::unique_ptr<RowReader> rows = image.ReadRows(windowBytes);
    if (rows == nullptr) return {MapWriteStatus::NoMemory, {}};
    try {
        result.status = mode == SampleMode::TwoToOne ? FormatRows<2>(writer, records, image, mode, *rows, check)
                                                     : FormatRows<1>(writer, records, image, mode, *rows, check);
    } catch (const std::bad_alloc&) {
        result.status = MapWriteStatus::NoMemory;
    }
    if (result.status == MapWriteStatus::InputFailed) {
        result.input = rows->Failure();
        if (result.input.error == LoadError::NoMemory) result = {MapWriteStatus::NoMemory, {}};
    }
    return result;
}

// The row lines' size with every cell's record `cellBytes` long (an upper
// bound of their size with the longest, a lower one with the shortest),
// saturating at `limit`.
std::int64_t RowsSizeUpTo(const Picture& image, SampleMode mode, std::int64_t limit,
                          std::int64_t cellBytes = CellRecords::kMaxLength) {
    const std::int64_t bytesPerRow = MapColumnCount(image.width, mode) * cellBytes +
                                    static_cast<std::int64_t>(map_text::kLineEnd.size());
    return image.rows > limit / bytesPerRow ? limit : image.rows * bytesPerRow;
}

// Formats the whole map into the blocks it is given, keeping what came of it.
class MapFormatter final : public BlockFiller {
public:
    MapFormatter(const CellRecords& records, const Picture& image, SampleMode mode, std::int64_t windowBytes,
                 RowCheck* check)
        : records_(records), image_(image), mode_(mode), windowBytes_(windowBytes), check_(check) {}

    void Fill(BlockWriter& writer) override {
        result = FormatMap(writer, records_, image_, mode_, windowBytes_, check_);
    }

    MapWriteResult result;

private:
    const CellRecords& records_;
    const Picture& image_;
    SampleMode mode_;
    std::int64_t windowBytes_;
    RowCheck* check_;
};

// Writes every row line with `records`.
MapWriteResult WriteRows(OutputSink& sink, const CellRecords& records, const Picture& image,
                         SampleMode mode, std::int64_t rowWindowBytes, RowCheck* check) {
    const std::int64_t window = std::max<std::int64_t>(1, rowWindowBytes);
    // A second thread pays off only for maps of more than a few blocks going
    // where writing takes time; small maps need no more than a block of
    // their own size.
    constexpr auto kThreadFrom = static_cast<std::int64_t>(8 * kMapBlockBytes);
    const std::int64_t size = RowsSizeUpTo(image, mode, kThreadFrom);
    // A big map's space is set aside, for the bytes its rows take at the
    // least (every record at its shortest), so that all of it is written:
    // space set aside and left unwritten can't always be handed back (btrfs
    // keeps an extent whole while any of it is in use). A small map's would
    // cost more than it saves. A picture whose pixel bytes are all at hand
    // has its map's space set aside at once; one whose rows are decoded as
    // the map is written (its header alone promises them), in steps as its
    // bytes arrive.
    std::optional<SteppedReservation> stepped;
    OutputSink* output = &sink;
    if (size == kThreadFrom) {
        const std::uint8_t shortest = *std::min_element(records.length.begin(), records.length.end());
        const std::int64_t total = RowsSizeUpTo(image, mode, std::numeric_limits<std::int64_t>::max(), shortest);
        if (image.Where() == PixelStore::Kept::AsDecoded) {
            output = &stepped.emplace(sink, total);
        } else {
            sink.Reserve(total);
        }
    }
    // Blocks of kMapBlockBytes (a small map's of its own size), each with
    // room past its end to copy a last record as a whole slot.
    const BlockShape shape{std::min(kMapBlockBytes, static_cast<std::size_t>(size) + map_text::kLineEnd.size()),
                           CellRecords::kSlot};
    MapFormatter formatter(records, image, mode, window, check);
    switch (FillBlocks(*output, shape, size == kThreadFrom && output->OverlapsWork(), formatter)) {
        case BlockOutcome::Passed:
            return formatter.result;
        case BlockOutcome::OutputFailed:
            return {MapWriteStatus::OutputFailed, {}};
        case BlockOutcome::NoMemory:
            return {MapWriteStatus::NoMemory, {}};
    }
    return {MapWriteStatus::OutputFailed, {}};
}

}  // namespace

bool WriteMapHeader(OutputSink& output, const Picture& image, SampleMode mode) {
    const std::string line = std::to_string(MapColumnCount(image.width, mode)) + map_text::kHeaderSeparator +
                             std::to_string(image.rows) + std::string(map_text::kLineEnd);
    return output.Write(line.data(), line.size());
}

MapWriteResult WriteMapRows(OutputSink& output, const Picture& image, SampleMode mode,
                            std::int64_t rowWindowBytes) {
    return WriteRows(output, kRecords, image, mode, rowWindowBytes, nullptr);
}

MapWriteResult WriteMapRows(OutputSink& output, const Picture& image, SampleMode mode, const IndexMap& values,
                            RowCheck* check, std::int64_t rowWindowBytes) {
    const CellRecords records = RecordsFor(values);
    return WriteRows(output, records, image, mode, rowWindowBytes, check);
}

}  // namespace bmp2grid
