// Map text back to a picture: the round trip through bmp2grid, the written
// BMP byte for byte, and every refusal.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "bitmap_writer.h"
#include "builtin_palette.h"
#include "command_line.h"
#include "diagnostics.h"
#include "grid_command_line.h"
#include "map_reader.h"
#include "map_text_cases.h"
#include "memory_sink.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

// Random map text of `columns` x `rows` cells with values in runs.
std::string RandomMapText(std::int64_t columns, std::int64_t rows, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::string text = std::to_string(columns) + "," + std::to_string(rows) + "\r\n";
    int value = 0;
    for (std::int64_t y = 0; y < rows; ++y) {
        for (std::int64_t c = 0; c < columns; ++c) {
            if (gen() % 4 == 0) value = static_cast<int>(gen() % 256);
            text += std::to_string(value) + ",0,0,0,0\t";
        }
        text += "\r\n";
    }
    return text;
}

std::string BitmapBytes(const IndexedPicture& picture, const ColourTable& palette) {
    MemorySink sink;
    EXPECT_TRUE(WriteBitmap(sink, picture, palette));
    return std::string(sink.text());
}

TEST(MapReader, RoundTripThroughTheConverter) {
    std::uint32_t seed = 100;
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
        for (std::int64_t columns : {1, 2, 3, 4, 5, 7, 8, 33})
            for (std::int64_t rows : {1, 2, 3, 19, 90}) {  // 90 rows shift past every width
                const std::string text = RandomMapText(columns, rows, ++seed);
                const MapReadResult map = ReadMapText(text, mode);
                ASSERT_TRUE(map.ok()) << map.line << ": " << MapTextErrorReason(map.error);
                const std::string bmp = BitmapBytes(map.picture, BuiltInPalette());
                LoadResult loaded = DecodeBytes(Bytes(bmp.begin(), bmp.end()));
                ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
                EXPECT_EQ(MapText(loaded.picture, mode), text)
                    << columns << "x" << rows << " mode " << static_cast<int>(mode);
            }
}

TEST(MapReader, EveryPixelIsSetInTheTwoToOneMode) {
    // Values 1..255 only, so a pixel left at 0 would show.
    std::string text = "3,5\r\n";
    for (int y = 0; y < 5; ++y) {
        for (int c = 0; c < 3; ++c) text += std::to_string(1 + y * 3 + c) + ",0,0,0,0\t";
        text += "\r\n";
    }
    const MapReadResult map = ReadMapText(text, SampleMode::TwoToOne);
    ASSERT_TRUE(map.ok());
    EXPECT_EQ(map.picture.width, 6);
    for (std::uint8_t pixel : map.picture.pixels) EXPECT_NE(pixel, 0);
}

TEST(MapReader, WritesTheExpectedBitmapBytes) {
    // One-to-one, 3 x 2: rows are padded to 4 bytes and stored bottom first;
    // row 1 is shifted by 0 (1 / 2), so it keeps its order.
    const MapReadResult map = ReadMapText("3,2\n7,0,0,0,0\t8,0,0,0,0\t9,0,0,0,0\t\n4,0,0,0,0\t5,0,0,0,0\t6,0,0,0,0\t\n",
                                          SampleMode::OneToOne);
    ASSERT_TRUE(map.ok());
    ColourTable palette{};
    for (std::size_t i = 0; i < 256; ++i) palette[i] = {static_cast<std::uint8_t>(i), 1, 2, 0};

    Bytes expected = {'B', 'M', 0x3E, 0x04, 0, 0, 0, 0, 0, 0, 0x36, 0x04, 0, 0,  // file header
                      40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0,             // size, 3 x 2, 8 bits
                      0, 0, 0, 0, 8, 0, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0,  // none, 8 bytes, 72 dpi
                      0, 1, 0, 0, 0, 0, 0, 0};                                     // 256 colours
    for (std::size_t i = 0; i < 256; ++i) expected.insert(expected.end(), {static_cast<std::uint8_t>(i), 1, 2, 0});
    expected.insert(expected.end(), {4, 5, 6, 0, 7, 8, 9, 0});
    const std::string bytes = BitmapBytes(map.picture, palette);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), expected);
}

