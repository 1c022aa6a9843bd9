// End-to-end: runs the built bmp2grid in a temporary folder and checks what
// it prints, its exit status, and the files it leaves, byte for byte.
//
// The same table runs against another build named by the environment, such
// as the Windows build under Wine (see program_under_test.h). Cases that
// need Unix devices, permissions or symbolic links are skipped there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "bmp_format.h"
#include "builtin_palette.h"
#include "diagnostics.h"
#include "memory_sink.h"
#include "process_runner.h"
#include "png_writer.h"
#include "program_under_test.h"
#include "seed_corpus.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

namespace fs = std::filesystem;

const Program& UnderTest() { return Bmp2GridUnderTest(); }

#define SKIP_ON_WINDOWS(why) \
    if (UnderTest().windows()) GTEST_SKIP() << "not on Windows: " << why

std::string Usage() { return "Usage: " + UnderTest().Name() + " [-1] <infile> <outfile>\n"; }

// -h and --help: the usage line, the batch and watch forms, then a line
// for each option.
std::string Help() {
    const std::string program = UnderTest().Name();
    return Usage() + "       " + program + " [options] [--watch] --out-dir DIR PICTURE...\n" + "       " + program +
           " [options] --watch <infile> <outfile>\n"
           "  -1                 one map cell per picture column, not per two\n"
           "  --palette PALETTE  cells hold each pixel's colour's index in PALETTE (a picture, .gpl or .pal)\n"
           "  --layer NAME       read the Tiled map's tile layer NAME\n"
           "  --out-dir DIR      convert each input into DIR/<its name>.<format> (a folder: the files in it)\n"
           "  -r                 with --out-dir: also the folders in a folder, kept as they are in DIR\n"
           "  -j N               with --out-dir: at most N conversions at once (default: one per processor)\n"
           "  --watch            convert again each time an input is saved, until Ctrl-C\n"
           "  --version          print the version\n";
}

std::string AsText(const std::string& out) { return UnderTest().AsText(out); }

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        picture_ = CountingPicture(4, 3);
        WriteFile(dir / "pic.bmp", MakeBmp(picture_));
    }

    // Runs bmp2grid with `args` inside the test folder; messages as text.
    RunResult Run(std::vector<std::string> args, RunOptions options = {}) {
        options.workingDirectory = dir.path();
        RunResult result = RunProgram(UnderTest().Command(std::move(args)), options);
        result.out = AsText(result.out);
        result.err = AsText(result.err);
        return result;
    }

    // What a run on the 4 x 3 picture takes: the program's own start, and,
    // in a sanitized build, the sanitizer's. Figures of big work are held
    // against this, so that they measure the work's own memory.
    long StartingMemoryKiB() {
        const RunResult small = Convert({"pic.bmp", "small.txt"});
        EXPECT_EQ(small.exitStatus, 0);
        return small.peakMemoryKiB;
    }

    // Runs bmp2grid when its output is not its own standard output.
    RunResult Convert(std::vector<std::string> args, RunOptions options = {}) {
        RunResult result = Run(std::move(args), std::move(options));
        // Wine itself may speak on standard error; the native build never does.
        if (!UnderTest().windows()) {
            EXPECT_EQ(result.err, "") << "nothing may go to standard error";
        }
        return result;
    }

    // Runs bmp2grid with its standard output going to `file` in the test
    // folder, opened as a shell's `>`, `>>` or `1<>` opens it.
    RunResult RunWithStandardOutputTo(std::vector<std::string> args, const std::string& file,
                                      StdoutMode mode = StdoutMode::Truncate) {
        RunOptions options;
        options.workingDirectory = dir.path();
        options.stdoutMode = mode;
        return test::RunWithStandardOutputTo(UnderTest(), std::move(args), file, options);
    }

    // What the program wrote on standard error should be `expected`. Wine
    // itself may add lines of its own there.
    static void ExpectStandardError(const RunResult& result, const std::string& expected, const std::string& label) {
        if (UnderTest().windows()) {
            EXPECT_NE(result.err.find(expected), std::string::npos) << label << ": " << result.err;
        } else {
            EXPECT_EQ(result.err, expected) << label;
        }
    }

    std::string Map(SampleMode mode) const { return ReferenceMap(picture_, mode); }

    TempDir dir;
    IndexedPicture picture_;
    const std::string sizeReport_ = "Size: 4x3 (should be 12 bytes, is 12 bytes)\n";
};

TEST_F(Cli, ConvertsInBothModes) {
    RunResult two = Convert({"pic.bmp", "map.txt"});
    EXPECT_EQ(two.exitStatus, 0);
    EXPECT_EQ(two.out, sizeReport_);
    EXPECT_EQ(ReadFile(dir / "map.txt"), Map(SampleMode::TwoToOne));

    RunResult one = Convert({"-1", "pic.bmp", "map.txt"});
    EXPECT_EQ(one.exitStatus, 0);
    EXPECT_EQ(one.out, sizeReport_);
    EXPECT_EQ(ReadFile(dir / "map.txt"), Map(SampleMode::OneToOne));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "pic.bmp"}));
}

TEST_F(Cli, UsageHelpAndArgumentForms) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::vector<std::string> files;  // folder contents afterwards
    };
    const std::vector<std::string> untouched = {"pic.bmp"};
    const Case cases[] = {
        {{}, 1, Usage(), untouched},
        {{"pic.bmp"}, 1, Usage(), untouched},
        {{"-1", "pic.bmp"}, 1, Usage(), untouched},
        {{"-h"}, 0, Help(), untouched},
        {{"--help"}, 0, Help(), untouched},
        {{"--version"}, 0, "bmp2grid " BMP2GRID_VERSION "\n", untouched},
        {{"--version", "pic.bmp"}, 1, "Can't open --version\n", untouched},
        {{"-1x", "pic.bmp", "map.txt"}, 1, "Can't open -1x\n", untouched},
        {{"pic.bmp", "-1", "map.txt"}, 0, sizeReport_, {"-1", "pic.bmp"}},
        {{"pic.bmp", "map.txt", "extra", "more"}, 0, sizeReport_, {"map.txt", "pic.bmp"}},
        {{"", "map.txt"}, 1, "Can't open \n", untouched},
        {{"pic.bmp", ""}, 1, "Can't open \n", untouched},
        {{"missing.bmp", "map.txt"}, 1, "Can't open missing.bmp\n", untouched},
        {{"pic.bmp", "nofolder/map.txt"}, 1, "Can't open nofolder/map.txt\n", untouched},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& a : c.args) label += "[" + a + "] ";
        RunResult result = Convert(c.args);
        EXPECT_EQ(result.exitStatus, c.status) << label;
        EXPECT_EQ(result.out, c.out) << label;
        EXPECT_EQ(dir.Entries(), c.files) << label;
        for (const std::string& name : dir.Entries())
            if (name != "pic.bmp") fs::remove(dir / name);
    }
    // The output named "-1" holds the two-to-one map.
    Convert({"pic.bmp", "-1", "map.txt"});
    EXPECT_EQ(ReadFile(dir / "-1"), Map(SampleMode::TwoToOne));
}

