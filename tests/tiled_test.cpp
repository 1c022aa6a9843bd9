// End-to-end: bmp2grid reading Tiled maps (TMX and TMJ) as pictures: maps
// Tiled saved itself, in both shapes and every layer encoding, in both
// modes; each refusal with its words; layers picked by name; maps read
// from a pipe.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "process_runner.h"
#include "program_under_test.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

namespace fs = std::filesystem;

const std::string kData = BMP2GRID_TEST_DATA "/tiled";

using Tiles = std::vector<std::vector<int>>;

// tests/data/tiled/tiles.txt: the tile values of the squares-* and bricks-*
// maps, a tile row a line.
Tiles SavedTiles() {
    std::istringstream in(ReadFile(kData + "/tiles.txt"));
    Tiles tiles;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream values(line);
        tiles.emplace_back();
        for (int v; values >> v;) tiles.back().push_back(v);
    }
    return tiles;
}

// The picture a map of `tiles` is: square tile (x, y) is pixel (x, y);
// brick k of row y covers pixels 2k + (y mod 2) and the one to its right,
// the last brick of an odd row wrapping round to pixel 0.
IndexedPicture PictureOfTiles(const Tiles& tiles, bool bricks) {
    IndexedPicture picture;
    const auto columns = static_cast<std::int64_t>(tiles[0].size());
    picture.width = bricks ? 2 * columns : columns;
    picture.rows = static_cast<std::int64_t>(tiles.size());
    picture.pixels.resize(static_cast<std::size_t>(picture.width * picture.rows));
    for (std::int64_t y = 0; y < picture.rows; ++y) {
        for (std::int64_t k = 0; k < columns; ++k) {
            const auto value = static_cast<std::uint8_t>(tiles[static_cast<std::size_t>(y)][static_cast<std::size_t>(k)]);
            if (!bricks) {
                picture.pixels[static_cast<std::size_t>(y * picture.width + k)] = value;
                continue;
            }
            for (std::int64_t p : {2 * k + y % 2, 2 * k + y % 2 + 1})
                picture.pixels[static_cast<std::size_t>(y * picture.width + p % picture.width)] = value;
        }
    }
    return picture;
}

std::string SizeReport(std::int64_t width, std::int64_t rows, std::int64_t tiles) {
    return "Size: " + std::to_string(width) + "x" + std::to_string(rows) + " (should be " +
           std::to_string(width * rows) + " bytes, is " + std::to_string(4 * tiles) + " bytes)\n";
}

// A TMX map of square tiles, 3 x 2 unless `map` says otherwise, with the
// tilesets and layers given.
const std::string kSquares =
    R"(orientation="orthogonal" renderorder="right-down" width="3" height="2" tilewidth="8" tileheight="8" infinite="0")";
const std::string kBricks =
    R"(orientation="hexagonal" width="3" height="2" tilewidth="16" tileheight="8" hexsidelength="8" staggeraxis="y" staggerindex="odd")";
const std::string kTileset = R"( <tileset firstgid="1" name="palette" tilewidth="8" tileheight="8" tilecount="256"/>)"
                             "\n";

std::string Layer(const std::string& name, const std::string& csv, const std::string& size = R"(width="3" height="2")") {
    return " <layer id=\"1\" name=\"" + name + "\" " + size + ">\n  <data encoding=\"csv\">\n" + csv +
           "\n</data>\n </layer>\n";
}

std::string Tmx(const std::string& map = kSquares, const std::string& tilesets = kTileset,
                const std::string& layers = Layer("map", "1,2,3,\n4,5,6"), const std::string& prolog = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + prolog + "<map version=\"1.8\" " + map + ">\n" +
           tilesets + layers + "</map>\n";
}

std::string Base64Layer(const std::string& compression, const std::string& data) {
    return " <layer name=\"map\" width=\"3\" height=\"2\"><data encoding=\"base64\"" +
           (compression.empty() ? std::string() : " compression=\"" + compression + "\"") + ">" + data +
           "</data></layer>\n";
}

