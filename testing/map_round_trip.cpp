#include "map_round_trip.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bitmap_loader.h"
#include "bitmap_writer.h"
#include "builtin_palette.h"
#include "diagnostics.h"
#include "grid_command_line.h"
#include "map_reader.h"
#include "map_writer.h"
#include "memory_sink.h"

namespace bmp2grid::fuzzing {
namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

// Lines as the reader counts them: after an optional UTF-8 byte-order mark,
// split at LF with a CR before it dropped; a last line without a line end
// counts if it holds something.
std::vector<std::string_view> Lines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> lines = Split(text, '\n');
    if (lines.back().empty()) lines.pop_back();
    for (std::string_view& line : lines)
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return lines;
}

enum class Number { Bad, Ok, OutOfRange };

Number ReadNumber(std::string_view text, long long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size() || text.empty()) return Number::Bad;
    if (error == std::errc::result_out_of_range) return Number::OutOfRange;
    return error == std::errc() ? Number::Ok : Number::Bad;
}

struct Cells {
    long long columns = 0;
    long long rows = 0;
    std::vector<int> values;  // first value of each cell, row by row
    std::int64_t withExtraValues = 0;
};

// The cells of text that the reader accepted, read in the plainest way;
// nothing when the text does not have the shape of a map after all.
std::optional<Cells> PlainCells(std::string_view text) {
    const std::vector<std::string_view> lines = Lines(text);
    if (lines.empty()) return std::nullopt;
    Cells cells;
    const std::size_t comma = lines[0].find(',');
    if (comma == std::string_view::npos || ReadNumber(lines[0].substr(0, comma), cells.columns) != Number::Ok ||
        ReadNumber(lines[0].substr(comma + 1), cells.rows) != Number::Ok ||
        static_cast<long long>(lines.size()) != cells.rows + 1)
        return std::nullopt;
    for (std::size_t y = 1; y < lines.size(); ++y) {
        std::vector<std::string_view> records = Split(lines[y], '\t');
        if (records.back().empty()) records.pop_back();  // the TAB that ends the last record
        if (static_cast<long long>(records.size()) != cells.columns) return std::nullopt;
        for (std::string_view record : records) {
            const std::vector<std::string_view> values = Split(record, ',');
            long long value = 0;
            if (values.size() != 5 || ReadNumber(values[0], value) != Number::Ok || value < 0 || value > 255)
                return std::nullopt;
            cells.values.push_back(static_cast<int>(value));
            bool extra = false;
            for (std::size_t i = 1; i < 5; ++i) {
                long long other = 0;
                const Number number = ReadNumber(values[i], other);
                if (number == Number::Bad) return std::nullopt;
                extra = extra || number == Number::OutOfRange || other != 0;
            }
            cells.withExtraValues += extra ? 1 : 0;
        }
    }
    return cells;
}

std::string CanonicalMapText(const Cells& cells) {
    std::string text = std::to_string(cells.columns) + "," + std::to_string(cells.rows) + "\r\n";
    std::size_t i = 0;
    for (long long y = 0; y < cells.rows; ++y) {
        for (long long c = 0; c < cells.columns; ++c) text += std::to_string(cells.values[i++]) + ",0,0,0,0\t";
        text += "\r\n";
    }
    return text;
}

// Whether reading `text` in pieces of `piece` bytes, which split records,
// numbers and line ends anywhere, gives what reading it whole gave.
bool SameInPieces(std::string_view text, SampleMode mode, std::size_t piece, const MapReadResult& whole) {
    PictureCollector collector(mode, -1);
    MapTextReader reader(mode, collector);
    for (std::size_t at = 0; at < text.size(); at += piece)
        if (!reader.Feed(text.data() + at, std::min(piece, text.size() - at))) break;
    const MapTextSummary summary = reader.Finish();
    return summary.error == whole.error && summary.line == whole.line &&
           summary.cellsWithExtraValues == whole.cellsWithExtraValues &&
           (!whole.ok() || collector.picture.pixels == whole.picture.pixels);
}

bool CheckOneMode(std::string_view text, SampleMode mode) {
    const MapReadResult map = ReadMapText(text, mode);
    if (!SameInPieces(text, mode, 1 + text.size() % 29, map)) return false;
    if (!map.ok()) {
        const auto lines = static_cast<std::int64_t>(Lines(text).size());
        return !MapTextErrorReason(map.error).empty() && map.line >= 1 && map.line <= lines + 1;
    }
    const std::optional<Cells> cells = PlainCells(text);
    // A picture without pixels opens in no viewer, so such maps are refused.
    if (!cells || cells->columns == 0 || cells->rows == 0 || map.columns != cells->columns || map.picture.rows != cells->rows ||
        map.picture.width != cells->columns * ColumnStep(mode) ||
        map.cellsWithExtraValues != cells->withExtraValues)
        return false;
    if (cells->columns * cells->rows > kMaxRoundTripCells) return true;

    static const ColourTable palette = BuiltInPalette();
    MemorySink bmp;
    if (!WriteBitmap(bmp, map.picture, palette)) return false;
    ByteBuffer file;
    if (!file.Reserve(bmp.size() + 1)) return true;
    std::memcpy(file.data(), bmp.data(), bmp.size());
    file.SetSize(bmp.size());
    const LoadResult loaded = DecodeBitmap(std::move(file), LoadOptions{});
    if (!loaded.ok() || loaded.picture.width != map.picture.width ||
        loaded.picture.rows != map.picture.rows)
        return false;
    MemorySink back;
    if (!WriteMapHeader(back, loaded.picture, mode) || WriteMapRows(back, loaded.picture, mode).status != MapWriteStatus::Ok)
        return false;
    return back.text() == CanonicalMapText(*cells);
}

}  // namespace

bool MapTextRoundTrip(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    return CheckOneMode(text, SampleMode::TwoToOne) && CheckOneMode(text, SampleMode::OneToOne);
}

}  // namespace bmp2grid::fuzzing
