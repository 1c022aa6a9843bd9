// End-to-end: runs the built grid2bmp, and bmp2grid on what it wrote.
//
// The same table runs against another build named by the environment, such
// as the Windows build under Wine (see program_under_test.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <tuple>

#include <png.h>
#include <sys/stat.h>

#include "bitmap_writer.h"
#include "bmp_format.h"
#include "builtin_palette.h"
#include "map_reader.h"
#include "memory_sink.h"
#include "process_runner.h"
#include "program_under_test.h"
#include "test_support.h"
#include "tile_sheet.h"
#include "tiled_format.h"
#include "tiled_writer.h"

namespace bmp2grid::test {
namespace {

const Program& kGrid2Bmp = Grid2BmpUnderTest();
const Program& kBmp2Grid = Bmp2GridUnderTest();

class Grid2Bmp : public ::testing::Test {
protected:
    // Runs `program` (grid2bmp unless said) with `args` inside the test folder.
    RunResult Run(std::vector<std::string> args, const Program& program = kGrid2Bmp) {
        RunResult result = RunWith(std::move(args), {}, program);
        // Wine itself may speak on standard error; the native build never does.
        if (!program.windows()) {
            EXPECT_EQ(result.err, "") << "nothing may go to standard error";
        }
        return result;
    }
    // Runs `program` with `args` and `options` inside the test folder; messages as text.
    RunResult RunWith(std::vector<std::string> args, RunOptions options, const Program& program = kGrid2Bmp) {
        options.workingDirectory = dir.path();
        RunResult result = RunProgram(program.Command(std::move(args)), options);
        result.out = program.AsText(result.out);
        result.err = program.AsText(result.err);
        return result;
    }
    TempDir dir;
};

TEST_F(Grid2Bmp, UsageAndHelp) {
    const std::string usage =
        "Usage: " + kGrid2Bmp.Name() + " [-1] [--palette PALETTE] [--format png|bmp|tmx|tmj] <maptext> <outfile>\n";
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const std::string program = kGrid2Bmp.Name();
    const std::string help =
        usage + "       " + program + " [options] [--watch] --out-dir DIR MAP...\n" + "       " + program +
        " [options] --watch <maptext> <outfile>\n"
        "  -1                 the map text has one cell per picture column, not per two\n"
        "  --palette PALETTE  the picture's colours (a picture, .gpl or .pal; default: the built-in palette)\n"
        "  --format FORMAT    png, bmp, tmx or tmj (default: by the output's name; with --out-dir, bmp)\n"
        "  --out-dir DIR      convert each input into DIR/<its name>.<format> (a folder: the files in it)\n"
        "  -r                 with --out-dir: also the folders in a folder, kept as they are in DIR\n"
        "  -j N               with --out-dir: at most N conversions at once (default: one per processor)\n"
        "  --watch            convert again each time an input is saved, until Ctrl-C\n"
        "  --version          print the version\n";
    for (const char* option : {"-h", "--help"}) {
        const RunResult result = Run({option});
        EXPECT_EQ(result.exitStatus, 0) << option;
        EXPECT_EQ(result.out, help) << option;
    }
    const Case cases[] = {
        {{}, 1},
        {{"map.txt"}, 1},
        {{"-1", "map.txt"}, 1},
        {{"--palette", "p.bmp", "map.txt"}, 1},
        {{"map.txt", "out.bmp", "extra"}, 1},
        {{"-1", "map.txt", "out.bmp", "--palette"}, 1},
        {{"--format", "map.txt", "out.png"}, 1},
        {{"--format", "gif", "map.txt", "out.gif"}, 1},
        {{"--format", "PNG", "map.txt", "out.png"}, 1},
        {{"--format", "TMX", "map.txt", "out.tmx"}, 1},
        {{"--format", "json", "map.txt", "out.json"}, 1},
        {{"map.txt", "out.png", "--format", "png"}, 1},
    };
    for (const Case& c : cases) {
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.exitStatus, c.status) << c.args.size();
        EXPECT_EQ(result.out, usage);
    }
    const RunResult version = Run({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "grid2bmp " BMP2GRID_VERSION "\n");
    // Not alone, it is a path like any other.
    EXPECT_EQ(Run({"--version", "map.txt"}).out, "Can't open --version\n");
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(Grid2Bmp, BundledSampleRoundTrip) {
    const std::string sample = ReadFile(std::string(BMP2GRID_EXAMPLES) + "/sample.txt");
    WriteFile(dir / "sample.txt", sample);
    const RunResult back = Run({"sample.txt", "back.bmp"});
    EXPECT_EQ(back.exitStatus, 0);
    EXPECT_EQ(back.out, "Size: 64x40\n");
    EXPECT_EQ(Run({"back.bmp", "again.txt"}, kBmp2Grid).exitStatus, 0);
    EXPECT_TRUE(ReadFile(dir / "again.txt") == sample);
}

TEST_F(Grid2Bmp, OneToOneRoundTripWithPaletteFromAPicture) {
    const IndexedPicture picture = RandomPicture(7, 30, 9);  // odd width, shifts past it
    WriteFile(dir / "pic.bmp", MakeBmp(picture));
    const std::string map = ReferenceMap(picture, SampleMode::OneToOne);
    WriteFile(dir / "map.txt", map);
    const RunResult result = Run({"-1", "--palette", "pic.bmp", "map.txt", "back.bmp"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Size: 7x30\n");
    // The palette is copied from pic.bmp; the pixels are the picture's own.
    const std::string original = ReadFile(dir / "pic.bmp");
    const std::string back = ReadFile(dir / "back.bmp");
    constexpr std::size_t kTableAt = bmp::kFileHeaderSize + bmp::kInfoHeaderSize;
    constexpr std::size_t kTableSize = bmp::kMaxPaletteEntries * bmp::kPaletteEntrySize;
    EXPECT_EQ(back.substr(kTableAt, kTableSize), original.substr(kTableAt, kTableSize));
    EXPECT_EQ(back.substr(kTableAt + kTableSize), original.substr(kTableAt + kTableSize));
    EXPECT_EQ(Run({"-1", "back.bmp", "again.txt"}, kBmp2Grid).exitStatus, 0);
    EXPECT_TRUE(ReadFile(dir / "again.txt") == map);
}

// A map drawn with a GIMP or JASC palette and converted back with it as
// bmp2grid's reference palette gives the same map, whatever the values.
TEST_F(Grid2Bmp, RoundTripThroughAPaletteFile) {
    const IndexedPicture picture = RandomPicture(12, 9, 4);
    const std::string map = ReferenceMap(picture, SampleMode::TwoToOne);
    WriteFile(dir / "map.txt", map);
    std::string gpl = "GIMP Palette\n";
    std::string pal = "JASC-PAL\n0100\n256\n";
    for (int i = 0; i < 256; ++i) {
        const std::string colour = std::to_string(i) + " " + std::to_string(i * 7 % 256) + " " + std::to_string(200);
        gpl += colour + "\n";
        pal += colour + "\n";
    }
    WriteFile(dir / "ref.gpl", gpl);
    WriteFile(dir / "ref.pal", pal);
    for (const char* reference : {"ref.gpl", "ref.pal"}) {
        const RunResult drawn = Run({"--palette", reference, "map.txt", "back.bmp"});
        EXPECT_EQ(drawn.exitStatus, 0) << reference;
        const std::string back = ReadFile(dir / "back.bmp");
        constexpr std::size_t kTableAt = bmp::kFileHeaderSize + bmp::kInfoHeaderSize;
        // Colour 3 is red 3, green 21, blue 200.
        EXPECT_EQ(back.substr(kTableAt + 3 * 4, 4), std::string("\xC8\x15\x03\x00", 4)) << reference;
        EXPECT_EQ(Run({"--palette", reference, "back.bmp", "again.txt"}, kBmp2Grid).exitStatus, 0) << reference;
        EXPECT_TRUE(ReadFile(dir / "again.txt") == map) << reference;
    }
    WriteFile(dir / "bad.pal", std::string("JASC-PAL\n0100\n2\n1 2 3\n"));
    WriteFile(dir / "out.bmp", std::string("previous picture"));
    const RunResult refused = Run({"--palette", "bad.pal", "map.txt", "out.bmp"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.out, "Can't convert bad.pal: line 5: fewer colours than announced\n");
    EXPECT_EQ(ReadFile(dir / "out.bmp"), "previous picture");
}

TEST_F(Grid2Bmp, PaletteFromAPngPicture) {
    // A PNG palette picture gives its PLTE colours, or a grey one its grey
    // levels, the rest of the 256 black; read from a file or a stream, as
    // bmp2grid reads it, and refused as bmp2grid refuses it.
    WriteFile(dir / "map.txt", std::string("1,1\r\n5,0,0,0,0\t\r\n"));
    const Bytes indexed = MakePng(CountingPicture(2, 2));
    WriteFile(dir / "indexed.png", indexed);
    WriteFile(dir / "four.png", MakePng(CountingPicture(2, 2, 0), PngOptions{2, 3, 4}));
    WriteFile(dir / "grey.png", MakePng(CountingPicture(2, 2), PngOptions{8, 0, 0}));
    WriteFile(dir / "rgb.png", MakePng(CountingPicture(2, 2), PngOptions{8, 2, 0}));
    // MakePng's entry i is red i, green 255 - i, blue i ^ 0x55; a BMP's
    // colour table holds blue, green, red, 0.
    const auto plte = [](int entries) {
        std::string table;
        for (int i = 0; i < 256; ++i) {
            const bool used = i < entries;
            table += {static_cast<char>(used ? i ^ 0x55 : 0), static_cast<char>(used ? 255 - i : 0),
                      static_cast<char>(used ? i : 0), '\0'};
        }
        return table;
    };
    std::string grey;
    for (int i = 0; i < 256; ++i) grey += {static_cast<char>(i), static_cast<char>(i), static_cast<char>(i), '\0'};
    struct Case {
        std::string palette;
        std::string stdinData;
        std::string out;
        std::string table;  // the BMP's colour table, when written
    };
    const Case cases[] = {
        {"indexed.png", "", "Size: 2x1\n", plte(256)},
        {"-", std::string(indexed.begin(), indexed.end()), "Size: 2x1\n", plte(256)},
        {"four.png", "", "Size: 2x1\n", plte(4)},
        {"grey.png", "", "Size: 2x1\n", grey},
        {"rgb.png", "", "Can't convert rgb.png: PNG colour type 2 bit depth 8 carries no palette indices\n", ""},
    };
    constexpr std::size_t kTableAt = bmp::kFileHeaderSize + bmp::kInfoHeaderSize;
    for (const Case& c : cases) {
        std::filesystem::remove(dir / "out.bmp");
        RunOptions options;
        options.stdinData = c.stdinData;
        const RunResult result = RunWith({"--palette", c.palette, "map.txt", "out.bmp"}, options);
        EXPECT_EQ(result.out, c.out) << c.palette;
        EXPECT_EQ(result.exitStatus, c.table.empty() ? 1 : 0) << c.palette;
        if (c.table.empty()) {
            EXPECT_FALSE(std::filesystem::exists(dir / "out.bmp")) << c.palette;
        } else {
            EXPECT_EQ(ReadFile(dir / "out.bmp").substr(kTableAt, c.table.size()), c.table) << c.palette;
        }
    }
}

TEST_F(Grid2Bmp, RefusalsLeaveTheOutputAlone) {
    const std::vector<std::pair<std::string, std::string>> maps = {
        {"bad.txt", "2,2\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n1,0,0,0,0\t\r\n"},
        {"good.txt", "1,1\r\n5,0,0,0,0\t\r\n"},
        {"huge.txt", "9223372036854775807,0\r\n"},            // the width would overflow
        {"wide.txt", "4611686018427387904,0\r\n"},            // twice the columns would overflow
        {"big-file.txt", "4,1073741555\r\n"},                 // a file over 4 GiB - 1 in one-to-one
        {"short-row.txt", "100,1\r\n5,0,0,0,0\t\r\n"},       // the row, not "fewer rows"
        {"no-cells.txt", "0,3\r\n\r\n\r\n\r\n"},           // bmp2grid's map of a picture 0 wide
        {"map.tmx", "<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
                    "<tileset firstgid=\"1\"/><layer name=\"m\" width=\"1\" height=\"1\"><data encoding=\"csv\">1"
                    "</data></layer></map>"},  // a map holds no colours to be a palette
    };
    for (const auto& [name, text] : maps) WriteFile(dir / name, text);
    BmpOptions rgb;
    rgb.bitCount = 24;
    WriteFile(dir / "rgb.bmp", MakeBmp(CountingPicture(2, 2), rgb));
    WriteFile(dir / "out.bmp", std::string("previous picture"));
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"bad.txt", "out.bmp"}, "Can't convert bad.txt: line 3: wrong cell count\n"},
        {{"huge.txt", "out.bmp"}, "Can't convert huge.txt: line 1: picture would be too large\n"},
        {{"-1", "huge.txt", "out.bmp"}, "Can't convert huge.txt: line 1: picture would be too large\n"},
        {{"wide.txt", "out.bmp"}, "Can't convert wide.txt: line 1: picture would be too large\n"},
        {{"-1", "big-file.txt", "out.bmp"}, "Can't convert big-file.txt: line 1: picture would be too large\n"},
        {{"short-row.txt", "out.bmp"}, "Can't convert short-row.txt: line 2: wrong cell count\n"},
        {{"no-cells.txt", "out.bmp"}, "Can't convert no-cells.txt: line 1: no cells to draw\n"},
        {{"missing.txt", "out.bmp"}, "Can't open missing.txt\n"},
        {{"--palette", "rgb.bmp", "good.txt", "out.bmp"}, "Only 8bpp bitmaps are supported!\n"},
        {{"--palette", "nope.bmp", "good.txt", "out.bmp"}, "Can't open nope.bmp\n"},
        {{"--palette", "", "good.txt", "out.bmp"}, "Can't open \n"},  // never taken for the built-in palette
        {{"--palette", "map.tmx", "good.txt", "out.bmp"},
         "Can't convert map.tmx: a Tiled map holds palette indices, not colours: --palette takes a picture, a .gpl or a "
         ".pal file\n"},
        {{"good.txt", "no/folder/out.bmp"}, "Can't open no/folder/out.bmp\n"},
        // Bad map text is named before an output that can't be made.
        {{"bad.txt", "no/folder/out.bmp"}, "Can't convert bad.txt: line 3: wrong cell count\n"},
    };
    for (const Case& c : cases) {
        const RunResult result = Run(c.args);
        EXPECT_EQ(result.exitStatus, 1) << c.out;
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(ReadFile(dir / "out.bmp"), "previous picture");
    }
    std::vector<std::string> expected = {"out.bmp", "rgb.bmp"};
    for (const auto& [name, text] : maps) expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Entries(), expected);
}

// The canonical map text of a random picture 2200 x 600: more than one block
// (1 MiB) of picture rows.
std::string LargeMapText() { return ReferenceMap(RandomPicture(2200, 600, 17), SampleMode::TwoToOne); }

TEST_F(Grid2Bmp, LargePictureIsTheSameOnEveryOutput) {
    // Rows are written at their offsets in a file that is replaced, and in
    // sequence from memory to standard output: the bytes are the same, and
    // bmp2grid turns them back into the same map text.
    const std::string map = LargeMapText();
    WriteFile(dir / "map.txt", map);
    ASSERT_EQ(Run({"map.txt", "out.bmp"}).out, "Size: 2200x600\n");
    const std::string picture = ReadFile(dir / "out.bmp");
    EXPECT_EQ(Run({"out.bmp", "again.txt"}, kBmp2Grid).exitStatus, 0);
    EXPECT_TRUE(ReadFile(dir / "again.txt") == map);

    RunOptions named;
    named.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
    EXPECT_EQ(RunWith({"map.txt", "named.bmp"}, named).exitStatus, 0);
    EXPECT_TRUE(ReadFile(dir / "named.bmp") == picture);
    RunOptions here;
    here.workingDirectory = dir.path();
    const RunResult toStandardOutput = RunProgram(kGrid2Bmp.Command({"map.txt", "-"}), here);
    EXPECT_EQ(toStandardOutput.exitStatus, 0);
    EXPECT_TRUE(toStandardOutput.out == picture);
}

TEST_F(Grid2Bmp, MapRefusedInItsLastRowLeavesTheOutputWhole) {
    // Rows already written (more than a block of them, for the large map)
    // go nowhere: the previous file stays whole, no temporary file is left,
    // and standard output gets the message alone.
    std::string large = LargeMapText();
    large.erase(large.rfind('\t', large.size() - 4) + 1);  // the last row's last cell
    large += "\r\n";
    WriteFile(dir / "large.txt", large);
    WriteFile(dir / "small.txt", std::string("2,3\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n3,0,0,0,0\t4,0,0,0,0\t\r\n"
                                             "5,0,0,0,0\t256,0,0,0,0\t\r\n"));
    WriteFile(dir / "out.bmp", std::string("previous picture"));
    struct Case {
        std::string map;
        std::string message;
    };
    const Case cases[] = {
        {"large.txt", "Can't convert large.txt: line 601: wrong cell count\n"},
        {"small.txt", "Can't convert small.txt: line 4: value out of 0..255\n"},
    };
    for (const Case& c : cases) {
        for (const bool named : {false, true}) {
            RunOptions options;
            if (named) options.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
            const RunResult result = RunWith({c.map, "out.bmp"}, options);
            EXPECT_EQ(result.exitStatus, 1) << c.map;
            EXPECT_EQ(result.out, c.message);
            EXPECT_EQ(ReadFile(dir / "out.bmp"), "previous picture");
            EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"large.txt", "out.bmp", "small.txt"})) << named;
        }
        RunOptions here;
        here.workingDirectory = dir.path();
        const RunResult toStandardOutput = RunProgram(kGrid2Bmp.Command({c.map, "-"}), here);
        EXPECT_EQ(toStandardOutput.exitStatus, 1);
        EXPECT_EQ(kGrid2Bmp.AsText(toStandardOutput.out), c.message);
    }
}