// --palette REF: the same colours under other indices give the same map;
// an unknown colour, or an index past the picture's colour table, is refused
// before the output is touched.
TEST_F(Cli, ReferencePalette) {
    // pic.bmp's colours (MakeBmp's) as a GIMP palette, a JASC palette and a
    // picture, reversed: index i of the picture is 255 - i there.
    std::string gpl = "GIMP Palette\nName: reversed\n# comment\n";
    std::string pal = "JASC-PAL\r\n0100\r\n256\r\n";
    for (int i = 255; i >= 0; --i) {
        const std::string colour =
            std::to_string(i ^ 0x55) + " " + std::to_string(255 - i) + " " + std::to_string(i);
        gpl += colour + "\tcolour " + std::to_string(i) + "\n";
        pal += colour + "\r\n";
    }
    WriteFile(dir / "ref.gpl", gpl);
    WriteFile(dir / "ref.pal", pal);
    WriteFile(dir / "ref", gpl);  // told by its first line
    IndexedPicture reversedPicture = picture_;
    for (auto& px : reversedPicture.pixels) px = static_cast<std::uint8_t>(255 - px);
    Bytes reversed = MakeBmp(CountingPicture(1, 1, 0));
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            reversed[bmp::kFileHeaderSize + 40 + 4 * static_cast<std::size_t>(i) + static_cast<std::size_t>(c)] =
                MakeBmp(CountingPicture(1, 1, 0))[bmp::kFileHeaderSize + 40 + 4 * static_cast<std::size_t>(255 - i) +
                                                  static_cast<std::size_t>(c)];
    WriteFile(dir / "ref.bmp", reversed);
    WriteFile(dir / "two.txt", ReferenceMap(reversedPicture, SampleMode::TwoToOne));
    WriteFile(dir / "one.txt", ReferenceMap(reversedPicture, SampleMode::OneToOne));
    BmpOptions shortTable;
    shortTable.paletteEntries = 12;
    WriteFile(dir / "short.bmp", MakeBmp(picture_, shortTable));
    WriteFile(dir / "bad.gpl", std::string("GIMP Palette\n1 2 3\n4 5 x\n"));
    WriteFile(dir / "few.gpl", std::string("GIMP Palette\n95 245 10\n"));  // index 10's colour only
    fs::create_directory(dir / "folder.gpl");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string expected;  // the map file's contents afterwards
    };
    const std::string previous = "previous map";
    const Case cases[] = {
        {{"--palette", "ref.gpl", "pic.bmp", "map.txt"}, 0, sizeReport_, ReadFile(dir / "two.txt")},
        {{"--palette", "ref.pal", "-1", "pic.bmp", "map.txt"}, 0, sizeReport_, ReadFile(dir / "one.txt")},
        {{"-1", "--palette", "ref.bmp", "pic.bmp", "map.txt"}, 0, sizeReport_, ReadFile(dir / "one.txt")},
        {{"--palette", "ref", "pic.bmp", "map.txt"}, 0, sizeReport_, ReadFile(dir / "two.txt")},
        // Without --palette the indices are written as they are.
        {{"pic.bmp", "map.txt"}, 0, sizeReport_, Map(SampleMode::TwoToOne)},
        {{"--palette", "few.gpl", "pic.bmp", "map.txt"}, 1,
         "Can't convert pic.bmp: colour #5EF40B at column 1, row 0 is not in few.gpl\n", previous},
        {{"--palette", "ref.gpl", "short.bmp", "map.txt"}, 1,
         "Can't convert short.bmp: index 12 at column 2, row 0 is past the picture's 12 colours\n", previous},
        {{"--palette", "bad.gpl", "pic.bmp", "map.txt"}, 1, "Can't convert bad.gpl: line 3: not a colour\n", previous},
        {{"--palette", "missing.gpl", "pic.bmp", "map.txt"}, 1, "Can't open missing.gpl\n", previous},
        {{"--palette", "folder.gpl", "pic.bmp", "map.txt"}, 1, "Can't open folder.gpl\n", previous},
        // An empty name names no file: never taken for no palette.
        {{"--palette", "", "pic.bmp", "map.txt"}, 1, "Can't open \n", previous},
        {{"--palette", "pic.bmp", "missing.bmp", "map.txt"}, 1, "Can't open missing.bmp\n", previous},
        // The palette is read before the picture.
        {{"--palette", "bad.gpl", "missing.bmp", "map.txt"}, 1, "Can't convert bad.gpl: line 3: not a colour\n",
         previous},
        {{"--palette", "ref.gpl", "pic.bmp"}, 1, Usage(), previous},
        {{"-1", "--palette", "ref.gpl"}, 1, Usage(), previous},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& a : c.args) label += "[" + a + "] ";
        WriteFile(dir / "map.txt", previous);
        const RunResult result = Convert(c.args);
        EXPECT_EQ(result.exitStatus, c.status) << label;
        EXPECT_EQ(result.out, c.out) << label;
        EXPECT_TRUE(ReadFile(dir / "map.txt") == c.expected) << label;
    }
    // From standard input: a GIMP palette, told by its first line; a picture
    // whose pixels begin within the first bytes read to tell its format (a
    // core header and one colour: pixel data at offset 29).
    RunOptions fromInput;
    fromInput.stdinData = gpl;
    const RunResult gimp = Convert({"--palette", "-", "pic.bmp", "map.txt"}, fromInput);
    EXPECT_EQ(gimp.out, sizeReport_);
    EXPECT_TRUE(ReadFile(dir / "map.txt") == ReadFile(dir / "two.txt"));
    BmpOptions core;
    core.headerSize = 12;
    core.paletteEntries = 1;
    const Bytes onePixelColour = MakeBmp(IndexedPicture{2, 2, {0, 0, 0, 0}}, core);
    fromInput.stdinData.assign(onePixelColour.begin(), onePixelColour.end());
    EXPECT_EQ(Convert({"--palette", "-", "pic.bmp", "map.txt"}, fromInput).out,
              "Can't convert pic.bmp: colour #5FF50A at column 0, row 0 is not in -\n");
}

// An output written directly gets nothing before every pixel is checked;
// one replaced once complete is checked while its temporary file is
// written, so an output that can't be made is named first.
TEST_F(Cli, ReferencePaletteWithDirectAndImpossibleOutputs) {
    SKIP_ON_WINDOWS("standard output through a pipe");
    WriteFile(dir / "few.gpl", std::string("GIMP Palette\n95 245 10\n"));  // index 10's colour only
    const std::string refusal = "Can't convert pic.bmp: colour #5EF40B at column 1, row 0 is not in few.gpl\n";
    const RunResult refused = Run({"--palette", "few.gpl", "pic.bmp", "-"});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.out, refusal);  // and no map text
    EXPECT_EQ(refused.err, "");
    const RunResult toDevice = Convert({"--palette", "few.gpl", "pic.bmp", "/dev/null"});
    EXPECT_EQ(toDevice.exitStatus, 1);
    EXPECT_EQ(toDevice.out, refusal);
    EXPECT_EQ(Convert({"--palette", "few.gpl", "pic.bmp", "nofolder/map.txt"}).out, "Can't open nofolder/map.txt\n");
    // A sound picture to standard output: the map alone, the size report on
    // standard error.
    std::string all = "GIMP Palette\n";
    for (int i = 0; i < 256; ++i)
        all += std::to_string(i ^ 0x55) + " " + std::to_string(255 - i) + " " + std::to_string(i) + "\n";
    WriteFile(dir / "all.gpl", all);
    const RunResult sound = Run({"--palette", "all.gpl", "pic.bmp", "-"});
    EXPECT_EQ(sound.exitStatus, 0);
    EXPECT_TRUE(sound.out == Map(SampleMode::TwoToOne));
    EXPECT_EQ(sound.err, sizeReport_);
}

// PNG pictures as the input and as the reference palette: a PNG's rows are
// checked as they are decoded for a replaced output, and decoded whole first
// for standard output, which nothing may reach before every pixel is sound.
TEST_F(Cli, ReferencePaletteWithPngs) {
    const std::string data = BMP2GRID_TEST_DATA;
    for (const char* name : {"pillow.bmp", "palette.gpl", "pillow-p8.png", "pillow-p2.png", "pillow-rgb.png",
                             "imagemagick-png8.png", "imagemagick-interlaced.png", "netpbm.png"})
        fs::copy_file(data + "/" + name, dir / name);
    ASSERT_EQ(Convert({"pillow.bmp", "plain.txt"}).exitStatus, 0);
    const std::string expected = ReadFile(dir / "plain.txt");
    for (const char* palette : {"palette.gpl", "pillow-p8.png"})
        for (const char* input : {"imagemagick-png8.png", "imagemagick-interlaced.png", "netpbm.png"}) {
            const RunResult toFile = Convert({"--palette", palette, input, "map.txt"});
            EXPECT_EQ(toFile.exitStatus, 0) << palette << " " << input << ": " << toFile.out;
            EXPECT_EQ(ReadFile(dir / "map.txt"), expected) << palette << " " << input;
            if (UnderTest().windows()) continue;
            const RunResult toStdout = Run({"--palette", palette, input, "-"});
            EXPECT_EQ(toStdout.exitStatus, 0) << palette << " " << input;
            EXPECT_TRUE(toStdout.out == expected) << palette << " " << input;
        }
    EXPECT_EQ(Convert({"--palette", "pillow-rgb.png", "pillow.bmp", "map.txt"}).out,
              "Can't convert pillow-rgb.png: PNG colour type 2 bit depth 8 carries no palette indices\n");
    // pillow-p2.png holds the first four colours only.
    const std::string previous = "previous map\r\n";
    WriteFile(dir / "map.txt", previous);
    const std::string refusal =
        "Can't convert netpbm.png: colour #787878 at column 2, row 0 is not in pillow-p2.png\n";
    EXPECT_EQ(Convert({"--palette", "pillow-p2.png", "netpbm.png", "map.txt"}).out, refusal);
    EXPECT_EQ(ReadFile(dir / "map.txt"), previous);
    if (!UnderTest().windows()) {
        EXPECT_EQ(Run({"--palette", "pillow-p2.png", "netpbm.png", "-"}).out, refusal);
    }
    // A damaged palette picture is refused as it is as an input, also a
    // non-interlaced PNG, whose rows only the map would otherwise decode
    // (both files keep pillow-p8.png's sound colour table), from a file
    // and from standard input.
    struct Damaged {
        const char* name;
        const char* reason;
    };
    for (const Damaged& c : {Damaged{"png-truncated.png", "PNG file is truncated"},
                             Damaged{"png-bad-crc.png", "IDAT: CRC error"}}) {
        fs::copy_file(data + "/" + c.name, dir / c.name);
        const std::string message = std::string("Can't convert ") + c.name + ": " + c.reason + "\n";
        const RunResult fromFile = Convert({"--palette", c.name, "netpbm.png", "map.txt"});
        EXPECT_EQ(fromFile.exitStatus, 1) << c.name;
        EXPECT_EQ(fromFile.out, message);
        EXPECT_EQ(ReadFile(dir / "map.txt"), previous) << c.name;
        if (UnderTest().windows()) continue;
        RunOptions piped;
        piped.stdinData = ReadFile(dir / c.name);
        const RunResult fromStandardInput = Convert({"--palette", "-", "netpbm.png", "map.txt"}, piped);
        EXPECT_EQ(fromStandardInput.exitStatus, 1) << c.name;
        EXPECT_EQ(fromStandardInput.out, std::string("Can't convert -: ") + c.reason + "\n");
        EXPECT_EQ(ReadFile(dir / "map.txt"), previous) << c.name;
    }
}