TEST(MapReader, CountsCellsWithValuesThePictureCannotKeep) {
    const MapReadResult map = ReadMapText("2,2\r\n1,0,0,0,0\t2,0,3,0,0\t\r\n3,0,0,0,-1\t4,9,9,9,9\t\r\n",
                                          SampleMode::OneToOne);
    ASSERT_TRUE(map.ok());
    EXPECT_EQ(map.cellsWithExtraValues, 3);
}

TEST(MapReader, RefusesBadMapText) {
    for (const fuzzing::MapTextCase& c : fuzzing::MapTextCases()) {
        if (c.line == 0) continue;
        const MapReadResult map = ReadMapText(c.text, c.mode);
        EXPECT_FALSE(map.ok()) << c.name;
        EXPECT_EQ(map.line, c.line) << c.name;
        EXPECT_EQ(map.error, c.error) << c.name;
    }
}

TEST(MapReader, AcceptsGoodMapText) {
    for (const fuzzing::MapTextCase& c : fuzzing::MapTextCases()) {
        if (c.line != 0) continue;
        const MapReadResult map = ReadMapText(c.text, c.mode);
        EXPECT_TRUE(map.ok()) << c.name << ": line " << map.line << ": " << MapTextErrorReason(map.error);
    }
}

TEST(MapReader, AcceptsBothLineEnds) {
    const std::string crlf = "2,1\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n";
    const std::string lf = "2,1\n1,0,0,0,0\t2,0,0,0,0\t\n";
    const std::string noFinalEnd = "2,1\n1,0,0,0,0\t2,0,0,0,0\t";
    const MapReadResult reference = ReadMapText(crlf, SampleMode::TwoToOne);
    ASSERT_TRUE(reference.ok());
    for (const std::string& text : {lf, noFinalEnd}) {
        const MapReadResult map = ReadMapText(text, SampleMode::TwoToOne);
        ASSERT_TRUE(map.ok()) << MapTextErrorReason(map.error);
        EXPECT_EQ(map.picture.pixels, reference.picture.pixels);
    }
}

TEST(MapReader, SkipsAByteOrderMark) {
    // Windows Notepad starts the files it saves as UTF-8 with one.
    const std::string text = "2,1\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n";
    const MapReadResult reference = ReadMapText(text, SampleMode::TwoToOne);
    const MapReadResult map = ReadMapText("\xEF\xBB\xBF" + text, SampleMode::TwoToOne);
    ASSERT_TRUE(map.ok()) << map.line << ": " << MapTextErrorReason(map.error);
    EXPECT_EQ(map.picture.pixels, reference.picture.pixels);
}

// Feeds `text` to the reader in pieces of `piece` bytes.
MapReadResult ReadInPieces(std::string_view text, SampleMode mode, std::size_t piece) {
    PictureCollector collector(mode, -1);
    MapTextReader reader(mode, collector);
    for (std::size_t at = 0; at < text.size(); at += piece)
        if (!reader.Feed(text.data() + at, std::min(piece, text.size() - at))) break;
    MapReadResult result;
    static_cast<MapTextSummary&>(result) = reader.Finish();
    if (result.ok()) result.picture = std::move(collector.picture);
    return result;
}