// A TMJ map of `width` x `height` square tiles with the layers given (JSON
// objects).
std::string Tmj(const std::string& layers, int width = 3, int height = 2) {
    return R"({ "compressionlevel":-1, "height":)" + std::to_string(height) + R"(, "infinite":false, "layers":[)" +
           layers + R"(], "orientation":"orthogonal", "renderorder":"right-down", "tileheight":8,
 "tilesets":[{"firstgid":1, "source":"palette.tsx"}], "tilewidth":8, "type":"map", "width":)" +
           std::to_string(width) + "}\n";
}

std::string TmjLayer(const std::string& name, const std::string& data) {
    return R"({"data":[)" + data + R"(], "height":2, "id":1, "name":")" + name +
           R"(", "opacity":1, "type":"tilelayer", "visible":true, "width":3, "x":0, "y":0})";
}

class Tiled : public ::testing::Test {
protected:
    RunResult Run(std::vector<std::string> args, RunOptions options = {}) {
        options.workingDirectory = dir.path();
        RunResult result = RunProgram(Bmp2GridUnderTest().Command(std::move(args)), options);
        result.out = Bmp2GridUnderTest().AsText(result.out);
        return result;
    }

    // Whether a run's peak memory is bmp2grid's own: not under
    // AddressSanitizer (its shadow memory and quarantine dwarf the figure),
    // Wine or an emulator (their own memory counts).
    static bool MeasuresMemory() {
#if defined(__SANITIZE_ADDRESS__)
        return false;
#else
        return !Bmp2GridUnderTest().wrapped();
#endif
    }

    // The map text of `picture` as bmp2grid writes it, by the sampling rules.
    static std::string Map(const IndexedPicture& picture, bool oneToOne) {
        return ReferenceMap(picture, oneToOne ? SampleMode::OneToOne : SampleMode::TwoToOne);
    }

    TempDir dir;
};

// Every map Tiled saved of tiles.txt, in both shapes, every encoding and both
// formats, reads as the picture the shape makes of the tiles, in both modes.
TEST_F(Tiled, ReadsWhatTiledSavedInBothShapesAndModes) {
    const Tiles tiles = SavedTiles();
    for (const bool bricks : {false, true}) {
        const IndexedPicture picture = PictureOfTiles(tiles, bricks);
        for (const char* encoding : {"csv", "base64", "zlib", "gzip"}) {
            for (const char* format : {"tmx", "tmj"}) {
                const std::string name = std::string(bricks ? "bricks-" : "squares-") + encoding + "." + format;
                for (const bool oneToOne : {false, true}) {
                    std::vector<std::string> args = {kData + "/" + name, "map.txt"};
                    if (oneToOne) args.insert(args.begin(), "-1");
                    const RunResult result = Run(args);
                    const std::string label = name + (oneToOne ? " -1" : "");
                    EXPECT_EQ(result.exitStatus, 0) << label << ": " << result.out;
                    EXPECT_EQ(result.out, SizeReport(picture.width, picture.rows, 24)) << label;
                    EXPECT_EQ(ReadFile(dir / "map.txt"), Map(picture, oneToOne)) << label;
                }
            }
        }
    }
}

// In two-to-one mode, each Tiled row of bricks is its map text row turned
// right by y / 2 cells: map cell c of row y is tile (c + y / 2) mod columns.
TEST_F(Tiled, BrickRowsAreMapRowsTurned) {
    const Tiles tiles = SavedTiles();
    ASSERT_EQ(Run({kData + "/bricks-csv.tmx", "map.txt"}).exitStatus, 0);
    std::istringstream map(ReadFile(dir / "map.txt"));
    std::string line;
    std::getline(map, line);
    EXPECT_EQ(line, "6,4\r");
    for (std::size_t y = 0; y < tiles.size(); ++y) {
        ASSERT_TRUE(std::getline(map, line));
        std::istringstream cells(line);
        std::string cell;
        for (std::size_t c = 0; c < 6; ++c) {
            ASSERT_TRUE(std::getline(cells, cell, '\t'));
            if (c == 5) cell = cell.substr(0, cell.find('\r'));
            EXPECT_EQ(cell, std::to_string(tiles[y][(c + y / 2) % 6]) + ",0,0,0,0") << "cell " << c << ", row " << y;
        }
    }
}