TEST_F(Cli, DirectoriesAreNotFiles) {
    fs::create_directory(dir / "folder");
    RunResult asInput = Convert({"folder", "map.txt"});
    EXPECT_EQ(asInput.exitStatus, 1);
    EXPECT_EQ(asInput.out, "Can't open folder\n");
    RunResult asOutput = Convert({"pic.bmp", "folder"});
    EXPECT_EQ(asOutput.exitStatus, 1);
    EXPECT_EQ(asOutput.out, "Can't open folder\n");
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

TEST_F(Cli, RejectedInputLeavesTheOutputAlone) {
    BmpOptions rgb;
    rgb.bitCount = 24;
    WriteFile(dir / "rgb.bmp", MakeBmp(picture_, rgb));
    Bytes truncated = MakeBmp(picture_);
    truncated.pop_back();
    WriteFile(dir / "short.bmp", truncated);
    WriteFile(dir / "tiny.bmp", std::string("BM"));
    Bytes badRle = MakeBmpWithPixelBlock(4, 3, 1, {4, 1, 0, 0});
    WriteFile(dir / "rle.bmp", badRle);

    struct Case {
        const char* input;
        std::string out;
    };
    const Case cases[] = {
        {"rgb.bmp", "Only 8bpp bitmaps are supported!\n"},
        {"short.bmp", "Can't convert short.bmp: pixel data is truncated\n"},
        {"tiny.bmp", "Can't convert tiny.bmp: file is shorter than a bitmap file header\n"},
        {"rle.bmp", "Can't convert rle.bmp: corrupt RLE data\n"},
    };
    const std::string previous = "previous map\r\n";
    for (const Case& c : cases) {
        WriteFile(dir / "map.txt", previous);
        RunResult result = Convert({c.input, "map.txt"});
        EXPECT_EQ(result.exitStatus, 1) << c.input;
        EXPECT_EQ(result.out, c.out) << c.input;
        EXPECT_EQ(ReadFile(dir / "map.txt"), previous) << c.input;
    }
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"map.txt", "pic.bmp", "rgb.bmp", "rle.bmp", "short.bmp", "tiny.bmp"}));
}

TEST_F(Cli, OutputMayBeTheInputItself) {
    RunResult result = Convert({"-1", "pic.bmp", "pic.bmp"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(ReadFile(dir / "pic.bmp"), Map(SampleMode::OneToOne));
}

TEST_F(Cli, ReplacingKeepsPermissionsAndSymbolicLinks) {
    SKIP_ON_WINDOWS("Unix permission bits and symbolic links");
    WriteFile(dir / "map.txt", std::string("old"));
    fs::permissions(dir / "map.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Convert({"pic.bmp", "map.txt"}).exitStatus, 0);
    EXPECT_EQ(fs::status(dir / "map.txt").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    fs::create_directory(dir / "maps");
    WriteFile(dir / "maps/real.txt", std::string("old"));
    fs::create_symlink("maps/real.txt", dir / "link.txt");
    EXPECT_EQ(Convert({"pic.bmp", "link.txt"}).exitStatus, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(ReadFile(dir / "maps/real.txt"), Map(SampleMode::TwoToOne));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"link.txt", "map.txt", "maps", "pic.bmp"}));

    // A link to a file that does not exist yet creates that file.
    fs::create_symlink("maps/new.txt", dir / "dangling.txt");
    EXPECT_EQ(Convert({"-1", "pic.bmp", "dangling.txt"}).exitStatus, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.txt"));
    EXPECT_EQ(ReadFile(dir / "maps/new.txt"), Map(SampleMode::OneToOne));
}

TEST_F(Cli, DevicesAndStreams) {
    SKIP_ON_WINDOWS("Unix devices");
    RunResult full = Convert({"pic.bmp", "/dev/full"});
    EXPECT_EQ(full.exitStatus, 1);
    EXPECT_EQ(full.out, "Can't write /dev/full\n");

    RunResult null = Convert({"pic.bmp", "/dev/null"});
    EXPECT_EQ(null.exitStatus, 0);
    EXPECT_EQ(null.out, sizeReport_);

    // The map goes to standard output whole; the size report goes to
    // standard error so that it does not break the map.
    RunResult out = Run({"pic.bmp", "/dev/stdout"});
    EXPECT_EQ(out.exitStatus, 0);
    EXPECT_EQ(out.out, Map(SampleMode::TwoToOne));
    EXPECT_EQ(out.err, sizeReport_);

    // The picture may come from standard input.
    RunOptions piped;
    piped.stdinData = ReadFile(dir / "pic.bmp");
    RunResult in = Convert({"-1", "/dev/stdin", "map.txt"}, piped);
    EXPECT_EQ(in.exitStatus, 0);
    EXPECT_EQ(in.out, sizeReport_);
    EXPECT_EQ(ReadFile(dir / "map.txt"), Map(SampleMode::OneToOne));
}

TEST_F(Cli, DashIsStandardInputOrOutput) {
    // "-" as the input reads standard input; as the output it writes the map
    // to standard output, the size report then going to standard error.
    // Messages name "-" as typed. A file named "-" (here a picture the
    // program refuses) is reached as "./-".
    BmpOptions rgb;
    rgb.bitCount = 24;
    WriteFile(dir / "-", MakeBmp(picture_, rgb));
    const std::string dashFile = ReadFile(dir / "-");
    const std::string pic = ReadFile(dir / "pic.bmp");
    const std::string two = Map(SampleMode::TwoToOne);
    const std::string one = Map(SampleMode::OneToOne);
    // Bigger than a pipe holds and than the first block a stream is read
    // into, so that it is read in many pieces into a growing block.
    const IndexedPicture big = CountingPicture(600, 300);
    const Bytes bigBmp = MakeBmp(big);
    const std::string bigPic(bigBmp.begin(), bigBmp.end());
    struct Case {
        std::vector<std::string> args;
        std::string stdinData;
        int status;
        std::string out;  // the map, byte for byte, when it goes to standard output
        std::string err;
        std::string mapFile;  // map.txt afterwards; empty: not made
    };
    const Case cases[] = {
        {{"-", "map.txt"}, pic, 0, sizeReport_, "", two},
        {{"-1", "-", "map.txt"}, pic, 0, sizeReport_, "", one},
        {{"pic.bmp", "-"}, "", 0, two, sizeReport_, ""},
        {{"-1", "-", "-"}, pic, 0, one, sizeReport_, ""},
        {{"-", "map.txt"}, bigPic, 0, "Size: 600x300 (should be 180000 bytes, is 180000 bytes)\n", "",
         ReferenceMap(big, SampleMode::TwoToOne)},
        {{"-", "map.txt"}, "", 1, "Can't convert -: file is shorter than a bitmap file header\n", "", ""},
        {{"-", "-"}, "BM", 1, "Can't convert -: file is shorter than a bitmap file header\n", "", ""},
        {{"./-", "map.txt"}, pic, 1, "Only 8bpp bitmaps are supported!\n", "", ""},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& a : c.args) label += "[" + a + "] ";
        RunOptions options;
        options.workingDirectory = dir.path();
        options.stdinData = c.stdinData;
        const RunResult result = RunProgram(UnderTest().Command(c.args), options);
        EXPECT_EQ(result.exitStatus, c.status) << label;
        const bool mapOnStandardOutput = c.args.back() == "-" && c.status == 0;
        EXPECT_TRUE((mapOnStandardOutput ? result.out : AsText(result.out)) == c.out) << label << AsText(result.out);
        RunResult messages = result;
        messages.err = AsText(result.err);
        ExpectStandardError(messages, c.err, label);
        EXPECT_EQ(fs::exists(dir / "map.txt") ? ReadFile(dir / "map.txt") : "", c.mapFile) << label;
        EXPECT_TRUE(ReadFile(dir / "-") == dashFile) << label;
        fs::remove(dir / "map.txt");
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"-", "pic.bmp"})) << label;
    }
    // The file named "-" as the output.
    const RunResult toFile = Convert({"pic.bmp", "./-"});
    EXPECT_EQ(toFile.exitStatus, 0);
    EXPECT_EQ(toFile.out, sizeReport_);
    EXPECT_EQ(ReadFile(dir / "-"), two);
}