TEST_F(Grid2Bmp, MemoryFollowsTheTextNotTheHeader) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#else
    // The header announces a row 2 GiB wide and the row is empty: within
    // 256 MiB of address space the row is still read and found wrong.
    if (kGrid2Bmp.windows()) GTEST_SKIP() << "not on Windows: a Unix memory limit";
    if (kGrid2Bmp.wrapped()) GTEST_SKIP() << "an emulator needs more address space than the limit leaves";
    WriteFile(dir / "map.txt", std::string("1073741823,1\r\n\r\n"));
    RunOptions options;
    options.workingDirectory = dir.path();
    const RunResult result = RunProgram(MemoryLimitedScript(kGrid2Bmp, "exec \"$@\" map.txt out.bmp", 262144), options);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Can't convert map.txt: line 2: wrong cell count\n");
#endif
}

TEST_F(Grid2Bmp, MemoryRunningOutForADirectOutputIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#else
    if (kGrid2Bmp.windows()) GTEST_SKIP() << "not on Windows: a Unix memory limit";
    if (kGrid2Bmp.wrapped()) GTEST_SKIP() << "an emulator needs more address space than the limit leaves";
    // A picture for an output written directly (a device) is held whole
    // until the map text has been read, then written in blocks of rows. A
    // row 8 MiB wide makes each of those a large allocation: under the
    // largest address-space limit (ulimit -v, in steps of 64 KiB) too small
    // for the conversion, and a little below it, memory runs out at one of
    // them, which must be reported in one line, never end the program.
    constexpr int kCells = 4 * (1 << 20);
    std::string map = std::to_string(kCells) + ",1\r\n";
    map.reserve(map.size() + kCells * 10 + 2);
    for (int c = 0; c < kCells; ++c) map += "7,0,0,0,0\t";
    map += "\r\n";
    WriteFile(dir / "map.txt", map);
    RunOptions options;
    options.workingDirectory = dir.path();
    auto runWithin = [&](long limitKiB) {
        return RunProgram(MemoryLimitedScript(kGrid2Bmp, "exec \"$@\" map.txt /dev/null", limitKiB), options);
    };
    ASSERT_EQ(runWithin(1L << 20).exitStatus, 0);
    const long fails = LargestFailingLimit([&](long limit) { return runWithin(limit).exitStatus == 0; }, 1L << 20);
    for (long limit = fails; limit > fails - 8 * 1024 && limit > 0; limit -= 1024) {
        const RunResult result = runWithin(limit);
        EXPECT_EQ(result.exitStatus, 1) << "limit " << limit << " KiB";
        EXPECT_TRUE(result.out == "Can't write /dev/null\n" ||
                    result.out == "Can't convert map.txt: line 2: not enough memory\n")
            << "limit " << limit << " KiB: " << result.out;
        EXPECT_EQ(result.err, "") << "limit " << limit << " KiB";
    }
#endif
}