// Each refusal names what is wrong; those found only as the layer's data is
// read come after the size report, and the output is left as it was.
TEST_F(Tiled, RefusesWithItsReasons) {
    WriteFile(dir / "ref.gpl", std::string("GIMP Palette\n0 0 0\n"));
    WriteFile(dir / "pic.bmp", MakeBmp(CountingPicture(4, 3)));
    const std::string laughs =
        "<!DOCTYPE map [\n <!ENTITY lol \"lol\">\n <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
        " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n]>\n";
    struct Case {
        std::string label;
        std::string contents;  // of m.tmx (or m.tmj when it starts with '{')
        std::vector<std::string> options;
        std::string before;  // the size report, when refused after it
        std::string reason;
    };
    const std::string sq = SizeReport(3, 2, 6);
    const std::string br = SizeReport(6, 2, 6);
    const std::string twoLayers = Layer("a", "1,2,3,\n4,5,6") + Layer("b", "1,2,3,\n4,5,6");
    const Case cases[] = {
        {"empty cell", Tmx(kSquares, kTileset, Layer("map", "1,0,3,\n4,5,6")), {}, sq,
         "empty cell at column 1, row 0"},
        {"flipped", Tmx(kSquares, kTileset, Layer("map", "1,2,3,\n4,5,2147483649")), {}, sq,
         "flipped or rotated tile at column 2, row 1"},
        {"rotated 120", Tmx(kBricks, kTileset, Layer("map", "1,2,3,\n268435457,5,6")), {}, br,
         "flipped or rotated tile at column 0, row 1"},
        {"past 255", Tmx(kSquares, kTileset, Layer("map", "1,2,3,\n4,258,6")), {}, sq,
         "tile 257 at column 1, row 1 is past 255"},
        {"second tileset",
         Tmx(kSquares, kTileset + " <tileset firstgid=\"200\" source=\"other.tsx\"/>\n", Layer("map", "1,2,200,\n4,5,6")),
         {}, sq, "tile gid 200 at column 2, row 0 is not of the map's first tileset"},
        {"no tileset", Tmx(kSquares, ""), {}, "", "map has no tileset"},
        {"zstd", Tmx(kSquares, kTileset, Base64Layer("zstd", "AAAA")), {}, "",
         "layer data compression \"zstd\" is not read"},
        {"unknown encoding", Tmx(kSquares, kTileset, " <layer name=\"m\" width=\"3\" height=\"2\"><data encoding=\"hex\"/></layer>\n"),
         {}, "", "layer data encoding \"hex\" is not read"},
        {"infinite", Tmx(R"(orientation="orthogonal" width="3" height="2" tilewidth="8" tileheight="8" infinite="1")"), {},
         "", "infinite maps are not read"},
        {"isometric", Tmx(R"(orientation="isometric" width="3" height="2" tilewidth="16" tileheight="8")"), {}, "",
         "isometric maps are not read; only orthogonal maps of square tiles and brick maps are"},
        {"staggered",
         Tmx(R"(orientation="staggered" width="3" height="2" tilewidth="16" tileheight="8" staggeraxis="y" staggerindex="odd")"),
         {}, "", "staggered maps are not read; only orthogonal maps of square tiles and brick maps are"},
        {"oblong squares", Tmx(R"(orientation="orthogonal" width="3" height="2" tilewidth="32" tileheight="16")"), {}, "",
         "orthogonal map with 32 x 16 tiles: its tiles must be square"},
        {"overlapping hexagons",
         Tmx(R"(orientation="hexagonal" width="3" height="2" tilewidth="16" tileheight="8" hexsidelength="4" staggeraxis="y" staggerindex="odd")"),
         {}, "",
         "hexagonal map with 16 x 8 tiles, side length 4, stagger axis \"y\" and index \"odd\" is not a brick map (tiles "
         "twice as wide as high, side length their height, stagger axis \"y\" and index \"odd\")"},
        {"even stagger",
         Tmx(R"(orientation="hexagonal" width="3" height="2" tilewidth="16" tileheight="8" hexsidelength="8" staggeraxis="y" staggerindex="even")"),
         {}, "",
         "hexagonal map with 16 x 8 tiles, side length 8, stagger axis \"y\" and index \"even\" is not a brick map (tiles "
         "twice as wide as high, side length their height, stagger axis \"y\" and index \"odd\")"},
        {"oblique", Tmx(R"(orientation="oblique" width="3" height="2" tilewidth="8" tileheight="8")"), {}, "",
         "map orientation \"oblique\" is not read"},
        {"no width", Tmx(R"(orientation="orthogonal" height="2" tilewidth="8" tileheight="8")"), {}, "",
         "map has no valid \"width\""},
        {"layer size", Tmx(kSquares, kTileset, Layer("map", "1,2,\n4,5", R"(width="2" height="2")")), {}, "",
         "layer \"map\" is 2 x 2 tiles, the map 3 x 2"},
        {"several layers", Tmx(kSquares, kTileset, twoLayers), {}, sq,
         "map has several tile layers (\"a\", \"b\"): pick one with --layer"},
        {"no such layer", Tmx(kSquares, kTileset, twoLayers), {"--layer", "c"}, "",
         "no tile layer is named \"c\" (the map's tile layers: \"a\", \"b\")"},
        {"no tile layer", Tmx(kSquares, kTileset, " <objectgroup id=\"2\" name=\"things\"/>\n"), {}, "",
         "map has no tile layer"},
        {"too few tiles", Tmx(kSquares, kTileset, Layer("map", "1,2,3,\n4,5")), {}, sq,
         "layer data holds 5 tiles, not 3 x 2"},
        {"too many tiles", Tmx(kSquares, kTileset, Layer("map", "1,2,3,\n4,5,6,7")), {}, sq,
         "layer data holds more than its 3 x 2 tiles"},
        {"bad CSV", Tmx(kSquares, kTileset, Layer("map", "1,2,x,\n4,5,6")), {}, sq,
         "layer data is not valid CSV at column 2, row 0"},
        {"bad base64", Tmx(kSquares, kTileset, Base64Layer("", "AQAAAA*A")), {}, sq,
         "layer data is not valid base64 at column 1, row 0"},
        {"truncated zlib", Tmx(kSquares, kTileset, Base64Layer("zlib", "eJxjZGBgYAJiZiBmAWJWIGYD")), {}, sq,
         "layer data is not valid zlib at column 2, row 1 (the compressed stream is truncated)"},
        {"gzip data said zlib", Tmx(kSquares, kTileset, Base64Layer("gzip", "eJxjZGBgYAJiZiBmAWJWIGYDYgAA+AAW")), {}, sq,
         "layer data is not valid gzip at column 0, row 0 (incorrect header check)"},
        {"malformed XML", Tmx(kSquares, kTileset, " <layer name=\"map\" width=\"3\" height=\"2\">\n"), {}, "",
         "malformed XML at line 5, column 2: mismatched tag"},
        {"entity", Tmx(kSquares, kTileset, Layer("map", "&row;,\n4,5,6"), "<!DOCTYPE map [<!ENTITY row \"1,2,3\">]>\n"),
         {}, "", "XML entity \"row\": entities other than XML's own are not read"},
        {"billion laughs", Tmx(kSquares, kTileset, Layer("map", "&lol3;"), laughs), {}, "",
         "XML entity \"lol\": entities other than XML's own are not read"},
        {"external entity",
         Tmx(kSquares, kTileset, Layer("map", "&e;"), "<!DOCTYPE map [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>\n"), {},
         "", "XML entity \"e\": entities other than XML's own are not read"},
        {"undeclared entity", Tmx(kSquares, kTileset, Layer("map", "&e;"), "<!DOCTYPE map SYSTEM \"map.dtd\">\n"), {},
         sq, "XML entity \"e\": entities other than XML's own are not read"},
        {"not a map", "<?xml version=\"1.0\"?>\n<tileset name=\"t\"/>\n", {}, "",
         "XML that is not a Tiled map (its root element is <tileset>)"},
        {"palette", Tmx(), {"--palette", "ref.gpl"}, "",
         "a Tiled map's tiles are palette indices already: convert it without --palette"},
        {"TMJ flipped", Tmj(TmjLayer("map", "1,2,3,4,5,3221225473")), {}, sq,
         "flipped or rotated tile at column 2, row 1"},
        {"TMJ empty cell", Tmj(TmjLayer("map", "1,2,3,0,5,6")), {}, sq, "empty cell at column 0, row 1"},
        {"TMJ several layers", Tmj(TmjLayer("a", "1,2,3,4,5,6") + "," + TmjLayer("b", "1,2,3,4,5,6")), {}, "",
         "map has several tile layers (\"a\", \"b\"): pick one with --layer"},
        {"control characters in names", Tmj(TmjLayer("m", "1,2,3,4,5,6") + "," + TmjLayer("a\\nb\\u0000c\\u001b", "1,2,3,4,5,6")),
         {}, "", "map has several tile layers (\"m\", \"a\\x0Ab\\x00c\\x1B\"): pick one with --layer"},
        {"control characters in XML", Tmx(R"(orientation="a&#10;b&#13;" width="3" height="2" tilewidth="8" tileheight="8")"), {},
         "", "map orientation \"a\\x0Ab\\x0D\" is not read"},
        {"TMJ not a map", "{\"type\":\"tileset\", \"tilecount\":256}", {}, "",
         "JSON that is not a Tiled map (no \"type\": \"map\")"},
        {"TMJ malformed", Tmj(TmjLayer("map", "1,2,3,4,5,6")).substr(0, 40), {}, "",
         "malformed JSON at byte 40: Missing a closing quotation mark in string."},
        {"TMJ infinite", Tmj(R"({"chunks":[], "height":2, "name":"map", "type":"tilelayer", "width":3})"), {}, "",
         "infinite maps are not read"},
    };
    for (const Case& c : cases) {
        const std::string name = c.contents[0] == '{' ? "m.tmj" : "m.tmx";
        WriteFile(dir / name, c.contents);
        WriteFile(dir / "map.txt", std::string("previous map"));
        std::vector<std::string> args = c.options;
        args.push_back(name);
        args.push_back("map.txt");
        const RunResult result = Run(args);
        EXPECT_EQ(result.exitStatus, 1) << c.label;
        EXPECT_EQ(result.out, c.before + "Can't convert " + name + ": " + c.reason + "\n") << c.label;
        EXPECT_EQ(ReadFile(dir / "map.txt"), "previous map") << c.label;
        fs::remove(dir / name);
    }
    // A tag too big to hold is refused, not held: here a layer name of 20 MB.
    WriteFile(dir / "m.tmx", Tmx(kSquares, kTileset, Layer(std::string(20 << 20, 'n'), "1,2,3,\n4,5,6")));
    const RunResult huge = Run({"m.tmx", "map.txt"});
    EXPECT_EQ(huge.out, "Can't convert m.tmx: not enough memory\n");
    if (MeasuresMemory()) {
        EXPECT_LT(huge.peakMemoryKiB, 32 << 10);
    }
    // Nesting too deep to hold is refused as well, not held: here a TMJ
    // value of five million arrays in arrays (10 MB).
    {
        const int kDepth = 5000000;
        WriteFile(dir / "m.tmj", Tmj(TmjLayer("map", "1,2,3,4,5,6") + "," + std::string(kDepth, '[') + std::string(kDepth, ']')));
    }
    const RunResult deep = Run({"m.tmj", "map.txt"});
    EXPECT_EQ(deep.out, "Can't convert m.tmj: not enough memory\n");
    if (MeasuresMemory()) {
        EXPECT_LT(deep.peakMemoryKiB, 32 << 10);
    }
    fs::remove(dir / "m.tmj");
    // A map named as the palette: it holds no colours.
    WriteFile(dir / "m.tmx", Tmx());
    const RunResult palette = Run({"--palette", "m.tmx", "pic.bmp", "map.txt"});
    EXPECT_EQ(palette.exitStatus, 1);
    EXPECT_EQ(palette.out, "Can't convert m.tmx: a Tiled map holds palette indices, not colours: --palette takes a "
                           "picture, a .gpl or a .pal file\n");
    EXPECT_EQ(ReadFile(dir / "map.txt"), "previous map");
    const RunResult bmp = Run({"--layer", "map", "pic.bmp", "map.txt"});
    EXPECT_EQ(bmp.exitStatus, 1);
    EXPECT_EQ(bmp.out, "Can't convert pic.bmp: --layer picks a tile layer of a Tiled map, and this is a BMP or PNG picture\n");
}

// A map of a million tile layers is refused in bounded memory, naming its
// first few layers and counting the rest, in both formats.
TEST_F(Tiled, ListsAFewOfManyLayers) {
    {
        // Written and let go of before the runs: a child started holds its parent's memory until it runs.
        const int kLayers = 1000000;
        std::string tmx = Layer("a", "1,2,3,\n4,5,6");
        std::string tmj = TmjLayer("a", "1,2,3,4,5,6");
        for (int i = 1; i < kLayers; ++i) {
            tmx += "<layer name=\"l\"/>";
            tmj += R"(,{"type":"tilelayer","name":"l"})";
        }
        WriteFile(dir / "m.tmx", Tmx(kSquares, kTileset, tmx));
        WriteFile(dir / "m.tmj", Tmj(tmj));
    }
    const std::string listed = "\"a\", \"l\", \"l\", \"l\", \"l\", \"l\", \"l\", \"l\", \"l\", \"l\"";
    for (const std::string name : {"m.tmx", "m.tmj"}) {
        const RunResult several = Run({name, "map.txt"});
        EXPECT_EQ(several.exitStatus, 1) << name;
        // A TMX map's size is known before its last layer, a TMJ map's only once read through.
        const std::string before = name == "m.tmx" ? SizeReport(3, 2, 6) : "";
        EXPECT_EQ(several.out, before + "Can't convert " + name + ": map has several tile layers (" + listed +
                                   " and 999990 more): pick one with --layer\n")
            << name;
        if (MeasuresMemory()) {
            EXPECT_LT(several.peakMemoryKiB, 32 << 10) << name;
        }
        const RunResult missing = Run({"--layer", "zz", name, "map.txt"});
        EXPECT_EQ(missing.out, "Can't convert " + name + ": no tile layer is named \"zz\" (the map's tile layers: " +
                                   listed + " and 999990 more)\n")
            << name;
        if (MeasuresMemory()) {
            EXPECT_LT(missing.peakMemoryKiB, 32 << 10) << name;
        }
        fs::remove(dir / name);
    }
}

// --layer picks a tile layer by name, inside groups too; object layers,
// image layers, properties and external tilesets are passed over, and no
// file the map names is opened.
TEST_F(Tiled, PicksALayerByName) {
    const std::string layers =
        " <properties><property name=\"p\" value=\"1\"/></properties>\n"
        " <objectgroup id=\"3\" name=\"things\"><object id=\"1\" x=\"0\" y=\"0\"/></objectgroup>\n"
        " <imagelayer id=\"4\" name=\"sky\"><image source=\"sky.png\"/></imagelayer>\n" +
        Layer("top", "1,2,3,\n4,5,6") + " <group id=\"5\" name=\"g\">\n  <group id=\"6\" name=\"h\">\n" +
        Layer("inner", "11,12,13,\n14,15,16") + "  </group>\n </group>\n";
    WriteFile(dir / "m.tmx", Tmx(kSquares, " <tileset firstgid=\"1\" source=\"missing.tsx\"/>\n", layers));
    struct Case {
        std::string layer;
        int first;  // the layer's first value
    };
    for (const Case& c : {Case{"top", 0}, Case{"inner", 10}}) {
        const RunResult result = Run({"-1", "--layer", c.layer, "m.tmx", "map.txt"});
        EXPECT_EQ(result.exitStatus, 0) << c.layer << ": " << result.out;
        IndexedPicture picture;
        picture.width = 3;
        picture.rows = 2;
        for (int i = 0; i < 6; ++i) picture.pixels.push_back(static_cast<std::uint8_t>(c.first + i));
        EXPECT_EQ(ReadFile(dir / "map.txt"), Map(picture, true)) << c.layer;
    }
    const RunResult several = Run({"m.tmx", "map.txt"});
    EXPECT_EQ(several.out, SizeReport(3, 2, 6) + "Can't convert m.tmx: map has several tile layers (\"top\", \"inner\"): "
                                                 "pick one with --layer\n");
}

// A map bigger than the blocks it is read in gives the map text of the same
// tiles in a BMP, from a file and from a pipe, in both formats.
TEST_F(Tiled, BigMapsReadAsTheSamePictureInABmp) {
    const IndexedPicture picture = RandomPicture(301, 257, 24);
    WriteFile(dir / "pic.bmp", MakeBmp(picture));
    std::string csv;
    std::string json;
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        const std::string gid = std::to_string(picture.pixels[i] + 1);
        csv += gid + (i + 1 == picture.pixels.size() ? "" : (i + 1) % 301 == 0 ? ",\n" : ",");
        json += (i == 0 ? "" : ",") + gid;
    }
    const std::string size = R"(width="301" height="257")";
    WriteFile(dir / "m.tmx",
              Tmx(R"(orientation="orthogonal" width="301" height="257" tilewidth="8" tileheight="8")", kTileset,
                  Layer("map", csv, size)));
    const std::string tmj =
        Tmj(R"({"data":[)" + json + R"(], "height":257, "name":"map", "type":"tilelayer", "width":301})", 301, 257);
    WriteFile(dir / "m.tmj", tmj);
    for (const char* mode : {"-1", "-2"}) {
        std::vector<std::string> args = {"pic.bmp", "bmp.txt"};
        if (mode[1] == '1') args.insert(args.begin(), mode);
        ASSERT_EQ(Run(args).exitStatus, 0);
        for (const char* name : {"m.tmx", "m.tmj"}) {
            args[args.size() - 2] = name;
            args.back() = "map.txt";
            const RunResult fromFile = Run(args);
            EXPECT_EQ(fromFile.exitStatus, 0) << name << mode << ": " << fromFile.out;
            EXPECT_EQ(ReadFile(dir / "map.txt"), ReadFile(dir / "bmp.txt")) << name << mode;
            RunOptions piped;
            piped.stdinData = ReadFile(dir / name);
            args[args.size() - 2] = "-";
            EXPECT_EQ(Run(args, piped).exitStatus, 0) << name << mode;
            EXPECT_EQ(ReadFile(dir / "map.txt"), ReadFile(dir / "bmp.txt")) << name << mode << " from a pipe";
        }
    }
}