// Writes `bytes` at `offset` of the file at `path`, creating it; the file
// system leaves the part never written as a hole that takes no space.
void WriteAt(const std::string& path, std::uint64_t offset, const Bytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST_F(Cli, GapBeforeThePixelsIsNeitherReadNorHeld) {
    // Sparse files whose 4x1 picture starts near 4 GiB. Only the headers, the
    // colour table and the pixels are read, so the program's memory stays
    // small (reading the gap would take over 4 GiB).
    constexpr std::uint32_t kFar = 0xFFFFF000;
    constexpr std::uint32_t kInfoEnd = bmp::kFileHeaderSize + bmp::kInfoHeaderSize;
    constexpr std::uint32_t kTableSize = bmp::kMaxPaletteEntries * bmp::kPaletteEntrySize;
    struct Case {
        const char* name;
        std::uint32_t compression;
        Bytes pixelBlock;
        std::uint32_t biSize;  // the colour table follows the info header
    };
    const Case cases[] = {
        {"uncompressed", 0, {1, 2, 3, 4}, 40},
        {"RLE8", 1, {0, 4, 1, 2, 3, 4, 0, 1}, 40},
        {"colour table just before the pixels", 0, {1, 2, 3, 4}, kFar - bmp::kFileHeaderSize - kTableSize},
    };
    const std::string map = ReferenceMap(IndexedPicture{4, 1, {1, 2, 3, 4}}, SampleMode::TwoToOne);
    for (const Case& c : cases) {
        Bytes headers = MakeBmpWithPixelBlock(4, 1, c.compression, {});  // 40-byte header, 256 colours
        bmp::Put32(headers.data() + bmp::kPixelOffsetOffset, kFar);
        bmp::Put32(headers.data() + bmp::kFileHeaderSize + bmp::info::kSize, c.biSize);
        const std::string path = dir / "far.bmp";
        ::unlink(path.c_str());
        WriteAt(path, 0, Bytes(headers.begin(), headers.begin() + kInfoEnd));
        WriteAt(path, bmp::kFileHeaderSize + std::uint64_t{c.biSize}, Bytes(headers.begin() + kInfoEnd, headers.end()));
        WriteAt(path, kFar, c.pixelBlock);

        RunResult result = Convert({"far.bmp", "map.txt"});
        EXPECT_EQ(result.exitStatus, 0) << c.name;
        const std::string stored = std::to_string(c.pixelBlock.size());
        EXPECT_EQ(result.out, "Size: 4x1 (should be 4 bytes, is " + stored + " bytes)\n") << c.name;
        EXPECT_EQ(ReadFile(dir / "map.txt"), map) << c.name;
        if (!UnderTest().windows()) {  // under Wine the figure would be Wine's
            EXPECT_LT(result.peakMemoryKiB, 128 * 1024) << c.name;
        }
    }
}

// Writes a sparse file at `path` holding an uncompressed picture `width`
// columns wide and one row high whose pixels are all 0 but the last, 7.
void WriteWideSparsePicture(const std::string& path, std::int32_t width) {
    const Bytes headers = MakeBmpWithPixelBlock(width, 1, 0, {});  // 40-byte header, 256 colours
    WriteAt(path, 0, headers);
    WriteAt(path, headers.size() + static_cast<std::uint64_t>(width) - 1, {7});
}

TEST_F(Cli, VeryWideRowIsReadInPieces) {
    SKIP_ON_WINDOWS("Unix devices");
    // One row 64 MiB wide, read a window of columns at a time: memory stays
    // far below the row's size. Its map (hundreds of MB) goes to /dev/null.
    constexpr std::int32_t kWidth = 1 << 26;
    WriteWideSparsePicture(dir / "wide.bmp", kWidth);
    const long starting = StartingMemoryKiB();
    for (const bool oneToOne : {false, true}) {
        std::vector<std::string> args = {"wide.bmp", "/dev/null"};
        if (oneToOne) args.insert(args.begin(), "-1");
        const RunResult result = Convert(args);
        EXPECT_EQ(result.exitStatus, 0) << oneToOne;
        EXPECT_EQ(result.out, "Size: 67108864x1 (should be 67108864 bytes, is 67108864 bytes)\n") << oneToOne;
        EXPECT_LT(result.peakMemoryKiB - starting, 30 * 1024) << oneToOne;
    }
}

TEST_F(Cli, Rle8IsReadOnlyUpToItsEndOfBitmapMarker) {
    // A 2x2 RLE8 picture followed by a terabyte of file after its
    // end-of-bitmap marker (sparse: reading it would take far too long, and
    // it could not be held): the bytes after the marker are never read, and
    // the size report still counts them.
    const Bytes picture = MakeBmpWithPixelBlock(2, 2, 1, {2, 5, 0, 0, 1, 8, 1, 9, 0, 1});
    constexpr std::uint64_t kAfter = std::uint64_t{1} << 40;
    WriteAt(dir / "tail.bmp", 0, picture);
    WriteAt(dir / "tail.bmp", picture.size() + kAfter - 1, {0});
    const long starting = StartingMemoryKiB();
    const RunResult result = Convert({"tail.bmp", "map.txt"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Size: 2x2 (should be 4 bytes, is " + std::to_string(10 + kAfter) + " bytes)\n");
    EXPECT_EQ(ReadFile(dir / "map.txt"), ReferenceMap(IndexedPicture{2, 2, {8, 9, 5, 5}}, SampleMode::TwoToOne));
    if (!UnderTest().windows()) {  // under Wine the figure would be Wine's
        EXPECT_LT(result.peakMemoryKiB - starting, 30 * 1024);
    }
}

TEST_F(Cli, Rle8IsDecodedWithoutHoldingItsCompressedStream) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's own memory would blur the figure";
#else
    SKIP_ON_WINDOWS("under Wine the figure would be Wine's");
    if (UnderTest().wrapped()) GTEST_SKIP() << "the figure would include the emulator's own memory";
    // A noisy 4096x4096 picture stored as literal runs: its 16 MB stream is
    // read through the window into the 16 MiB picture, never held whole.
    IndexedPicture noise{4096, 4096, Bytes(std::size_t{4096} * 4096)};
    std::uint32_t state = 1;
    for (std::uint8_t& px : noise.pixels) {
        state = state * 1664525u + 1013904223u;
        px = static_cast<std::uint8_t>(state >> 24);
    }
    BmpOptions literals;
    literals.storage = Storage::Rle8;
    WriteFile(dir / "noise.bmp", MakeBmp(noise, literals));
    const RunResult result = Convert({"noise.bmp", "/dev/null"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_LT(result.peakMemoryKiB, (16 + 8) * 1024);
#endif
}

TEST_F(Cli, MemoryRunningOutWhileWritingTheMapIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#else
    SKIP_ON_WINDOWS("a Unix memory limit");
    if (UnderTest().wrapped()) GTEST_SKIP() << "the limit would bind the emulator too";
    // Writing the map of a row 3 MiB wide takes an output block and a window
    // of the row after the size report. Under the largest address-space
    // limit (ulimit -v, in steps of 64 KiB) that is too small for the
    // conversion, memory runs out there, which must be reported as such,
    // with the previous map left as it was.
    WriteWideSparsePicture(dir / "wide.bmp", 3 * (1 << 20) + 1);
    RunOptions options;
    options.workingDirectory = dir.path();
    auto runWithin = [&](long limitKiB, const std::string& output) {
        return RunProgram(MemoryLimitedScript(UnderTest(), "exec \"$@\" wide.bmp " + output, limitKiB), options);
    };
    ASSERT_EQ(runWithin(1L << 20, "/dev/null").exitStatus, 0);
    const long fails =
        LargestFailingLimit([&](long limit) { return runWithin(limit, "/dev/null").exitStatus == 0; }, 1L << 20);
    const std::string sizeReport = "Size: 3145729x1 (should be 3145729 bytes, is 3145729 bytes)\n";
    const std::string noMemory = "Can't convert wide.bmp: not enough memory\n";
    const RunResult toDevice = runWithin(fails, "/dev/null");
    EXPECT_EQ(toDevice.exitStatus, 1) << "limit " << fails << " KiB";
    EXPECT_EQ(toDevice.out, sizeReport + noMemory) << "limit " << fails << " KiB";
    EXPECT_EQ(toDevice.err, "");
    // A file output needs at least as much.
    WriteFile(dir / "map.txt", std::string("previous map\r\n"));
    const RunResult toFile = runWithin(fails, "map.txt");
    EXPECT_EQ(toFile.exitStatus, 1);
    EXPECT_EQ(toFile.out, sizeReport + noMemory);
    EXPECT_EQ(ReadFile(dir / "map.txt"), "previous map\r\n");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "pic.bmp", "wide.bmp"}));
#endif
}

TEST_F(Cli, EndlessInputIsRefusedFromItsHeaders) {
    SKIP_ON_WINDOWS("Unix devices and pipes");
    BmpOptions rgb;
    rgb.bitCount = 24;
    WriteFile(dir / "rgb.bmp", MakeBmp(picture_, rgb));
    // Inputs that never end: they must be refused from their first bytes.
    struct Case {
        std::string command;  // "$@" runs the program
        std::string out;
    };
    const Case cases[] = {
        {"exec \"$@\" /dev/zero map.txt",
         "Can't convert /dev/zero: pixel data offset points into the file header\n"},
        {"cat rgb.bmp /dev/zero 2>/dev/null | \"$@\" /dev/stdin map.txt",
         "Only 8bpp bitmaps are supported!\n"},
    };
    RunOptions options;
    options.workingDirectory = dir.path();
    for (const Case& c : cases) {
        // Under a memory limit, so that reading on to the end fails soon.
        const std::vector<std::string> shell = MemoryLimitedScript(UnderTest(), c.command, 1 << 20);
        RunResult result = RunProgram(shell, options);
        EXPECT_EQ(result.exitStatus, 1) << c.command;
        EXPECT_EQ(result.out, c.out) << c.command;
        EXPECT_EQ(result.err, "") << c.command;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"pic.bmp", "rgb.bmp"})) << c.command;
    }
}

