#include "map_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace bmp2grid {
namespace {

// Each of the 256 possible cell records, prepared once. A record is at most
// 12 bytes ("255,0,0,0,0\t"); slots are 16 bytes so that copying one is a
// single fixed-size move.
struct CellRecords {
    static constexpr std::size_t kSlot = 16;
    static constexpr std::size_t kMaxLength = 12;
    std::array<std::array<char, kSlot>, 256> text{};
    std::array<std::uint8_t, 256> length{};

    CellRecords() {
        for (int value = 0; value < 256; ++value) {
            char record[kSlot] = {};
            const int n = std::snprintf(record, sizeof record, "%d,0,0,0,0\t", value);
            std::memcpy(text[static_cast<std::size_t>(value)].data(), record, kSlot);
            length[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(n);
        }
    }
};

const CellRecords& Records() {
    static const CellRecords records;
    return records;
}

// Collects output in one fixed block and hands it to the sink when full, so
// the sink sees a few large writes and memory use does not grow with the map.
class BlockWriter {
public:
    static constexpr std::size_t kBlockSize = std::size_t{1} << 20;

    explicit BlockWriter(OutputSink& sink)
        : sink_(sink), block_(new char[kBlockSize + CellRecords::kSlot]) {}

    // Bytes that may still be appended before a flush is needed.
    std::size_t Room() const { return kBlockSize - used_; }
    char* Cursor() { return block_.get() + used_; }
    void Advance(char* cursor) { used_ = static_cast<std::size_t>(cursor - block_.get()); }

    bool Flush() {
        const bool ok = used_ == 0 || sink_.Write(block_.get(), used_);
        used_ = 0;
        return ok;
    }

private:
    OutputSink& sink_;
    std::unique_ptr<char[]> block_;
    std::size_t used_ = 0;
};

// Appends `count` cell records, reading row[column], row[column + step], ...
// and wrapping at `width`. The caller ensures the block has room for them.
// Returns the column after the last one read.
template <std::int64_t kStep>
std::int64_t AppendCells(BlockWriter& writer, const std::uint8_t* row, std::int64_t width,
                         std::int64_t column, std::int64_t count) {
    const CellRecords& records = Records();
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

template <std::int64_t kStep>
bool WriteRows(OutputSink& output, const BitmapImage& image, SampleMode mode) {
    BlockWriter writer(output);
    const std::int64_t width = image.width;
    const std::int64_t cells = MapColumnCount(width, mode);
    for (std::int64_t y = 0; y < image.rows; ++y) {
        if (cells > 0) {
            const std::uint8_t* row = image.Row(y);
            std::int64_t column = RowShift(y, mode) % width;
            for (std::int64_t left = cells; left > 0;) {
                const auto fit = static_cast<std::int64_t>(writer.Room() / CellRecords::kMaxLength);
                if (fit == 0) {
                    if (!writer.Flush()) return false;
                    continue;
                }
                const std::int64_t batch = std::min(left, fit);
                column = AppendCells<kStep>(writer, row, width, column, batch);
                left -= batch;
            }
        }
        if (writer.Room() < 2 && !writer.Flush()) return false;
        char* out = writer.Cursor();
        out[0] = '\r';
        out[1] = '\n';
        writer.Advance(out + 2);
    }
    return writer.Flush();
}

}  // namespace

bool WriteMapHeader(OutputSink& output, const BitmapImage& image, SampleMode mode) {
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%lld,%lld\r\n",
                                static_cast<long long>(MapColumnCount(image.width, mode)),
                                static_cast<long long>(image.rows));
    return output.Write(line, static_cast<std::size_t>(n));
}

bool WriteMapRows(OutputSink& output, const BitmapImage& image, SampleMode mode) {
    return mode == SampleMode::TwoToOne ? WriteRows<2>(output, image, mode)
                                        : WriteRows<1>(output, image, mode);
}

}  // namespace bmp2grid