// A map from a pipe reads as the same map from a file.
TEST_F(Tiled, ReadsFromAPipe) {
    for (const char* name : {"bricks-zlib.tmx", "bricks-gzip.tmj", "desert.tmx"}) {
        const RunResult fromFile = Run({kData + "/" + name, "file.txt"});
        RunOptions piped;
        piped.stdinData = ReadFile(kData + "/" + name);
        const RunResult fromPipe = Run({"-", "pipe.txt"}, piped);
        EXPECT_EQ(fromPipe.exitStatus, 0) << name;
        EXPECT_EQ(fromPipe.out, fromFile.out) << name;
        EXPECT_EQ(ReadFile(dir / "pipe.txt"), ReadFile(dir / "file.txt")) << name;
    }
}

// Tiled's own example maps: those of shapes not read are refused naming the
// shape; the others read the same from TMX and from Tiled's JSON of them.
TEST_F(Tiled, TiledsExamples) {
    struct Case {
        std::string name;
        std::vector<std::string> options;
        std::string out;
    };
    const Case cases[] = {
        {"isometric_grass_and_water.tmx", {}, "isometric maps are not read; only orthogonal maps of square tiles and brick maps are"},
        {"isometric_staggered_grass_and_water.tmx", {}, "staggered maps are not read; only orthogonal maps of square tiles and brick maps are"},
        {"hexagonal-mini.tmx", {},
         "hexagonal map with 14 x 12 tiles, side length 6, stagger axis \"y\" and index \"odd\" is not a brick map "
         "(tiles twice as wide as high, side length their height, stagger axis \"y\" and index \"odd\")"},
        {"test_hexagonal_tile_60x60x30.tmx", {},
         "hexagonal map with 60 x 60 tiles, side length 30, stagger axis \"x\" and index \"odd\" is not a brick map "
         "(tiles twice as wide as high, side length their height, stagger axis \"y\" and index \"odd\")"},
    };
    for (const Case& c : cases) {
        const RunResult result = Run({kData + "/" + c.name, "map.txt"});
        EXPECT_EQ(result.exitStatus, 1) << c.name;
        EXPECT_EQ(result.out, "Can't convert " + kData + "/" + c.name + ": " + c.out + "\n") << c.name;
    }
    const RunResult walls = Run({kData + "/perspective_walls.tmx", "map.txt"});
    EXPECT_EQ(walls.out, SizeReport(32, 32, 32 * 32) + "Can't convert " + kData +
                             "/perspective_walls.tmx: empty cell at column 0, row 0\n");
    // Two layers: --layer picks one, the same from either format.
    for (const char* format : {"tmx", "tmj"}) {
        const RunResult bottom =
            Run({"--layer", "Bottom", kData + "/sewers." + format, std::string("sewers-") + format + ".txt"});
        EXPECT_EQ(bottom.exitStatus, 0) << format << ": " << bottom.out;
        EXPECT_EQ(bottom.out, SizeReport(50, 50, 2500)) << format;
    }
    EXPECT_EQ(ReadFile(dir / "sewers-tmx.txt"), ReadFile(dir / "sewers-tmj.txt"));
    for (const bool oneToOne : {false, true}) {
        for (const char* format : {"tmx", "tmj"}) {
            std::vector<std::string> args = {kData + "/desert." + format, std::string("desert-") + format + ".txt"};
            if (oneToOne) args.insert(args.begin(), "-1");
            const RunResult result = Run(args);
            EXPECT_EQ(result.exitStatus, 0) << format;
            EXPECT_EQ(result.out, SizeReport(40, 40, 1600)) << format;
        }
        EXPECT_EQ(ReadFile(dir / "desert-tmx.txt"), ReadFile(dir / "desert-tmj.txt"));
        EXPECT_EQ(ReadFile(dir / "desert-tmx.txt").substr(0, 7), oneToOne ? "40,40\r\n" : "20,40\r\n");
    }
}

}  // namespace
}  // namespace bmp2grid::test