TEST_F(Cli, MapToItsOwnStandardOutputArrivesWhole) {
    // Standard output redirected to a file, and that file (by any path) as
    // the output: the file holds the map alone, the messages go to standard
    // error. An empty file (what `>` leaves) is written through standard
    // output; a file with contents (`>>`, `1<>`) is replaced as any file is,
    // except on Windows, which can't replace a file its own standard output
    // holds: there it is refused and left as it was. /dev/full as standard
    // output fails the write.
    struct Case {
        std::vector<std::string> args;
        std::string stdoutFile;  // where the program's standard output goes
        StdoutMode mode;         // how it is opened: `>`, `>>` or `1<>`
        std::string previous;    // in out.txt before the run
        bool unixOnly;
        bool refusedOnWindows;
        int status;
        std::string map;  // expected in the stdout file
        std::string err;
    };
    const std::string two = Map(SampleMode::TwoToOne);
    const std::string one = Map(SampleMode::OneToOne);
    const std::string before = "previous contents\r\n";
    std::string longer;  // longer than the new map: no tail of it may be left
    while (longer.size() < 4 * two.size()) longer += "previous map, longer than the new one\r\n";
    const StdoutMode truncate = StdoutMode::Truncate, append = StdoutMode::Append, readWrite = StdoutMode::ReadWrite;
    const Case cases[] = {
        {{"pic.bmp", "out.txt"}, "out.txt", truncate, before, false, false, 0, two, sizeReport_},
        {{"-1", "pic.bmp", "out.txt"}, "out.txt", truncate, before, false, false, 0, one, sizeReport_},
        {{"pic.bmp", "/dev/stdout"}, "out.txt", truncate, before, true, false, 0, two, sizeReport_},
        {{"-1", "pic.bmp", "/dev/fd/1"}, "out.txt", truncate, before, true, false, 0, one, sizeReport_},
        {{"pic.bmp", "out.txt"}, "out.txt", append, before, false, true, 0, two, sizeReport_},
        {{"-1", "pic.bmp", "out.txt"}, "out.txt", append, "", false, false, 0, one, sizeReport_},
        {{"-1", "pic.bmp", "/dev/stdout"}, "out.txt", append, longer, true, false, 0, one, sizeReport_},
        {{"pic.bmp", "out.txt"}, "out.txt", readWrite, longer, true, false, 0, two, sizeReport_},
        {{"-1", "pic.bmp", "/dev/fd/1"}, "out.txt", readWrite, longer, true, false, 0, one, sizeReport_},
        {{"pic.bmp", "/dev/stdout"}, "/dev/full", truncate, before, true, false, 1, "", "Can't write /dev/stdout\n"},
    };
    const char* const modeNames[] = {">", ">>", "1<>"};
    for (const Case& c : cases) {
        const std::string label = c.args[c.args.size() - 1] + " with standard output " +
                                  modeNames[static_cast<int>(c.mode)] + " " + c.stdoutFile +
                                  (c.previous.empty() ? " (empty)" : "");
        if (c.unixOnly && UnderTest().windows()) continue;
        const bool refused = c.refusedOnWindows && UnderTest().windows();
        WriteFile(dir / "out.txt", c.previous);
        const RunResult result = RunWithStandardOutputTo(c.args, c.stdoutFile, c.mode);
        EXPECT_EQ(result.exitStatus, refused ? 1 : c.status) << label;
        if (c.stdoutFile == "out.txt") {
            EXPECT_EQ(ReadFile(dir / "out.txt"), refused ? c.previous : c.map) << label;
        }
        ExpectStandardError(result, refused ? "Can't open " + c.args.back() + "\n" : c.err, label);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out.txt", "pic.bmp"})) << label;
    }
}

TEST_F(Cli, StandardOutputClosedOrNotWritable) {
    SKIP_ON_WINDOWS("Unix descriptors");
    // Started with standard output closed (`>&-`), the files the program
    // opens must not take its place: the input is not taken for standard
    // output, and the size report does not go into the map. Standard output
    // open for reading only (`1<map.txt`) is not standard output either: the
    // map is not written through it.
    BmpOptions rle;
    rle.storage = Storage::Rle8;
    WriteFile(dir / "rle.bmp", MakeBmp(picture_, rle));
    WriteFile(dir / "same.bmp", MakeBmp(picture_));
    struct Case {
        std::vector<std::string> args;
        std::string output;
        bool closed;  // standard output closed; else open for reading on the output
        std::string map;
    };
    const Case cases[] = {
        {{"-1", "same.bmp", "same.bmp"}, "same.bmp", true, Map(SampleMode::OneToOne)},
        {{"rle.bmp", "map.txt"}, "map.txt", true, Map(SampleMode::TwoToOne)},
        {{"pic.bmp", "map.txt"}, "map.txt", false, Map(SampleMode::TwoToOne)},
    };
    for (const Case& c : cases) {
        const std::string label = c.output + (c.closed ? " >&-" : " 1<" + c.output);
        RunOptions options;
        options.closeStdout = c.closed;
        if (!c.closed) {
            WriteFile(dir / c.output, std::string());
            options.stdoutFile = c.output;
            options.stdoutMode = StdoutMode::ReadOnly;
        }
        const RunResult result = Run(c.args, options);
        EXPECT_EQ(result.exitStatus, 0) << label;
        EXPECT_EQ(result.err, "") << label;
        EXPECT_EQ(ReadFile(dir / c.output), c.map) << label;
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "pic.bmp", "rle.bmp", "same.bmp"}));
}

TEST_F(Cli, OutputNamesThatCanNeverWorkAreRefusedFirst) {
    // A name longer than the file system takes and links that can't be
    // resolved are refused before the input is opened: with a missing input,
    // or an endless stream whose headers pass (which would otherwise be read
    // until memory runs out), the message is still `Can't open <outfile>`.
    const std::string tooLong = std::string(252, 'm') + ".txt";
    const RunResult missing = Convert({"missing.bmp", tooLong});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.out, "Can't open " + tooLong + "\n");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"pic.bmp"}));

    SKIP_ON_WINDOWS("Unix devices, pipes and symbolic links");
    fs::create_symlink("loop.txt", dir / "loop.txt");
    struct Case {
        std::string command;  // "$@" runs the program
        std::string output;
    };
    const Case cases[] = {
        {"exec \"$@\" missing.bmp loop.txt", "loop.txt"},
        {"exec \"$@\" missing.bmp loop.txt/map.txt", "loop.txt/map.txt"},
        {"cat pic.bmp /dev/zero 2>/dev/null | \"$@\" /dev/stdin " + tooLong, tooLong},
        {"cat pic.bmp /dev/zero 2>/dev/null | \"$@\" -1 /dev/stdin loop.txt", "loop.txt"},
    };
    RunOptions options;
    options.workingDirectory = dir.path();
    for (const Case& c : cases) {
        // Under a memory limit, so that reading on to the end fails soon.
        const std::vector<std::string> shell = MemoryLimitedScript(UnderTest(), c.command, 1 << 20);
        const RunResult result = RunProgram(shell, options);
        EXPECT_EQ(result.exitStatus, 1) << c.command;
        EXPECT_EQ(result.out, "Can't open " + c.output + "\n") << c.command;
        EXPECT_EQ(result.err, "") << c.command;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"loop.txt", "pic.bmp"})) << c.command;
    }
    EXPECT_EQ(fs::read_symlink(dir / "loop.txt"), "loop.txt");
}