TEST_F(Grid2Bmp, EndlessMapTextIsRefusedAtItsFirstWrongLine) {
    // Map text is read in blocks and refused at its first wrong line without
    // reading on: /dev/zero has no header line, and an endless stream of
    // rows one row too many, all within a small memory limit.
    if (kGrid2Bmp.windows()) GTEST_SKIP() << "not on Windows: Unix devices and a Unix memory limit";
    if (kGrid2Bmp.wrapped()) GTEST_SKIP() << "an emulator needs more address space than the limit leaves";
    WriteFile(dir / "out.bmp", std::string("previous picture"));
    struct Case {
        std::string command;  // "$@" runs the program
        std::string out;
    };
    const Case cases[] = {
        {"exec \"$@\" /dev/zero out.bmp", "Can't convert /dev/zero: line 1: missing header\n"},
        {"{ printf '1,2\\r\\n'; yes '5,0,0,0,0\t'; } | \"$@\" - out.bmp", "Can't convert -: line 4: more rows than announced\n"},
    };
    RunOptions options;
    options.workingDirectory = dir.path();
    for (const Case& c : cases) {
        const RunResult result = RunProgram(MemoryLimitedScript(kGrid2Bmp, c.command, 262144), options);
        EXPECT_EQ(result.exitStatus, 1) << c.command;
        EXPECT_EQ(result.out, c.out) << c.command;
        EXPECT_EQ(ReadFile(dir / "out.bmp"), "previous picture");
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out.bmp"})) << c.command;
    }
}