TEST(MapReader, ReadsTextInPiecesOfAnySize) {
    // Pieces split records, numbers, CR LF and the byte-order mark anywhere,
    // and pieces under 16 bytes never take the reader's fast path: every
    // text gives the same outcome, line and picture as when read whole.
    std::vector<std::pair<std::string, SampleMode>> texts;
    for (const fuzzing::MapTextCase& c : fuzzing::MapTextCases()) texts.emplace_back(c.text, c.mode);
    // Each byte of a good map replaced by each of the bytes that matter.
    const std::string map = "\xEF\xBB\xBF" + RandomMapText(3, 3, 7);
    for (std::size_t at = 0; at < map.size(); ++at)
        for (const char c : std::string("x\t,\r\n9-")) {
            std::string changed = map;
            changed[at] = c;
            texts.emplace_back(changed, SampleMode::TwoToOne);
        }
    texts.emplace_back(RandomMapText(40, 30, 8), SampleMode::OneToOne);
    texts.emplace_back("3,1\r\n255,0,0,0,0\t256,0,0,0,0\t1,0,0,0,0\t\r\n", SampleMode::OneToOne);
    texts.emplace_back("3,1\r\n1,0,0,0,0\t1234,0,0,0,0\t1,0,0,0,0\t\r\n", SampleMode::OneToOne);
    texts.emplace_back("3,1\r\n1,0,0,0,0\t2,0,0,0,0\t3,0,0,0,0\t4\r\n", SampleMode::OneToOne);
    for (const auto& [text, mode] : texts) {
        const MapReadResult whole = ReadMapText(text, mode);
        for (const std::size_t piece : {1, 2, 3, 5, 10, 16, 17, 64}) {
            const MapReadResult map = ReadInPieces(text, mode, piece);
            ASSERT_EQ(map.error, whole.error) << piece << " " << testing::PrintToString(text);
            ASSERT_EQ(map.line, whole.line) << piece << " " << testing::PrintToString(text);
            ASSERT_EQ(map.picture.pixels, whole.picture.pixels) << piece << " " << testing::PrintToString(text);
            ASSERT_EQ(map.cellsWithExtraValues, whole.cellsWithExtraValues) << piece;
        }
    }
}

// Takes the headers written at offset 0, then fails every other write.
class FailingSink final : public SeekableSink {
public:
    bool Write(const char*, std::size_t) override { return false; }
    bool SetSize(std::int64_t) override { return true; }
    bool WriteAt(std::int64_t offset, const char*, std::size_t) override { return offset == 0; }
};

TEST(BitmapRowWriter, WritesWhatWriteBitmapWrites) {
    // Rows arrive top first and land bottom first, each at its own offset:
    // odd widths and every amount of padding, one row or several per block,
    // and a last block only partly filled.
    std::mt19937 gen(5);
    for (std::int64_t width : {1, 2, 3, 4, 5, 6, 7, 9})
        for (std::int64_t rows : {1, 2, 3, 7})
            for (std::int64_t blockBytes : {1, 8, 12, 20, 1 << 20}) {
                IndexedPicture picture{width, rows, {}};
                for (std::int64_t i = 0; i < width * rows; ++i) picture.pixels.push_back(static_cast<std::uint8_t>(gen()));
                MemorySink sink;
                BitmapRowWriter writer(sink, BuiltInPalette(), blockBytes);
                writer.Begin(width, rows);
                for (std::int64_t y = 0; y < rows; ++y) {
                    std::uint8_t* row = writer.Row(y);
                    ASSERT_NE(row, nullptr);
                    std::copy(picture.Row(y), picture.Row(y) + width, row);
                    writer.RowDone(y);
                }
                EXPECT_TRUE(writer.ok());
                EXPECT_TRUE(sink.text() == BitmapBytes(picture, BuiltInPalette()))
                    << width << "x" << rows << ", blocks of " << blockBytes;
            }

    // A failed write is remembered, at an offset or of a picture written in
    // one piece; the rows are still taken.
    for (std::int64_t blockBytes : {4, 1 << 20}) {
        FailingSink failing;
        BitmapRowWriter writer(failing, BuiltInPalette(), blockBytes);
        writer.Begin(3, 2);
        for (std::int64_t y = 0; y < 2; ++y) {
            ASSERT_NE(writer.Row(y), nullptr);
            writer.RowDone(y);
        }
        EXPECT_FALSE(writer.ok()) << blockBytes;
    }
}

TEST(MapReader, DistinctPaletteSeparatesNeighbours) {
    const ColourTable palette = BuiltInPalette();
    for (std::size_t i = 0; i + 1 < 256; ++i) {
        int distance = 0;
        for (std::size_t c = 0; c < 3; ++c) distance += std::abs(palette[i][c] - palette[i + 1][c]);
        EXPECT_GT(distance, 90) << "indices " << i << " and " << i + 1;
    }
}

}  // namespace
}  // namespace bmp2grid::test