TEST_F(Cli, OutputLinksThatCannotBeResolved) {
    SKIP_ON_WINDOWS("symbolic links");
    fs::create_symlink("self", dir / "self");
    fs::create_symlink("pong", dir / "ping");
    fs::create_symlink("ping", dir / "pong");
    fs::create_symlink("self", dir / "toself");
    const std::vector<std::string> before = dir.Entries();
    for (const char* output : {"self", "ping", "toself", "self/map.txt", "./ping"}) {
        const RunResult result = Convert({"pic.bmp", output});
        EXPECT_EQ(result.exitStatus, 1) << output;
        EXPECT_EQ(result.out, "Can't open " + std::string(output) + "\n") << output;
        EXPECT_EQ(dir.Entries(), before) << output;
        EXPECT_EQ(fs::read_symlink(dir / "self"), "self");
        EXPECT_EQ(fs::read_symlink(dir / "ping"), "pong");
        EXPECT_EQ(fs::read_symlink(dir / "pong"), "ping");
        EXPECT_EQ(fs::read_symlink(dir / "toself"), "self");
    }
}

TEST_F(Cli, OutputLinkChainsUpToTheKernelsLimit) {
    SKIP_ON_WINDOWS("symbolic links");
    // The output follows as many links in a row as Linux does, 40: a chain
    // of 40 leads to the map, one of 41 is refused, whether the file at its
    // end exists yet or not. The chain is chain/l1 -> l2 -> ... -> l41 ->
    // ../map.txt, so that chain/lN is 42 - N links long.
    constexpr int kLimit = 40;
    const auto link = [](int n) { return std::string("l").append(std::to_string(n)); };
    fs::create_directory(dir / "chain");
    for (int n = 1; n <= kLimit + 1; ++n)
        fs::create_symlink(n == kLimit + 1 ? "../map.txt" : link(n + 1), dir / ("chain/" + link(n)));
    for (const bool exists : {false, true}) {
        for (const int links : {kLimit, kLimit + 1}) {
            const std::string output = "chain/" + link(kLimit + 2 - links);
            const std::string label = std::to_string(links) + (exists ? " links to a map" : " links to no file");
            if (exists) WriteFile(dir / "map.txt", std::string("previous map\r\n"));
            const RunResult result = Convert({"pic.bmp", output});
            if (links <= kLimit) {
                EXPECT_EQ(result.exitStatus, 0) << label;
                EXPECT_EQ(result.out, sizeReport_) << label;
                EXPECT_EQ(ReadFile(dir / "map.txt"), Map(SampleMode::TwoToOne)) << label;
            } else {
                EXPECT_EQ(result.exitStatus, 1) << label;
                EXPECT_EQ(result.out, "Can't open " + output + "\n") << label;
                if (exists) {
                    EXPECT_EQ(ReadFile(dir / "map.txt"), "previous map\r\n") << label;
                }
            }
            EXPECT_TRUE(fs::is_symlink(dir / output)) << label;
            EXPECT_EQ(fs::read_symlink(dir / "chain/l41"), "../map.txt") << label;
            fs::remove(dir / "map.txt");
            EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"chain", "pic.bmp"})) << label;
        }
    }
}

TEST_F(Cli, NewOutputsTakeTheUmask) {
    SKIP_ON_WINDOWS("Unix permission bits");
    // A new output gets 0666 less the umask, as any program's new file
    // does, through the unnamed temporary file and the named one alike.
    for (const bool named : {false, true}) {
        for (const fs::perms umask : {fs::perms{0022}, fs::perms{0077}, fs::perms{0002}, fs::perms{0}}) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "%03o", static_cast<unsigned>(umask));
            const std::string label = std::string("umask ") + octal + (named ? ", named temporary" : "");
            RunOptions options;
            options.workingDirectory = dir.path();
            if (named) options.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
            std::vector<std::string> command = UnderTest().Command({"pic.bmp", "map.txt"});
            command.insert(command.begin(), {"/bin/sh", "-c", std::string("umask ") + octal + " && exec \"$@\"", "sh"});
            const RunResult result = RunProgram(command, options);
            EXPECT_EQ(result.exitStatus, 0) << label;
            EXPECT_EQ(ReadFile(dir / "map.txt"), Map(SampleMode::TwoToOne)) << label;
            EXPECT_EQ(fs::status(dir / "map.txt").permissions(), fs::perms{0666} & ~umask) << label;
            fs::remove(dir / "map.txt");
        }
    }
}

TEST_F(Cli, OutputNamesUpToTheFileSystemLimit) {
    SKIP_ON_WINDOWS("a Linux file system's name limit");
    // Names up to 255 bytes work, through the unnamed temporary file and the
    // named one alike (whose name is then shortened to fit); a longer name is
    // refused before any conversion work.
    for (const bool named : {false, true}) {
        RunOptions options;
        if (named) options.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
        for (const std::size_t length : {std::size_t{232}, std::size_t{233}, std::size_t{254}, std::size_t{255}}) {
            const std::string name = std::string(length - 4, 'm') + ".txt";
            const std::string label = std::to_string(length) + (named ? " bytes, named temporary" : " bytes");
            WriteFile(dir / name, std::string("previous map\r\n"));
            const RunResult result = Convert({"pic.bmp", name}, options);
            EXPECT_EQ(result.exitStatus, 0) << label;
            EXPECT_EQ(result.out, sizeReport_) << label;
            EXPECT_EQ(ReadFile(dir / name), Map(SampleMode::TwoToOne)) << label;
            EXPECT_EQ(dir.Entries(), (std::vector<std::string>{name, "pic.bmp"})) << label;
            fs::remove(dir / name);
        }
        const std::string tooLong = std::string(252, 'm') + ".txt";
        const RunResult result = Convert({"pic.bmp", tooLong}, options);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "Can't open " + tooLong + "\n");
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"pic.bmp"}));
    }
}

TEST_F(Cli, WriteFailureKeepsThePreviousMap) {
    SKIP_ON_WINDOWS("a Unix file size limit");
    // A bigger picture whose map text is far over the file size limit.
    WriteFile(dir / "big.bmp", MakeBmp(RandomPicture(600, 500, 5)));
    WriteFile(dir / "map.txt", std::string("previous map\r\n"));
    RunOptions limited;
    limited.fileSizeLimit = 700000;  // the picture fits, its map text doesn't
    RunResult result = Convert({"-1", "big.bmp", "map.txt"}, limited);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Size: 600x500 (should be 300000 bytes, is 300000 bytes)\nCan't write map.txt\n");
    EXPECT_EQ(ReadFile(dir / "map.txt"), "previous map\r\n");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"big.bmp", "map.txt", "pic.bmp"}));
}

TEST_F(Cli, SizeReportShowsExactFigures) {
    BmpOptions topDown;
    topDown.storage = Storage::TopDown;
    topDown.trailing = Bytes(5, 0);
    WriteFile(dir / "td.bmp", MakeBmp(CountingPicture(5, 3), topDown));
    RunResult result = Convert({"td.bmp", "map.txt"});
    EXPECT_EQ(result.exitStatus, 0);
    // Rows are padded to 8 bytes: 24 bytes of rows and 5 trailing bytes.
    EXPECT_EQ(result.out, "Size: 5x3 (should be 15 bytes, is 29 bytes)\n");
    EXPECT_EQ(ReadFile(dir / "map.txt"), ReferenceMap(CountingPicture(5, 3), SampleMode::TwoToOne));
}

TEST_F(Cli, WindowsPathsAndDevices) {
    if (!UnderTest().windows()) GTEST_SKIP() << "only for the Windows build";
    // Drive letter and backslashes, as a Windows user types them.
    const std::string input = Program::WindowsPath(dir / "pic.bmp");
    const std::string output = Program::WindowsPath(dir / "map.txt");
    RunResult result = Convert({"-1", input, output});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, sizeReport_);
    EXPECT_EQ(ReadFile(dir / "map.txt"), Map(SampleMode::OneToOne));

    RunResult missing = Convert({"Z:\\no\\such\\pic.bmp", "map.txt"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_EQ(missing.out, "Can't open Z:\\no\\such\\pic.bmp\n");

    // A file named in Windows' device namespace is a file all the same.
    const std::string inDeviceForm = "\\\\.\\" + Program::WindowsPath(dir / "new.txt");
    RunResult deviceForm = Convert({"pic.bmp", inDeviceForm});
    EXPECT_EQ(deviceForm.exitStatus, 0) << deviceForm.out;
    EXPECT_EQ(ReadFile(dir / "new.txt"), Map(SampleMode::TwoToOne));
    std::filesystem::remove(dir / "new.txt");

    RunResult nul = Convert({"pic.bmp", "NUL"});
    EXPECT_EQ(nul.exitStatus, 0);
    EXPECT_EQ(nul.out, sizeReport_);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "pic.bmp"}));
}