TEST_F(Grid2Bmp, ValuesThePictureCannotKeepAreReported) {
    WriteFile(dir / "map.txt", std::string("2,1\r\n1,0,0,7,0\t2,0,0,0,0\t\r\n"));
    const RunResult result = Run({"map.txt", "out.bmp"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out,
              "Size: 4x1\nNote: 1 cell carried values other than 0 after the first; the picture keeps only "
              "the first\n");
    EXPECT_EQ(Run({"out.bmp", "again.txt"}, kBmp2Grid).exitStatus, 0);
    EXPECT_EQ(ReadFile(dir / "again.txt"), "2,1\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n");
}

TEST_F(Grid2Bmp, PictureToItsOwnStandardOutputArrivesWhole) {
    // Standard output redirected to the output file: the file holds the
    // picture alone; the size report and the note go to standard error. An
    // empty file (what `>` leaves) is written through standard output; a
    // file with contents (`>>`, `1<>`) is replaced, except on Windows, which
    // refuses it and leaves it as it was.
    WriteFile(dir / "map.txt", std::string("2,1\r\n1,0,0,7,0\t2,0,0,0,0\t\r\n"));
    ASSERT_EQ(Run({"map.txt", "expected.bmp"}).exitStatus, 0);
    const std::string picture = ReadFile(dir / "expected.bmp");
    const std::string messages =
        "Size: 4x1\nNote: 1 cell carried values other than 0 after the first; the picture keeps only the first\n";
    const std::string longer(4 * picture.size(), 'p');  // no tail of it may be left
    struct Case {
        std::string output;
        StdoutMode mode;
        std::string previous;  // in out.bmp before the run
        bool unixOnly;
    };
    const Case cases[] = {
        {"out.bmp", StdoutMode::Truncate, "previous picture", false},
        {"out.bmp", StdoutMode::Append, "", false},
        {"out.bmp", StdoutMode::Append, "previous picture", false},
        {"/dev/stdout", StdoutMode::Append, longer, true},
        {"out.bmp", StdoutMode::ReadWrite, longer, true},
    };
    for (const Case& c : cases) {
        if (c.unixOnly && kGrid2Bmp.windows()) continue;
        const std::string label = c.output + (c.mode == StdoutMode::Append ? " >>" : c.mode == StdoutMode::ReadWrite ? " 1<>" : " >") +
                                  " " + std::to_string(c.previous.size()) + " bytes";
        const bool refused = kGrid2Bmp.windows() && c.mode == StdoutMode::Append && !c.previous.empty();
        WriteFile(dir / "out.bmp", c.previous);
        RunOptions options;
        options.workingDirectory = dir.path();
        options.stdoutMode = c.mode;
        const RunResult result = RunWithStandardOutputTo(kGrid2Bmp, {"map.txt", c.output}, "out.bmp", options);
        EXPECT_EQ(result.exitStatus, refused ? 1 : 0) << label;
        const std::string err = refused ? "Can't open " + c.output + "\n" : messages;
        if (kGrid2Bmp.windows()) {  // Wine may add lines of its own
            EXPECT_NE(result.err.find(err), std::string::npos) << label << ": " << result.err;
        } else {
            EXPECT_EQ(result.err, err) << label;
        }
        EXPECT_TRUE(ReadFile(dir / "out.bmp") == (refused ? c.previous : picture)) << label;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"expected.bmp", "map.txt", "out.bmp"})) << label;
    }
}

TEST_F(Grid2Bmp, PictureToStandardOutputThroughDevStdout) {
    if (kGrid2Bmp.windows()) GTEST_SKIP() << "not on Windows: Unix devices";
    WriteFile(dir / "map.txt", std::string("1,1\r\n5,0,0,0,0\t\r\n"));
    ASSERT_EQ(Run({"map.txt", "expected.bmp"}).exitStatus, 0);
    const RunResult result = RunWith({"map.txt", "/dev/stdout"}, {});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, ReadFile(dir / "expected.bmp"));
    EXPECT_EQ(result.err, "Size: 2x1\n");
}

TEST_F(Grid2Bmp, DashIsStandardInputOrOutput) {
    // "-" as the map text or the palette picture reads standard input; as
    // the output it writes the picture to standard output, the messages then
    // going to standard error. Messages name "-" as typed; a file named "-"
    // (here text that is not a map) is reached as "./-".
    const std::string map = "1,1\r\n5,0,0,0,0\t\r\n";
    WriteFile(dir / "map.txt", map);
    WriteFile(dir / "-", std::string("not a map"));
    const IndexedPicture picture = CountingPicture(2, 1);
    WriteFile(dir / "pal.bmp", MakeBmp(picture));
    const std::string palette = ReadFile(dir / "pal.bmp");
    ASSERT_EQ(Run({"map.txt", "plain.bmp"}).exitStatus, 0);
    ASSERT_EQ(Run({"--palette", "pal.bmp", "map.txt", "coloured.bmp"}).exitStatus, 0);
    const std::string plain = ReadFile(dir / "plain.bmp");
    const std::string coloured = ReadFile(dir / "coloured.bmp");
    struct Case {
        std::vector<std::string> args;
        std::string stdinData;
        int status;
        std::string out;  // the picture, byte for byte, when it goes to standard output
        std::string err;
        std::string outFile;  // out.bmp afterwards; empty: not made
    };
    const Case cases[] = {
        {{"-", "out.bmp"}, map, 0, "Size: 2x1\n", "", plain},
        {{"map.txt", "-"}, "", 0, plain, "Size: 2x1\n", ""},
        {{"--palette", "-", "map.txt", "-"}, palette, 0, coloured, "Size: 2x1\n", ""},
        {{"-", "out.bmp"}, "", 1, "Can't convert -: line 1: missing header\n", "", ""},
        {{"--palette", "-", "map.txt", "out.bmp"}, "", 1,
         "Can't convert -: file is shorter than a bitmap file header\n", "", ""},
        {{"./-", "out.bmp"}, map, 1, "Can't convert ./-: line 1: missing header\n", "", ""},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& a : c.args) label += "[" + a + "] ";
        RunOptions options;
        options.workingDirectory = dir.path();
        options.stdinData = c.stdinData;
        const RunResult result = RunProgram(kGrid2Bmp.Command(c.args), options);
        EXPECT_EQ(result.exitStatus, c.status) << label;
        const bool pictureOnStandardOutput = c.args.back() == "-" && c.status == 0;
        EXPECT_TRUE((pictureOnStandardOutput ? result.out : kGrid2Bmp.AsText(result.out)) == c.out)
            << label << kGrid2Bmp.AsText(result.out);
        const std::string err = kGrid2Bmp.AsText(result.err);
        if (kGrid2Bmp.windows()) {  // Wine may add lines of its own
            EXPECT_NE(err.find(c.err), std::string::npos) << label << err;
        } else {
            EXPECT_EQ(err, c.err) << label;
        }
        EXPECT_TRUE((std::filesystem::exists(dir / "out.bmp") ? ReadFile(dir / "out.bmp") : "") == c.outFile)
            << label;
        std::filesystem::remove(dir / "out.bmp");
    }
    // The file named "-" as the output.
    const RunResult toFile = Run({"map.txt", "./-"});
    EXPECT_EQ(toFile.exitStatus, 0);
    EXPECT_EQ(toFile.out, "Size: 2x1\n");
    EXPECT_TRUE(ReadFile(dir / "-") == plain);
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"-", "coloured.bmp", "map.txt", "pal.bmp", "plain.bmp"}));
}

// Names in any script, as map text and as picture: the file named is the
// one read or written, never a look-alike (the decoys stay as they were).
TEST_F(Grid2Bmp, EveryNameIsTheFileNamed) {
    namespace fs = std::filesystem;
    const std::vector<TypedName>& cases = NamesInSeveralScripts();
    fs::create_directory(dir / "sub");
    const std::string map = "2,1\r\n5,0,0,0,0\t7,0,0,0,0\t\r\n";
    const std::string decoyMap = "1,1\r\n9,0,0,0,0\t\r\n";
    const std::string decoyPicture = "decoy picture";
    WriteFile(dir / "plain.txt", map);
    ASSERT_EQ(Run({"plain.txt", "plain.bmp"}).exitStatus, 0);
    const std::string expected = ReadFile(dir / "plain.bmp");
    for (const TypedName& c : cases) {
        if (c.decoy.empty()) continue;
        WriteFile(dir / (c.decoy + ".txt"), decoyMap);
        WriteFile(dir / (c.decoy + ".bmp"), decoyPicture);
    }
    for (const TypedName& c : cases) {
        SCOPED_TRACE(c.stem);
        WriteFile(dir / (c.stem + ".txt"), map);
        const RunResult result = Run({c.stem + ".txt", c.stem + ".bmp"});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, "Size: 4x1\n");
        EXPECT_EQ(ReadFile(dir / (c.stem + ".bmp")), expected);
        if (!c.decoy.empty()) {
            EXPECT_EQ(ReadFile(dir / (c.decoy + ".txt")), decoyMap);
            EXPECT_EQ(ReadFile(dir / (c.decoy + ".bmp")), decoyPicture);
        }
    }
}

