// Tiled maps written from map text: the exact bytes of small maps worked
// out by hand, the tile layer of large maps read back cell by cell, the
// tile sheet's pixels and colours, and failed writes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "builtin_palette.h"
#include "diagnostics.h"
#include "map_reader.h"
#include "memory_sink.h"
#include "picture_loader.h"
#include "test_support.h"
#include "tile_sheet.h"
#include "tiled_format.h"
#include "tiled_writer.h"

namespace bmp2grid::test {
namespace {

// Map text of rows of cell values.
std::string MapTextOf(const std::vector<std::vector<int>>& cells) {
    std::string text = std::to_string(cells[0].size()) + "," + std::to_string(cells.size()) + "\r\n";
    for (const std::vector<int>& row : cells) {
        for (const int value : row) text += std::to_string(value) + ",0,0,0,0\t";
        text += "\r\n";
    }
    return text;
}

std::string TiledText(const std::string& mapText, TiledFormat format, SampleMode mode, std::string_view sheetName) {
    const MapReadResult map = ReadMapText(mapText, mode);
    EXPECT_TRUE(map.ok());
    MemorySink sink;
    EXPECT_TRUE(WriteTiledMap(sink, map.picture, format, mode, sheetName));
    return std::string(sink.text());
}

// Four rows of three cells: rows 2 and 3 are turned right by one cell in
// the tile layer, in both modes (cell c of row y in tile column
// (c + y / 2) mod 3); gids are values + 1.
const std::vector<std::vector<int>> kSmallMap = {
    {0, 1, 2},
    {10, 11, 12},
    {20, 21, 22},
    {30, 31, 255},
};
constexpr char kSmallCsv[] =
    "1,2,3,\n"
    "11,12,13,\n"
    "23,21,22,\n"
    "256,31,32\n";
constexpr char kSmallArray[] = "1, 2, 3, 11, 12, 13, 23, 21, 22, 256, 31, 32";

TEST(TiledWriter, SmallMapsByteForByte) {
    const std::string bricksTmx =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<map version=\"1.8\" orientation=\"hexagonal\" renderorder=\"right-down\" width=\"3\" height=\"4\" "
        "tilewidth=\"16\" tileheight=\"8\" infinite=\"0\" hexsidelength=\"8\" staggeraxis=\"y\" "
        "staggerindex=\"odd\" nextlayerid=\"2\" nextobjectid=\"1\">\n"
        " <tileset firstgid=\"1\" name=\"palette\" tilewidth=\"16\" tileheight=\"8\" tilecount=\"256\" "
        "columns=\"16\">\n"
        "  <image source=\"small.tiles.png\" width=\"256\" height=\"128\"/>\n"
        " </tileset>\n"
        " <layer id=\"1\" name=\"map\" width=\"3\" height=\"4\">\n"
        "  <data encoding=\"csv\">\n" +
        std::string(kSmallCsv) +
        "</data>\n"
        " </layer>\n"
        "</map>\n";
    const std::string squaresTmx =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<map version=\"1.8\" orientation=\"orthogonal\" renderorder=\"right-down\" width=\"3\" height=\"4\" "
        "tilewidth=\"8\" tileheight=\"8\" infinite=\"0\" nextlayerid=\"2\" nextobjectid=\"1\">\n"
        " <tileset firstgid=\"1\" name=\"palette\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"256\" "
        "columns=\"16\">\n"
        "  <image source=\"small.tiles.png\" width=\"128\" height=\"128\"/>\n"
        " </tileset>\n"
        " <layer id=\"1\" name=\"map\" width=\"3\" height=\"4\">\n"
        "  <data encoding=\"csv\">\n" +
        std::string(kSmallCsv) +
        "</data>\n"
        " </layer>\n"
        "</map>\n";
    const auto tmj = [](bool bricks) {
        const std::string tileWidth = bricks ? "16" : "8";
        return std::string("{ \"compressionlevel\":-1,\n \"height\":4,\n") +
               (bricks ? " \"hexsidelength\":8,\n" : "") +
               " \"infinite\":false,\n"
               " \"layers\":[\n"
               "        {\n"
               "         \"data\":[" +
               kSmallArray +
               "],\n"
               "         \"height\":4,\n"
               "         \"id\":1,\n"
               "         \"name\":\"map\",\n"
               "         \"opacity\":1,\n"
               "         \"type\":\"tilelayer\",\n"
               "         \"visible\":true,\n"
               "         \"width\":3,\n"
               "         \"x\":0,\n"
               "         \"y\":0\n"
               "        }],\n"
               " \"nextlayerid\":2,\n"
               " \"nextobjectid\":1,\n"
               " \"orientation\":\"" +
               (bricks ? "hexagonal" : "orthogonal") +
               "\",\n"
               " \"renderorder\":\"right-down\",\n" +
               (bricks ? " \"staggeraxis\":\"y\",\n \"staggerindex\":\"odd\",\n" : "") +
               " \"tileheight\":8,\n"
               " \"tilesets\":[\n"
               "        {\n"
               "         \"columns\":16,\n"
               "         \"firstgid\":1,\n"
               "         \"image\":\"small.tiles.png\",\n"
               "         \"imageheight\":128,\n"
               "         \"imagewidth\":" +
               (bricks ? "256" : "128") +
               ",\n"
               "         \"margin\":0,\n"
               "         \"name\":\"palette\",\n"
               "         \"spacing\":0,\n"
               "         \"tilecount\":256,\n"
               "         \"tileheight\":8,\n"
               "         \"tilewidth\":" +
               tileWidth +
               "\n"
               "        }],\n"
               " \"tilewidth\":" +
               tileWidth +
               ",\n"
               " \"type\":\"map\",\n"
               " \"version\":\"1.8\",\n"
               " \"width\":3\n"
               "}";
    };
    struct Case {
        SampleMode mode;
        TiledFormat format;
        std::string expected;
    };
    const Case cases[] = {
        {SampleMode::TwoToOne, TiledFormat::Tmx, bricksTmx},
        {SampleMode::OneToOne, TiledFormat::Tmx, squaresTmx},
        {SampleMode::TwoToOne, TiledFormat::Tmj, tmj(true)},
        {SampleMode::OneToOne, TiledFormat::Tmj, tmj(false)},
    };
    const std::string text = MapTextOf(kSmallMap);
    for (const Case& c : cases) {
        SCOPED_TRACE((c.mode == SampleMode::OneToOne ? "-1 " : "") +
                     std::string(c.format == TiledFormat::Tmx ? "tmx" : "tmj"));
        EXPECT_EQ(TiledText(text, c.format, c.mode, "small.tiles.png"), c.expected);
    }
}

TEST(TiledWriter, SheetNamesAreEscaped) {
    const std::string text = MapTextOf({{7}});
    struct Case {
        std::string name;
        std::string inTmx;
        std::string inTmj;
    };
    const Case cases[] = {
        {"a&b<c>\"d'.tiles.png", "source=\"a&amp;b&lt;c&gt;&quot;d'.tiles.png\"", "\"image\":\"a&b<c>\\\"d'.tiles.png\""},
        {"back\\slash.tiles.png", "source=\"back\\slash.tiles.png\"", "\"image\":\"back\\\\slash.tiles.png\""},
        {"tab\there.tiles.png", "source=\"tab&#9;here.tiles.png\"", "\"image\":\"tab\\u0009here.tiles.png\""},
        {"gr\xC3\xBC\xC3\x9F.tiles.png", "source=\"gr\xC3\xBC\xC3\x9F.tiles.png\"", "\"image\":\"gr\xC3\xBC\xC3\x9F.tiles.png\""},
    };
    for (const Case& c : cases) {
        const std::string tmx = TiledText(text, TiledFormat::Tmx, SampleMode::OneToOne, c.name);
        EXPECT_NE(tmx.find(c.inTmx), std::string::npos) << tmx;
        const std::string tmj = TiledText(text, TiledFormat::Tmj, SampleMode::OneToOne, c.name);
        EXPECT_NE(tmj.find(c.inTmj), std::string::npos) << tmj;
    }
}

// The gids of a written map's tile layer, row by row.
std::vector<std::vector<std::int64_t>> Gids(const std::string& map, TiledFormat format) {
    const bool tmx = format == TiledFormat::Tmx;
    const std::string open = tmx ? "<data encoding=\"csv\">\n" : "\"data\":[";
    const std::size_t begin = map.find(open) + open.size();
    const std::size_t end = map.find(tmx ? "\n</data>" : "]", begin);
    std::vector<std::vector<std::int64_t>> rows(1);
    std::string number;
    for (std::size_t i = begin; i <= end; ++i) {
        const char c = i < end ? map[i] : ',';
        if (c >= '0' && c <= '9') {
            number += c;
        } else if (c == ',') {
            rows.back().push_back(std::stoll(number));
            number.clear();
        } else if (c == '\n') {
            rows.emplace_back();
        } else {
            EXPECT_EQ(c, ' ') << "at " << i;
        }
    }
    return rows;
}

TEST(TiledWriter, LargeMapsKeepEveryCellInItsTile) {
    // Rows longer than a step of tiles and maps of many blocks of text,
    // odd and even column counts: tile (x, y) holds map cell
    // CellOfTile(x, y) of row y, its value plus 1. TMX has one line a row;
    // Tiled's JSON one flat array.
    for (const auto& [columns, rows] : {std::pair{4099, 300}, std::pair{5000, 301}, std::pair{7, 33}}) {
        std::mt19937 gen(static_cast<std::uint32_t>(columns));
        std::vector<std::vector<int>> cells(static_cast<std::size_t>(rows), std::vector<int>(columns));
        for (auto& row : cells)
            for (int& value : row) value = static_cast<int>(gen() % 256);
        const std::string text = MapTextOf(cells);
        for (const SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
            for (const TiledFormat format : {TiledFormat::Tmx, TiledFormat::Tmj}) {
                const bool tmx = format == TiledFormat::Tmx;
                SCOPED_TRACE(std::to_string(columns) + "x" + std::to_string(rows) +
                             (mode == SampleMode::OneToOne ? " -1 " : " ") + (tmx ? "tmx" : "tmj"));
                const std::vector<std::vector<std::int64_t>> gids = Gids(TiledText(text, format, mode, "s.png"), format);
                std::vector<std::int64_t> flat;
                for (const auto& row : gids) flat.insert(flat.end(), row.begin(), row.end());
                ASSERT_EQ(gids.size(), tmx ? static_cast<std::size_t>(rows) : 1u);
                ASSERT_EQ(flat.size(), static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
                std::int64_t wrong = 0;
                for (std::int64_t y = 0; y < rows; ++y) {
                    for (std::int64_t x = 0; x < columns; ++x) {
                        const int value = cells[static_cast<std::size_t>(y)][static_cast<std::size_t>(
                            tiled::CellOfTile(x, y, columns))];
                        if (flat[static_cast<std::size_t>(y * columns + x)] != value + 1) ++wrong;
                    }
                }
                EXPECT_EQ(wrong, 0);
            }
        }
    }
}

// A sink that fails once `limit` bytes have been written.
class FailingSink final : public OutputSink {
public:
    explicit FailingSink(std::size_t limit) : limit_(limit) {}
    bool Write(const char*, std::size_t size) override {
        if (failed_) ++writesAfterFailing_;
        written_ += size;
        failed_ = failed_ || written_ > limit_;
        return !failed_;
    }
    int writesAfterFailing() const { return writesAfterFailing_; }

private:
    std::size_t limit_;
    std::size_t written_ = 0;
    bool failed_ = false;
    int writesAfterFailing_ = 0;
};

TEST(TiledWriter, AFailedWriteIsKeptAndNothingMoreIsWritten) {
    // Maps of a few MB of text: the head, a block, the tail fail.
    const MapReadResult map = ReadMapText(ReferenceMap(RandomPicture(2000, 600, 3), SampleMode::TwoToOne),
                                          SampleMode::TwoToOne);
    ASSERT_TRUE(map.ok());
    for (const TiledFormat format : {TiledFormat::Tmx, TiledFormat::Tmj}) {
        MemorySink whole;
        ASSERT_TRUE(WriteTiledMap(whole, map.picture, format, SampleMode::TwoToOne, "s.png"));
        ASSERT_GT(whole.size(), std::size_t{2} << 20);
        for (const std::size_t limit : {std::size_t{0}, std::size_t{600}, std::size_t{1} << 20, whole.size() - 10}) {
            FailingSink sink(limit);
            EXPECT_FALSE(WriteTiledMap(sink, map.picture, format, SampleMode::TwoToOne, "s.png")) << limit;
            EXPECT_EQ(sink.writesAfterFailing(), 0) << limit;
        }
    }
}

TEST(TileSheet, OneSwatchOfEachColourInRowsOfSixteen) {
    ColourTable palette{};
    for (int i = 0; i < 256; ++i)
        palette[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                                static_cast<std::uint8_t>(i ^ 0x55), 0};
    struct Case {
        tiled::Shape shape;
        std::int64_t tileWidth;
    };
    for (const Case& c : {Case{tiled::Shape::Bricks, 16}, Case{tiled::Shape::Squares, 8}}) {
        SCOPED_TRACE(c.tileWidth);
        MemorySink sink;
        ASSERT_TRUE(WriteTileSheet(sink, palette, c.shape));
        ByteBuffer bytes;
        ASSERT_TRUE(bytes.Reserve(sink.size() + 1));
        std::memcpy(bytes.data(), sink.data(), sink.size());
        bytes.SetSize(sink.size());
        LoadOptions whole;
        whole.decodePngWhole = true;
        LoadResult loaded = DecodePicture(std::move(bytes), whole);
        ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
        EXPECT_EQ(loaded.picture.colours, palette);
        const IndexedPicture sheet = PictureOf(loaded.picture);
        ASSERT_EQ(sheet.width, 16 * c.tileWidth);
        ASSERT_EQ(sheet.rows, 16 * 8);
        std::int64_t wrong = 0;
        for (std::int64_t y = 0; y < sheet.rows; ++y)
            for (std::int64_t x = 0; x < sheet.width; ++x)
                if (sheet.at(x, y) != (y / 8) * 16 + x / c.tileWidth) ++wrong;
        EXPECT_EQ(wrong, 0);
        // The sink's failure is the sheet's.
        FailingSink failing(100);
        EXPECT_FALSE(WriteTileSheet(failing, palette, c.shape));
    }
}

TEST(TileSheet, SheetPathBesideTheMap) {
    const std::pair<std::string, std::string> cases[] = {
        {"cave.tmx", "cave.tiles.png"},
        {"maps/cave.tmx", "maps/cave.tiles.png"},
        {"/abs/maps.v2/cave", "/abs/maps.v2/cave.tiles.png"},
        {"a.b.tmj", "a.b.tiles.png"},
        {"./-", "./-.tiles.png"},
        {"maps/.tmx", "maps/.tmx.tiles.png"},
    };
    for (const auto& [map, sheet] : cases) EXPECT_EQ(SheetPathBeside(map), sheet) << map;
}

}  // namespace
}  // namespace bmp2grid::test