TEST_F(Cli, WindowsBuildInterruptedLeavesNothingBehind) {
    if (!UnderTest().windows()) GTEST_SKIP() << "only for the Windows build (the fault tests cover this one)";
    // Ctrl-C (Wine turns SIGINT into it) while the map is being written: the
    // console control handler deletes the temporary file, and the previous
    // map stays whole. Wine may run the program as a process of its own
    // (a 32-bit one), so the signal goes to the whole process group.
    WriteFile(dir / "big.bmp", MakeBmp(RandomPicture(4000, 4000, 1)));  // about 200 MB of map text
    const std::string previous = "previous map\r\n";
    WriteFile(dir / "map.txt", previous);
    RunOptions options;
    options.workingDirectory = dir.path();
    options.ownProcessGroup = true;
    Child child(UnderTest().Command({"-1", "big.bmp", "map.txt"}), options);
    // Until its temporary file has bytes in it, or it has ended.
    bool writing = false;
    WaitUntil([&] {
        for (const std::string& name : dir.Entries()) {
            std::error_code error;
            writing = writing || (name.starts_with(".map.txt.bmp2grid-tmp-") && fs::file_size(dir / name, error) > 0);
        }
        return writing || child.Ended();
    });
    child.Signal(SIGINT);
    const pid_t group = child.pid();
    child.Wait();
    EXPECT_TRUE(WaitUntil([&] { return ::kill(-group, 0) != 0; })) << "the rest of its process group stays";
    EXPECT_TRUE(writing) << "never seen writing its map";
    EXPECT_EQ(ReadFile(dir / "map.txt"), previous);
    // The temporary file goes when its last handle closes, which Wine's
    // server does after the process has gone, a moment later on a busy
    // machine.
    const std::vector<std::string> expected{"big.bmp", "map.txt", "pic.bmp"};
    WaitUntil([&] { return dir.Entries() == expected; });
    EXPECT_EQ(dir.Entries(), expected);
}

// Names as a user types them, in any script. The file named is the one read
// or written, never one whose name looks alike (the decoys stay as they
// were), and a message gives the name in UTF-8 on every platform.
TEST_F(Cli, EveryNameIsTheFileNamed) {
    const std::vector<TypedName>& cases = NamesInSeveralScripts();
    fs::create_directory(dir / "sub");
    const Bytes decoyPicture = MakeBmp(CountingPicture(2, 2, 200));
    const std::string decoyMap = "decoy map\r\n";
    for (const TypedName& c : cases) {
        if (c.decoy.empty()) continue;
        WriteFile(dir / (c.decoy + ".bmp"), decoyPicture);
        WriteFile(dir / (c.decoy + ".txt"), decoyMap);
    }
    for (const TypedName& c : cases) {
        SCOPED_TRACE(c.stem);
        WriteFile(dir / (c.stem + ".bmp"), MakeBmp(picture_));
        RunResult result = Convert({c.stem + ".bmp", c.stem + ".txt"});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, sizeReport_);
        EXPECT_EQ(ReadFile(dir / (c.stem + ".txt")), Map(SampleMode::TwoToOne));
        if (!c.decoy.empty()) {
            EXPECT_EQ(ReadFile(dir / (c.decoy + ".bmp")), std::string(decoyPicture.begin(), decoyPicture.end()));
            EXPECT_EQ(ReadFile(dir / (c.decoy + ".txt")), decoyMap);
        }
        RunResult missing = Convert({c.stem + "-missing.bmp", "m.txt"});
        EXPECT_EQ(missing.exitStatus, 1);
        EXPECT_EQ(missing.out, "Can't open " + c.stem + "-missing.bmp\n");
    }
}

// A path longer than Windows' old limit of 260 characters, as input and as
// output; and a target short enough for that limit whose temporary file
// beside it is not.
TEST_F(Cli, LongPaths) {
    // Written with the platform's own separator.
    const std::string sep = UnderTest().windows() ? "\\" : "/";
    const std::string folder(80, 'd');
    const std::string picture = std::string(61, 'p') + ".bmp", map = std::string(61, 'm') + ".txt";
    fs::create_directories(dir / (folder + "/" + folder + "/" + folder));
    WriteFile(dir / (folder + "/" + folder + "/" + folder + "/" + picture), MakeBmp(picture_));
    const std::string deep = folder + sep + folder + sep + folder + sep;  // 243 characters
    RunResult result = Convert({deep + picture, deep + map});              // 308 characters each
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    EXPECT_EQ(ReadFile(dir / (folder + "/" + folder + "/" + folder + "/" + map)), Map(SampleMode::TwoToOne));

    // A target whose full path (the folder's, then its name) has 250
    // characters.
    const std::string full = UnderTest().windows() ? Program::WindowsPath(dir.path()) + "\\" : dir.path() + "/";
    const std::string near = std::string(250 - 4 - std::min<std::size_t>(full.size(), 100), 'n') + ".txt";
    RunResult nearLimit = Convert({"pic.bmp", near});
    EXPECT_EQ(nearLimit.exitStatus, 0) << near.size() << ": " << nearLimit.out;
    EXPECT_EQ(ReadFile(dir / near), Map(SampleMode::TwoToOne));
}

// On Windows a read-only file is not written, as Windows' own tools don't
// write it; a hidden one stays hidden when replaced.
TEST_F(Cli, WindowsReadOnlyAndHiddenOutputs) {
    if (!UnderTest().windows()) GTEST_SKIP() << "only for the Windows build (Unix permission bits are kept)";
    // The attributes Windows' own `attrib` gives `name`: "R", "H", ...
    const auto attributes = [&](const std::string& name) {
        RunOptions options;
        options.workingDirectory = dir.path();
        const RunResult shown = RunProgram(UnderTest().WindowsShell({"attrib", name}), options);
        // "A    R       Z:\...\name": the letters come before the path.
        const std::string out = AsText(shown.out);
        const std::size_t path = out.find(':');
        std::string letters;
        for (char c : out.substr(0, path == std::string::npos ? 0 : path - 1))
            if (c != ' ') letters += c;
        return letters;
    };
    const auto setAttribute = [&](const std::string& name, const std::string& flag) {
        RunOptions options;
        options.workingDirectory = dir.path();
        RunProgram(UnderTest().WindowsShell({"attrib", flag, name}), options);
    };
    const std::string previous = "previous map\r\n";
    WriteFile(dir / "ro.txt", previous);
    setAttribute("ro.txt", "+r");
    ASSERT_NE(attributes("ro.txt").find('R'), std::string::npos) << "attrib +r did not take";
    RunResult readOnly = Convert({"pic.bmp", "ro.txt"});
    EXPECT_EQ(readOnly.exitStatus, 1);
    EXPECT_EQ(readOnly.out, "Can't open ro.txt\n");
    EXPECT_EQ(ReadFile(dir / "ro.txt"), previous);
    EXPECT_NE(attributes("ro.txt").find('R'), std::string::npos);

    WriteFile(dir / "hidden.txt", previous);
    setAttribute("hidden.txt", "+h");
    if (attributes("hidden.txt").find('H') == std::string::npos)
        GTEST_SKIP() << "this file system keeps no hidden attribute for Wine (no extended attributes)";
    RunResult hidden = Convert({"pic.bmp", "hidden.txt"});
    EXPECT_EQ(hidden.exitStatus, 0);
    EXPECT_EQ(ReadFile(dir / "hidden.txt"), Map(SampleMode::TwoToOne));
    EXPECT_NE(attributes("hidden.txt").find('H'), std::string::npos) << "the replacement is not hidden";
}

// An output file that standard input or standard error holds open, as
// Windows' own shell redirects them: the shell and the stream hold it, so
// it can't be replaced, and it is refused untouched before any work, as a
// file with contents that standard output holds.
TEST_F(Cli, WindowsOutputThatAStandardStreamHolds) {
    if (!UnderTest().windows()) GTEST_SKIP() << "only for the Windows build (POSIX replaces it)";
    struct Case {
        std::vector<std::string> words;  // after the program
        std::string output;
    };
    const Case cases[] = {
        {{"-", "pic.bmp", "<", "pic.bmp"}, "pic.bmp"},
        {{"pic.bmp", "map.txt", "<", "map.txt"}, "map.txt"},
        {{"pic.bmp", "map.txt", "2>>", "map.txt"}, "map.txt"},
    };
    const std::string picture = ReadFile(dir / "pic.bmp");
    const std::string previous = "previous map\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[2] + " " + c.output);
        WriteFile(dir / "map.txt", previous);
        std::vector<std::string> words = c.words;
        words.insert(words.begin(), Program::WindowsPath(UnderTest().exe()));
        RunOptions options;
        options.workingDirectory = dir.path();
        const RunResult result = RunProgram(UnderTest().WindowsShell(words), options);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(AsText(result.out), "Can't open " + c.output + "\n");
        EXPECT_EQ(ReadFile(dir / "pic.bmp"), picture);
        EXPECT_EQ(ReadFile(dir / "map.txt"), previous);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "pic.bmp"}));
    }
}