// The picture may replace its own map text: the map is read to its end, and
// closed, before the picture takes its place.
TEST_F(Grid2Bmp, PictureMayReplaceItsOwnMapText) {
    const std::string map = "2,1\r\n5,0,0,0,0\t7,0,0,0,0\t\r\n";
    WriteFile(dir / "map.txt", map);
    for (const std::string format : {"bmp", "png"}) {
        SCOPED_TRACE(format);
        ASSERT_EQ(Run({"--format", format, "map.txt", "expected." + format}).exitStatus, 0);
        WriteFile(dir / "same.txt", map);
        const RunResult result = Run({"--format", format, "same.txt", "same.txt"});
        EXPECT_EQ(result.exitStatus, 0) << result.out;
        EXPECT_EQ(result.out, "Size: 4x1\n");
        EXPECT_EQ(ReadFile(dir / "same.txt"), ReadFile(dir / ("expected." + format)));
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"expected.bmp", "expected.png", "map.txt", "same.txt"}));
}

// Standard input that is the output file, through Windows' own shell, which
// holds it open: refused untouched, as a file with contents that standard
// output holds.
TEST_F(Grid2Bmp, WindowsStandardInputThatIsTheOutput) {
    if (!kGrid2Bmp.windows()) GTEST_SKIP() << "only for the Windows build (POSIX replaces it)";
    const std::string map = "2,1\r\n5,0,0,0,0\t7,0,0,0,0\t\r\n";
    WriteFile(dir / "same.txt", map);
    RunOptions options;
    options.workingDirectory = dir.path();
    const RunResult result = RunProgram(
        kGrid2Bmp.WindowsShell({Program::WindowsPath(kGrid2Bmp.exe()), "-", "same.txt", "<", "same.txt"}), options);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(kGrid2Bmp.AsText(result.out), "Can't open same.txt\n");
    EXPECT_EQ(ReadFile(dir / "same.txt"), map);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"same.txt"});
}

TEST_F(Grid2Bmp, OutputNamesAndLinks) {
    if (kGrid2Bmp.windows()) GTEST_SKIP() << "not on Windows: symbolic links";
    // Names up to the file system's 255 bytes work; longer names and links
    // that can't be resolved are refused before any work, links untouched.
    namespace fs = std::filesystem;
    WriteFile(dir / "map.txt", std::string("1,1\r\n5,0,0,0,0\t\r\n"));
    fs::create_symlink("loop.bmp", dir / "loop.bmp");
    const std::string longest = std::string(251, 'p') + ".bmp";
    const std::string tooLong = std::string(252, 'p') + ".bmp";
    for (const bool named : {false, true}) {
        RunOptions options;
        if (named) options.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
        const RunResult ok = RunWith({"map.txt", longest}, options);
        EXPECT_EQ(ok.exitStatus, 0) << named;
        EXPECT_EQ(ok.out, "Size: 2x1\n") << named;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"loop.bmp", "map.txt", longest})) << named;
        fs::remove(dir / longest);
        for (const std::string& refused : {tooLong, std::string("loop.bmp")}) {
            const RunResult result = RunWith({"map.txt", refused}, options);
            EXPECT_EQ(result.exitStatus, 1) << refused;
            EXPECT_EQ(result.out, "Can't open " + refused + "\n");
            EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"loop.bmp", "map.txt"})) << refused;
        }
    }
    EXPECT_EQ(fs::read_symlink(dir / "loop.bmp"), "loop.bmp");
}

TEST_F(Grid2Bmp, OutputNamesThatCanNeverWorkAreRefusedFirst) {
    // A name longer than the file system takes and links that can't be
    // resolved are refused before anything is read: with a missing map text
    // or palette picture, or an endless input (which would otherwise be read
    // until memory runs out), the message is still `Can't open <outfile>`.
    const std::string tooLong = std::string(252, 'p') + ".bmp";
    const RunResult missing = Run({"missing.txt", tooLong});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.out, "Can't open " + tooLong + "\n");
    EXPECT_TRUE(dir.Entries().empty());

    if (kGrid2Bmp.windows()) GTEST_SKIP() << "not on Windows: Unix devices and symbolic links";
    namespace fs = std::filesystem;
    fs::create_symlink("loop.bmp", dir / "loop.bmp");
    WriteFile(dir / "map.txt", std::string("1,1\r\n5,0,0,0,0\t\r\n"));
    struct Case {
        std::string command;  // "$@" runs the program
        std::string output;
    };
    const Case cases[] = {
        {"exec \"$@\" /dev/zero " + tooLong, tooLong},
        {"exec \"$@\" -1 /dev/zero loop.bmp", "loop.bmp"},
        {"exec \"$@\" --palette missing.bmp map.txt loop.bmp", "loop.bmp"},
    };
    RunOptions options;
    options.workingDirectory = dir.path();
    for (const Case& c : cases) {
        // Under a memory limit, so that reading on to the end fails soon.
        const std::vector<std::string> shell = MemoryLimitedScript(kGrid2Bmp, c.command, 1 << 20);
        const RunResult result = RunProgram(shell, options);
        EXPECT_EQ(result.exitStatus, 1) << c.command;
        EXPECT_EQ(result.out, "Can't open " + c.output + "\n") << c.command;
        EXPECT_EQ(result.err, "") << c.command;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"loop.bmp", "map.txt"})) << c.command;
    }
    EXPECT_EQ(fs::read_symlink(dir / "loop.bmp"), "loop.bmp");
}

bool IsPng(const std::string& file) { return file.rfind("\x89PNG\r\n\x1a\n", 0) == 0; }

TEST_F(Grid2Bmp, PngByTheOutputsNameOrByFormat) {
    // A name ending in ".png" in any case makes a PNG, any other a BMP;
    // --format overrides the name. Either converts back to the same map, in
    // both modes.
    struct Case {
        std::vector<std::string> args;  // options and the output
        bool png;
    };
    const Case cases[] = {
        {{"out.png"}, true},
        {{"OUT.PNG"}, true},
        {{"out.Png"}, true},
        {{"out.bmp"}, false},
        {{"out.png.bmp"}, false},
        {{"png"}, false},
        {{".png"}, true},  // the ending alone
        {{"--format", "png", "out.bmp"}, true},
        {{"--format", "bmp", "out.png"}, false},
        {{"--format", "png", "--palette", "pal.bmp", "out"}, true},
    };
    WriteFile(dir / "pal.bmp", MakeBmp(CountingPicture(2, 2)));
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        const std::string map = ReferenceMap(RandomPicture(16, 9, 4), mode);
        WriteFile(dir / "map.txt", map);
        for (const Case& c : cases) {
            std::vector<std::string> args = c.args;
            args.insert(args.end() - 1, "map.txt");
            if (mode == SampleMode::OneToOne) args.insert(args.begin(), "-1");
            const std::string label = c.args.back() + (mode == SampleMode::OneToOne ? " -1" : "");
            const RunResult result = Run(args);
            EXPECT_EQ(result.exitStatus, 0) << label;
            EXPECT_EQ(result.out, "Size: 16x9\n") << label;
            const std::string picture = ReadFile(dir / c.args.back());
            EXPECT_EQ(IsPng(picture), c.png) << label;
            EXPECT_EQ(picture.rfind("BM", 0) == 0, !c.png) << label;
            std::vector<std::string> back = {c.args.back(), "again.txt"};
            if (mode == SampleMode::OneToOne) back.insert(back.begin(), "-1");
            EXPECT_EQ(Run(back, kBmp2Grid).exitStatus, 0) << label;
            EXPECT_TRUE(ReadFile(dir / "again.txt") == map) << label;
            std::filesystem::remove(dir / c.args.back());
        }
    }
    // To standard output: a BMP unless --format png says otherwise.
    RunOptions here;
    here.workingDirectory = dir.path();
    ASSERT_EQ(Run({"map.txt", "out.png"}).exitStatus, 0);
    const RunResult png = RunProgram(kGrid2Bmp.Command({"--format", "png", "map.txt", "-"}), here);
    EXPECT_EQ(png.exitStatus, 0);
    EXPECT_TRUE(png.out == ReadFile(dir / "out.png"));
    const RunResult bmp = RunProgram(kGrid2Bmp.Command({"map.txt", "-"}), here);
    EXPECT_EQ(bmp.out.rfind("BM", 0), 0u);
}