// Windows' device names, with a colon or without, are the same device: never
// a file made in their place. Whether the console can be written depends on
// whether Wine gives the program one.
TEST_F(Cli, WindowsDeviceNamesWithAColon) {
    if (!UnderTest().windows()) GTEST_SKIP() << "only for the Windows build";
    const RunResult nul = Convert({"pic.bmp", "NUL:"});
    EXPECT_EQ(nul.exitStatus, 0);
    EXPECT_EQ(nul.out, sizeReport_);
    const RunResult console = Convert({"pic.bmp", "CON"});
    for (const std::string name : {"CON:", "con:", "con"}) {
        SCOPED_TRACE(name);
        const RunResult result = Convert({"pic.bmp", name});
        EXPECT_EQ(result.exitStatus, console.exitStatus);
        if (console.exitStatus == 0) {
            EXPECT_EQ(result.out.substr(0, sizeReport_.size()), sizeReport_);
        } else {
            EXPECT_EQ(result.out, "Can't open " + name + "\n");  // not written first, then refused
        }
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"pic.bmp"});
}

TEST_F(Cli, PngInputAndItsRefusals) {
    // A PNG is known by its signature, not its name. A refusal prints one
    // line (after the size report when the fault lies in the image data,
    // found as the rows are decoded) and leaves the output as it was.
    const std::string data = BMP2GRID_TEST_DATA;
    for (const char* name : {"pillow-p1.png", "pillow-p1.bmp", "imagemagick-interlaced.png", "imagemagick-png8.bmp",
                             "pillow-rgb.png", "pillow-grey16.png", "png-truncated.png", "png-bad-crc.png",
                             "png-huge-ihdr.png"})
        WriteFile(dir / name, ReadFile(data + "/" + name));
    WriteFile(dir / "png.bmp", MakePng(picture_));
    ASSERT_EQ(Convert({"pillow-p1.bmp", "p1.txt"}).exitStatus, 0);
    ASSERT_EQ(Convert({"imagemagick-png8.bmp", "im.txt"}).exitStatus, 0);
    const std::string size = "Size: 37x23 (should be 851 bytes, is 851 bytes)\n";
    struct Case {
        std::string input;
        std::string out;
        std::string map;  // map.txt afterwards; empty: the previous map
    };
    const Case cases[] = {
        {"pillow-p1.png", "Size: 37x23 (should be 851 bytes, is 115 bytes)\n", ReadFile(dir / "p1.txt")},
        {"imagemagick-interlaced.png", size, ReadFile(dir / "im.txt")},
        {"png.bmp", sizeReport_, Map(SampleMode::TwoToOne)},
        {"pillow-rgb.png", "Can't convert pillow-rgb.png: PNG colour type 2 bit depth 8 carries no palette indices\n", ""},
        {"pillow-grey16.png", "Can't convert pillow-grey16.png: PNG colour type 0 bit depth 16 carries no palette indices\n", ""},
        {"png-truncated.png", size + "Can't convert png-truncated.png: PNG file is truncated\n", ""},
        {"png-bad-crc.png", size + "Can't convert png-bad-crc.png: IDAT: CRC error\n", ""},
        {"png-huge-ihdr.png", "Can't convert png-huge-ihdr.png: Invalid IHDR data (Image width exceeds user limit in IHDR)\n", ""},
    };
    const std::string previous = "previous map\r\n";
    const std::size_t files = dir.Entries().size() + 1;  // and map.txt
    for (const Case& c : cases)
        for (const bool named : {false, true}) {
            WriteFile(dir / "map.txt", previous);
            RunOptions options;
            if (named) options.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
            const RunResult result = Convert({c.input, "map.txt"}, options);
            EXPECT_EQ(result.exitStatus, c.map.empty() ? 1 : 0) << c.input;
            EXPECT_EQ(result.out, c.out) << c.input;
            EXPECT_TRUE(ReadFile(dir / "map.txt") == (c.map.empty() ? previous : c.map)) << c.input;
            EXPECT_EQ(dir.Entries().size(), files) << c.input << ": no temporary file is left";
        }
    // From standard input, and (its map whole) to standard output.
    RunOptions piped;
    piped.workingDirectory = dir.path();
    piped.stdinData = ReadFile(dir / "pillow-p1.png");
    const RunResult fromStandardInput = RunProgram(UnderTest().Command({"-", "-"}), piped);
    EXPECT_EQ(fromStandardInput.exitStatus, 0);
    EXPECT_TRUE(fromStandardInput.out == ReadFile(dir / "p1.txt"));
    piped.stdinData = ReadFile(dir / "png-truncated.png");
    const RunResult truncated = RunProgram(UnderTest().Command({"-", "map.txt"}), piped);
    EXPECT_EQ(truncated.exitStatus, 1);
    EXPECT_EQ(AsText(truncated.out), size + "Can't convert -: PNG file is truncated\n");
}

TEST_F(Cli, PngRowsAreDecodedOneAtATime) {
    SKIP_ON_WINDOWS("a Unix memory limit");
    if (UnderTest().wrapped()) GTEST_SKIP() << "the limit would bind the emulator too";
    // A 16384 x 8192 picture (128 MiB of pixels) in a non-interlaced PNG
    // converts within 64 MiB of memory: its rows are never held together.
    {
        MemorySink png;
        PngRowWriter writer(png, BuiltInPalette());
        writer.Begin(16384, 8192);
        for (std::int64_t y = 0; y < 8192; ++y) {
            std::uint8_t* row = writer.Row(y);
            for (std::int64_t x = 0; x < 16384; ++x) row[x] = static_cast<std::uint8_t>((x / 64 + y / 64) % 6);
            writer.RowDone(y);
        }
        ASSERT_TRUE(writer.ok());
        WriteFile(dir / "big.png", std::string(png.text()));
    }
    RunOptions options;
    options.workingDirectory = dir.path();
    const RunResult result =
        RunProgram(MemoryLimitedScript(UnderTest(), "exec \"$@\" big.png /dev/null", 65536), options);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Size: 16384x8192 (should be 134217728 bytes, is 134217728 bytes)\n");
}

TEST(CrossPlatform, WindowsBuildWritesTheSameMapTextAsTheLinuxBuild) {
    if (!UnderTest().windows()) GTEST_SKIP() << "only for the Windows build";
    TempDir dir;
    std::vector<std::string> fixtures;
    auto keep = [&](const std::string& name, const std::string& bytes) {
        WriteFile(dir / name, bytes);
        fixtures.push_back(name);
    };
    // Every BMP and PNG fixture, those refused included.
    for (const auto& entry : fs::directory_iterator(BMP2GRID_TEST_DATA)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".bmp" || extension == ".png")
            keep(entry.path().filename().string(), ReadFile(entry.path().string()));
    }
    keep("sample.bmp", ReadFile(std::string(BMP2GRID_EXAMPLES) + "/sample.bmp"));
    for (const auto& [name, bytes] : fuzzing::SeedCorpus()) keep(name + ".bmp", std::string(bytes.begin(), bytes.end()));
    for (const auto& [name, bytes] : fuzzing::PngSeedCorpus()) keep(name + ".png", std::string(bytes.begin(), bytes.end()));

    RunOptions options;
    options.workingDirectory = dir.path();
    for (const std::string& fixture : fixtures)
        for (const bool oneToOne : {false, true}) {
            std::vector<std::string> args = {fixture};
            if (oneToOne) args.insert(args.begin(), "-1");
            std::vector<std::string> linux = args, windows = args;
            linux.push_back("linux.txt");
            windows.push_back("windows.txt");
            const RunResult l = RunProgram(Program::Built(BMP2GRID_EXE).Command(linux), options);
            const RunResult w = RunProgram(UnderTest().Command(windows), options);
            const std::string label = fixture + (oneToOne ? " -1" : "");
            EXPECT_EQ(w.exitStatus, l.exitStatus) << label;
            EXPECT_EQ(AsText(w.out), l.out) << label;
            EXPECT_TRUE(ReadFile(dir / "windows.txt") == ReadFile(dir / "linux.txt")) << label;
            fs::remove(dir / "linux.txt");
            fs::remove(dir / "windows.txt");
        }
    EXPECT_GE(fixtures.size(), 50u);
}

}  // namespace
}  // namespace bmp2grid::test