TEST_F(Grid2Bmp, PngOutputIsReplacedSafely) {
    // Rows go to the temporary file in sequence as they are read; the same
    // bytes as through standard output (from memory) and through the named
    // temporary file. A map refused in its last row, more than a block of
    // rows in, leaves the previous file whole and no temporary file.
    const std::string map = LargeMapText();
    WriteFile(dir / "map.txt", map);
    ASSERT_EQ(Run({"map.txt", "out.png"}).out, "Size: 2200x600\n");
    const std::string picture = ReadFile(dir / "out.png");
    ASSERT_TRUE(IsPng(picture));
    EXPECT_EQ(Run({"out.png", "again.txt"}, kBmp2Grid).exitStatus, 0);
    EXPECT_TRUE(ReadFile(dir / "again.txt") == map);
    RunOptions named;
    named.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
    EXPECT_EQ(RunWith({"map.txt", "named.png"}, named).exitStatus, 0);
    EXPECT_TRUE(ReadFile(dir / "named.png") == picture);
    RunOptions here;
    here.workingDirectory = dir.path();
    EXPECT_TRUE(RunProgram(kGrid2Bmp.Command({"--format", "png", "map.txt", "-"}), here).out == picture);

    std::string cut = map;
    cut.erase(cut.rfind('\t', cut.size() - 4) + 1);
    cut += "\r\n";
    WriteFile(dir / "cut.txt", cut);
    const std::vector<std::string> before = dir.Entries();
    for (const bool useNamed : {false, true}) {
        RunOptions options;
        if (useNamed) options = named;
        const RunResult result = RunWith({"cut.txt", "out.png"}, options);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "Can't convert cut.txt: line 601: wrong cell count\n");
        EXPECT_TRUE(ReadFile(dir / "out.png") == picture);
        EXPECT_EQ(dir.Entries(), before) << useNamed;
    }
    // Wider than bmp2grid reads as PNG: refused as too large, not as a BMP.
    WriteFile(dir / "wide.txt", std::string("524289,1\r\n"));
    EXPECT_EQ(Run({"wide.txt", "wide.png"}).out, "Can't convert wide.txt: line 1: picture would be too large\n");
    EXPECT_EQ(Run({"wide.txt", "wide.bmp"}).out, "Can't convert wide.txt: line 2: fewer rows than announced\n");
    if (kGrid2Bmp.windows()) return;  // Unix devices
    const RunResult full = Run({"--format", "png", "map.txt", "/dev/full"});
    EXPECT_EQ(full.exitStatus, 1);
    EXPECT_EQ(full.out, "Can't write /dev/full\n");
}

TEST_F(Grid2Bmp, PngIsReadBackByPngcheckPillowAndImageMagick) {
    // Other programs read the indices written, exactly: pngcheck finds an
    // 8-bit indexed PNG with 256 colours and no tRNS, Pillow reads the
    // indices, and ImageMagick the colours of the palette (all different)
    // at each index.
    const std::string map = ReferenceMap(RandomPicture(40, 7, 21), SampleMode::TwoToOne);
    WriteFile(dir / "map.txt", map);
    ASSERT_EQ(Run({"map.txt", "out.png"}).exitStatus, 0);
    const IndexedPicture picture = ReadMapText(map, SampleMode::TwoToOne).picture;
    const std::string indices(picture.pixels.begin(), picture.pixels.end());
    RunOptions here;
    here.workingDirectory = dir.path();
    std::vector<std::string> missing;

    // Debian's pngcheck, python3-pil and imagemagick.
    if (std::filesystem::exists("/usr/bin/pngcheck")) {
        const RunResult check = RunProgram({"/usr/bin/pngcheck", "-v", "out.png"}, here);
        EXPECT_EQ(check.exitStatus, 0) << check.out;
        EXPECT_NE(check.out.find("40 x 7 image, 8-bit palette, non-interlaced"), std::string::npos) << check.out;
        EXPECT_NE(check.out.find("256 palette entries"), std::string::npos) << check.out;
        EXPECT_EQ(check.out.find("tRNS"), std::string::npos) << check.out;
    } else {
        missing.push_back("pngcheck");
    }
    if (RunProgram({"/usr/bin/python3", "-c", "import PIL"}, {}).exitStatus == 0) {
        const RunResult pillow = RunProgram(
            {"/usr/bin/python3", "-c",
             "import sys; from PIL import Image; im = Image.open('out.png'); assert im.mode == 'P', im.mode; "
             "sys.stdout.buffer.write(bytes(im.getdata()))"},
            here);
        EXPECT_EQ(pillow.exitStatus, 0) << pillow.err;
        EXPECT_TRUE(pillow.out == indices);
    } else {
        missing.push_back("Pillow (python3-pil)");
    }
    if (std::filesystem::exists("/usr/bin/convert")) {
        const ColourTable palette = BuiltInPalette();
        std::map<std::array<std::uint8_t, 3>, std::uint8_t> indexOf;
        for (int i = 0; i < 256; ++i) {
            const auto& c = palette[static_cast<std::size_t>(i)];
            indexOf[{c[2], c[1], c[0]}] = static_cast<std::uint8_t>(i);
        }
        ASSERT_EQ(indexOf.size(), 256u) << "the built-in palette's colours must differ";
        const RunResult magick = RunProgram({"/usr/bin/convert", "out.png", "-depth", "8", "rgb:-"}, here);
        EXPECT_EQ(magick.exitStatus, 0) << magick.err;
        ASSERT_EQ(magick.out.size(), 3 * indices.size());
        std::string read;
        for (std::size_t i = 0; i < magick.out.size(); i += 3) {
            const auto at = [&](std::size_t k) { return static_cast<std::uint8_t>(magick.out[i + k]); };
            const auto found = indexOf.find({at(0), at(1), at(2)});
            read.push_back(found == indexOf.end() ? '?' : static_cast<char>(found->second));
        }
        EXPECT_TRUE(read == indices);
    } else {
        missing.push_back("ImageMagick");
    }
    if (!missing.empty()) {
        std::string names;
        for (const std::string& name : missing) names += " " + name;
        GTEST_SKIP() << "not installed (.ci/run installs them):" << names;
    }
}


// --- Tiled maps ---------------------------------------------------------------

// What grid2bmp must write for `map` as a Tiled map named `name`, and its sheet.
std::string ExpectedTiledMap(const std::string& map, SampleMode mode, TiledFormat format, const std::string& name) {
    MemorySink sink;
    EXPECT_TRUE(WriteTiledMap(sink, ReadMapText(map, mode).picture, format, mode, tiled::SheetFileName(name)));
    return std::string(sink.text());
}
std::string ExpectedSheet(SampleMode mode, const ColourTable& palette = BuiltInPalette()) {
    MemorySink sink;
    EXPECT_TRUE(WriteTileSheet(sink, palette, tiled::ShapeFor(mode)));
    return std::string(sink.text());
}

TEST_F(Grid2Bmp, TiledMapByTheOutputsNameOrByFormat) {
    // ".tmx" and ".tmj" in any case make Tiled maps, with the sheet beside
    // them named after them; --format overrides the name both ways. The map
    // and the sheet are the library's bytes (which the page writes too).
    enum Kind { Bmp, Png, Tmx, Tmj };
    struct Case {
        std::vector<std::string> args;  // options and the output
        Kind kind;
        std::string sheet;  // the sheet's name, for a Tiled map
    };
    const Case cases[] = {
        {{"out.tmx"}, Tmx, "out.tiles.png"},
        {{"OUT.TMX"}, Tmx, "OUT.tiles.png"},
        {{"a.b.Tmj"}, Tmj, "a.b.tiles.png"},
        {{"out.tmj"}, Tmj, "out.tiles.png"},
        {{"out.tmx.bmp"}, Bmp, ""},
        {{"tmx"}, Bmp, ""},
        {{"--format", "tmx", "out.bmp"}, Tmx, "out.tiles.png"},
        {{"--format", "tmj", "--palette", "pal.bmp", "out"}, Tmj, "out.tiles.png"},
        {{"--format", "bmp", "out.tmx"}, Bmp, ""},
        {{"--format", "png", "out.tmj"}, Png, ""},
    };
    WriteFile(dir / "pal.bmp", MakeBmp(CountingPicture(2, 2)));
    ColourTable counting = DecodeBytes(MakeBmp(CountingPicture(2, 2))).picture.colours;
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        const std::string map = ReferenceMap(RandomPicture(16, 9, 4), mode);
        WriteFile(dir / "map.txt", map);
        for (const Case& c : cases) {
            std::vector<std::string> args = c.args;
            args.insert(args.end() - 1, "map.txt");
            if (mode == SampleMode::OneToOne) args.insert(args.begin(), "-1");
            const std::string& output = c.args.back();
            const std::string label = output + (mode == SampleMode::OneToOne ? " -1" : "");
            const RunResult result = Run(args);
            EXPECT_EQ(result.exitStatus, 0) << label;
            EXPECT_EQ(result.out, "Size: 16x9\n") << label;
            const std::string written = ReadFile(dir / output);
            std::vector<std::string> expectedEntries = {"map.txt", "pal.bmp", output};
            if (c.kind == Tmx || c.kind == Tmj) {
                const bool palette = std::find(args.begin(), args.end(), "pal.bmp") != args.end();
                EXPECT_TRUE(written == ExpectedTiledMap(map, mode, c.kind == Tmx ? TiledFormat::Tmx : TiledFormat::Tmj,
                                                        output))
                    << label;
                EXPECT_TRUE(ReadFile(dir / c.sheet) == ExpectedSheet(mode, palette ? counting : BuiltInPalette()))
                    << label;
                expectedEntries.push_back(c.sheet);
            } else {
                EXPECT_EQ(written.rfind(c.kind == Png ? "\x89PNG" : "BM", 0), 0u) << label;
            }
            std::sort(expectedEntries.begin(), expectedEntries.end());
            EXPECT_EQ(dir.Entries(), expectedEntries) << label;
            std::filesystem::remove(dir / output);
            if (!c.sheet.empty()) std::filesystem::remove(dir / c.sheet);
        }
    }
}

TEST_F(Grid2Bmp, TiledMapRefusals) {
    // Standard output can't take a Tiled map: refused before anything is
    // read. A sheet that can't be made or written stops the map, which stays
    // as it was; so does bad map text, for both files.
    const std::string good = "2,1\r\n5,0,0,0,0\t7,0,0,0,0\t\r\n";
    WriteFile(dir / "map.txt", good);
    WriteFile(dir / "bad.txt", std::string("2,2\r\n1,0,0,0,0\t2,0,0,0,0\t\r\n1,0,0,0,0\t\r\n"));
    WriteFile(dir / "file", std::string("a regular file"));
    WriteFile(dir / "old.tmx", std::string("previous map"));
    WriteFile(dir / "old.tiles.png", std::string("previous sheet"));
    std::filesystem::create_directory(dir / "taken.tiles.png");
    const std::string longName = std::string(246, 'p') + ".tmx";  // its sheet's name is 256 bytes
    const std::string stdoutRefused =
        "Can't write -: a Tiled map needs its tile sheet beside it in a folder; name an output file\n";
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"map.txt", "-"}, ""},  // a BMP: the one case that succeeds
        {{"--format", "tmx", "map.txt", "-"}, stdoutRefused},
        {{"--format", "tmj", "missing.txt", "-"}, stdoutRefused},  // nothing read
        {{"--format", "tmj", "--palette", "missing.bmp", "map.txt", "-"}, stdoutRefused},
        {{"missing.txt", longName}, "Can't open " + std::string(246, 'p') + ".tiles.png\n"},
        {{"map.txt", "taken.tmx"}, "Can't open taken.tiles.png\n"},
        {{"map.txt", "file/x.tmx"}, "Can't open file/x.tmx\n"},
        {{"bad.txt", "old.tmx"}, "Can't convert bad.txt: line 3: wrong cell count\n"},
        {{"-1", "bad.txt", "old.tmx"}, "Can't convert bad.txt: line 3: wrong cell count\n"},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& a : c.args) label += "[" + a + "] ";
        RunOptions options;
        options.workingDirectory = dir.path();
        const RunResult result = RunProgram(kGrid2Bmp.Command(c.args), options);
        if (c.out.empty()) {
            EXPECT_EQ(result.exitStatus, 0) << label;
            continue;
        }
        EXPECT_EQ(result.exitStatus, 1) << label;
        EXPECT_EQ(kGrid2Bmp.AsText(result.out), c.out) << label;
        EXPECT_EQ(ReadFile(dir / "old.tmx"), "previous map") << label;
        EXPECT_EQ(ReadFile(dir / "old.tiles.png"), "previous sheet") << label;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"bad.txt", "file", "map.txt", "old.tiles.png", "old.tmx",
                                                           "taken.tiles.png"}))
            << label;
    }
    // Map text named as the sheet of the map it makes: the sheet would take
    // its place unasked.
    WriteFile(dir / "in.tiles.png", good);
    const RunResult input = Run({"in.tiles.png", "in.tmx"});
    EXPECT_EQ(input.exitStatus, 1);
    EXPECT_EQ(input.out, "Can't write in.tiles.png: it is the map text being read; name the map otherwise\n");
    EXPECT_EQ(ReadFile(dir / "in.tiles.png"), good);
    EXPECT_FALSE(std::filesystem::exists(dir / "in.tmx"));
    if (kGrid2Bmp.windows()) return;  // Unix devices and links
    // A sheet that fails as it is written: the map is not put in place.
    std::filesystem::create_symlink("/dev/full", dir / "full.tiles.png");
    WriteFile(dir / "full.tmx", std::string("previous map"));
    const RunResult full = Run({"map.txt", "full.tmx"});
    EXPECT_EQ(full.exitStatus, 1);
    EXPECT_EQ(full.out, "Can't write full.tiles.png\n");
    EXPECT_EQ(ReadFile(dir / "full.tmx"), "previous map");
    // A map that fails as its rows are written (the file size limit, well
    // above the sheet's size): the sheet is not written either.
    WriteFile(dir / "large.txt", ReferenceMap(RandomPicture(2000, 100, 6), SampleMode::TwoToOne));
    RunOptions limited;
    limited.fileSizeLimit = 100000;
    const RunResult tooLarge = RunWith({"large.txt", "old.tmx"}, limited);
    EXPECT_EQ(tooLarge.exitStatus, 1);
    EXPECT_EQ(tooLarge.out, "Can't write old.tmx\n");
    EXPECT_EQ(ReadFile(dir / "old.tmx"), "previous map");
    EXPECT_EQ(ReadFile(dir / "old.tiles.png"), "previous sheet");
}

TEST_F(Grid2Bmp, TiledMapToAFifoGetsItsSheetBesideIt) {
    if (kGrid2Bmp.windows()) GTEST_SKIP() << "not on Windows: a FIFO";
    const std::string map = ReferenceMap(RandomPicture(40, 7, 5), SampleMode::TwoToOne);
    WriteFile(dir / "map.txt", map);
    ASSERT_EQ(::mkfifo((dir / "fifo.tmj").c_str(), 0600), 0);
    RunOptions options;
    options.workingDirectory = dir.path();
    const RunResult result = RunProgram(
        MemoryLimitedScript(kGrid2Bmp, "timeout 60 cat fifo.tmj > got.tmj & \"$@\" map.txt fifo.tmj; s=$?; wait; exit $s",
                            1 << 20),
        options);
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_EQ(result.out, "Size: 40x7\n");
    EXPECT_TRUE(ReadFile(dir / "got.tmj") == ExpectedTiledMap(map, SampleMode::TwoToOne, TiledFormat::Tmj, "fifo.tmj"));
    EXPECT_TRUE(ReadFile(dir / "fifo.tiles.png") == ExpectedSheet(SampleMode::TwoToOne));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"fifo.tiles.png", "fifo.tmj", "got.tmj", "map.txt"}));
}

// A PNG's pixels as red, green, blue and alpha, through libpng; empty when
// it can't be read.
struct RgbaPicture {
    std::int64_t width = 0;
    std::int64_t rows = 0;
    std::vector<std::uint8_t> pixels;
    const std::uint8_t* at(std::int64_t x, std::int64_t y) const {
        return pixels.data() + 4 * static_cast<std::size_t>(y * width + x);
    }
};
RgbaPicture ReadRgba(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return {};
    image.format = PNG_FORMAT_RGBA;
    RgbaPicture picture{image.width, image.height, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
    if (png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) == 0) return {};
    return picture;
}

TEST_F(Grid2Bmp, TiledDrawsTheMapAsGrid2BmpDrawsItsPicture) {
    // Tiled's own tools, headless: tmxrasterizer draws grid2bmp's TMX and
    // TMJ exactly as grid2bmp's BMP of the same map text, each pixel 8 x 8
    // (a brick row drawn half a tile right: its last brick's right half is
    // the picture's first pixel, past the right edge); and Tiled's re-save
    // of each format in the other is grid2bmp's own, but for the version of
    // Tiled it names, and bmp2grid reads it back into the same map text.
    if (kGrid2Bmp.windows()) GTEST_SKIP() << "not on Windows: Tiled's tools run natively";
    const std::string rasterizer = "/usr/bin/tmxrasterizer", tiledEditor = "/usr/bin/tiled";
    if (!std::filesystem::exists(rasterizer) || !std::filesystem::exists(tiledEditor))
        GTEST_SKIP() << "not installed (.ci/run installs them): Tiled (Debian: tiled)";
    WriteFile(dir / "sample.txt", ReadFile(std::string(BMP2GRID_EXAMPLES) + "/sample.txt"));
    WriteFile(dir / "random.txt", ReferenceMap(RandomPicture(18, 11, 9), SampleMode::TwoToOne));
    RunOptions offscreen;
    offscreen.workingDirectory = dir.path();
    offscreen.environment = {"QT_QPA_PLATFORM=offscreen"};
    constexpr std::int64_t kScale = 8;
    for (const std::string name : {"sample", "random"}) {
        for (const SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
            const bool bricks = mode == SampleMode::TwoToOne;
            std::vector<std::string> options = bricks ? std::vector<std::string>{} : std::vector<std::string>{"-1"};
            const std::string label = name + (bricks ? "" : " -1");
            const auto run = [&](const std::string& output) {
                std::vector<std::string> args = options;
                args.insert(args.end(), {name + ".txt", output});
                return Run(args).exitStatus;
            };
            ASSERT_EQ(run("map.tmx"), 0) << label;
            ASSERT_EQ(run("map.tmj"), 0) << label;
            ASSERT_EQ(run("picture.bmp"), 0) << label;
            const std::string bmpFile = ReadFile(dir / "picture.bmp");
            const LoadResult bmp = DecodeBytes(Bytes(bmpFile.begin(), bmpFile.end()));
            ASSERT_TRUE(bmp.ok()) << label;
            const IndexedPicture picture = PictureOf(bmp.picture);
            for (const std::string map : {"map.tmx", "map.tmj"}) {
                std::filesystem::remove(dir / "drawn.png");
                const RunResult drawn = RunProgram({rasterizer, map, "drawn.png"}, offscreen);
                ASSERT_EQ(drawn.exitStatus, 0) << label << " " << map << drawn.err;
                const RgbaPicture image = ReadRgba(dir / "drawn.png");
                ASSERT_EQ(image.width, kScale * picture.width + (bricks ? kScale : 0)) << label << " " << map;
                ASSERT_EQ(image.rows, kScale * picture.rows) << label << " " << map;
                std::int64_t wrong = 0;
                for (std::int64_t y = 0; y < image.rows; ++y) {
                    const std::int64_t row = y / kScale;
                    for (std::int64_t x = 0; x < kScale * picture.width; ++x) {
                        const bool overhang = bricks && row % 2 == 1 && x < kScale;
                        const std::uint8_t* drawnPixel = image.at(overhang ? x + kScale * picture.width : x, y);
                        const Colour& c = bmp.picture.colours[picture.at(x / kScale, row)];  // blue, green, red
                        if (drawnPixel[0] != c[2] || drawnPixel[1] != c[1] || drawnPixel[2] != c[0] ||
                            drawnPixel[3] != 255)
                            ++wrong;
                    }
                }
                EXPECT_EQ(wrong, 0) << label << " " << map;
            }
            // Tiled's re-save, each format in the other.
            for (const auto& [from, to, tiledVersion] :
                 {std::tuple<std::string, std::string, std::string>{"map.tmx", "map.tmj", "\n \"tiledversion\":\"1.8.2\","},
                  {"map.tmj", "map.tmx", " tiledversion=\"1.8.2\""}}) {
                const std::string format = to == "map.tmj" ? "json" : "tmx";
                const RunResult saved = RunProgram({tiledEditor, "--export-map", format, from, "resaved"}, offscreen);
                ASSERT_EQ(saved.exitStatus, 0) << label << " " << from << saved.err;
                // bmp2grid reads Tiled's own bytes (named without an
                // extension: known by content) back into the map text.
                std::vector<std::string> back = options;
                back.insert(back.end(), {"resaved", "back.txt"});
                ASSERT_EQ(Run(back, kBmp2Grid).exitStatus, 0) << label << " " << from;
                EXPECT_TRUE(ReadFile(dir / "back.txt") == ReadFile(dir / (name + ".txt"))) << label << " " << from;
                std::string resaved = ReadFile(dir / "resaved");
                const std::size_t version = resaved.find(tiledVersion);
                ASSERT_NE(version, std::string::npos) << resaved;
                resaved.erase(version, tiledVersion.size());
                EXPECT_TRUE(resaved == ReadFile(dir / to)) << label << " " << from << "\n" << resaved;
            }
        }
    }
}

}  // namespace
}  // namespace bmp2grid::test
