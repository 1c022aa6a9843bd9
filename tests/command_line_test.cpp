// Parsing the command line: the switch, the paths, help and usage errors;
// the messages for refused pictures and map text.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command_line.h"
#include "diagnostics.h"
#include "map_reader.h"
#include "grid_command_line.h"

namespace bmp2grid {
namespace {

ParsedCommandLine Parse(std::vector<const char*> argv) {
    return ParseArguments(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, ChoosesModeAndPaths) {
    struct Case {
        std::vector<const char*> argv;
        SampleMode mode;
        const char* input;
        const char* output;
        const char* palette = nullptr;  // none given
        const char* layer = nullptr;    // none given
    };
    const Case cases[] = {
        {{"bmp2grid", "in.bmp", "out.txt"}, SampleMode::TwoToOne, "in.bmp", "out.txt"},
        {{"bmp2grid", "-1", "in.bmp", "out.txt"}, SampleMode::OneToOne, "in.bmp", "out.txt"},
        // Only an exact "-1" is the switch, and only in first position.
        {{"bmp2grid", "-1x", "in.bmp", "out.txt"}, SampleMode::TwoToOne, "-1x", "in.bmp"},
        {{"bmp2grid", "in.bmp", "-1", "out.txt"}, SampleMode::TwoToOne, "in.bmp", "-1"},
        {{"bmp2grid", "-2", "in.bmp"}, SampleMode::TwoToOne, "-2", "in.bmp"},
        // Extra arguments are ignored.
        {{"bmp2grid", "a", "b", "c", "d"}, SampleMode::TwoToOne, "a", "b"},
        {{"bmp2grid", "-1", "a", "b", "c"}, SampleMode::OneToOne, "a", "b"},
        {{"bmp2grid", "", ""}, SampleMode::TwoToOne, "", ""},
        {{"bmp2grid", "-h", "out.txt"}, SampleMode::TwoToOne, "-h", "out.txt"},
        {{"bmp2grid", "--version", "out.txt"}, SampleMode::TwoToOne, "--version", "out.txt"},
        // "-" (standard input or output) is a path like any other here.
        {{"bmp2grid", "-", "-"}, SampleMode::TwoToOne, "-", "-"},
        {{"bmp2grid", "-1", "-", "-"}, SampleMode::OneToOne, "-", "-"},
        // --palette, before the paths, in either order with -1; each option
        // once, so a second one is the input path.
        {{"bmp2grid", "--palette", "t.gpl", "in.bmp", "out.txt"}, SampleMode::TwoToOne, "in.bmp", "out.txt", "t.gpl"},
        {{"bmp2grid", "--palette", "t.gpl", "-1", "in.bmp", "out.txt"}, SampleMode::OneToOne, "in.bmp", "out.txt", "t.gpl"},
        {{"bmp2grid", "-1", "--palette", "t.gpl", "in.bmp", "out.txt"}, SampleMode::OneToOne, "in.bmp", "out.txt", "t.gpl"},
        {{"bmp2grid", "-1", "-1", "in.bmp", "out.txt"}, SampleMode::OneToOne, "-1", "in.bmp"},
        {{"bmp2grid", "--palette", "a", "--palette", "b", "c"}, SampleMode::TwoToOne, "--palette", "b", "a"},
        {{"bmp2grid", "in.bmp", "--palette", "t.gpl"}, SampleMode::TwoToOne, "in.bmp", "--palette"},
        // An empty name is a palette's name still, not no palette.
        {{"bmp2grid", "--palette", "", "in.bmp", "out.txt"}, SampleMode::TwoToOne, "in.bmp", "out.txt", ""},
        // --layer NAME, among the other options, once; only with its name
        // and both paths after it, so a command line of a file named
        // "--layer" keeps its meaning.
        {{"bmp2grid", "--layer", "ground", "in.tmx", "out.txt"}, SampleMode::TwoToOne, "in.tmx", "out.txt", nullptr,
         "ground"},
        {{"bmp2grid", "-1", "--layer", "g", "--palette", "t.gpl", "in.tmx", "out.txt"}, SampleMode::OneToOne, "in.tmx",
         "out.txt", "t.gpl", "g"},
        {{"bmp2grid", "--layer", "", "in.tmx", "out.txt"}, SampleMode::TwoToOne, "in.tmx", "out.txt", nullptr, ""},
        {{"bmp2grid", "--layer", "a", "--layer", "b", "c"}, SampleMode::TwoToOne, "--layer", "b", nullptr, "a"},
        {{"bmp2grid", "--layer", "a", "b"}, SampleMode::TwoToOne, "--layer", "a"},
        {{"bmp2grid", "--layer", "out.txt"}, SampleMode::TwoToOne, "--layer", "out.txt"},
        {{"bmp2grid", "-1", "--layer", "a", "b"}, SampleMode::OneToOne, "--layer", "a"},
    };
    for (const Case& c : cases) {
        const ParsedCommandLine parsed = Parse(c.argv);
        ASSERT_EQ(parsed.action, ParsedCommandLine::Action::Convert) << c.argv[1];
        EXPECT_EQ(parsed.args.mode, c.mode) << c.argv[1];
        EXPECT_EQ(parsed.args.inputPath, c.input);
        EXPECT_EQ(parsed.args.outputPath, c.output);
        EXPECT_EQ(parsed.args.palettePath, c.palette ? std::optional<std::string>(c.palette) : std::nullopt)
            << c.argv[1];
        EXPECT_EQ(parsed.args.layer, c.layer ? std::optional<std::string>(c.layer) : std::nullopt) << c.argv[1];
    }
}

TEST(CommandLine, UsageAndHelp) {
    struct Case {
        std::vector<const char*> argv;
        int exitStatus;
    };
    const Case cases[] = {
        {{"bmp2grid"}, 1},
        {{"bmp2grid", "in.bmp"}, 1},
        {{"bmp2grid", "-1", "in.bmp"}, 1},
        {{"bmp2grid", "-1"}, 1},
        {{"bmp2grid", "--HELP"}, 1},
        {{"bmp2grid", "--palette", "t.gpl", "in.bmp"}, 1},
        {{"bmp2grid", "-1", "--palette", "t.gpl", "in.bmp"}, 1},
        {{"bmp2grid", "--palette", "in.bmp", "out.txt"}, 1},
    };
    for (const Case& c : cases) {
        const ParsedCommandLine parsed = Parse(c.argv);
        EXPECT_EQ(parsed.action, ParsedCommandLine::Action::ShowUsage) << c.argv.size();
        EXPECT_EQ(parsed.exitStatus, c.exitStatus) << c.argv.size();
    }
    for (const char* help : {"-h", "--help"}) {
        const ParsedCommandLine parsed = Parse({"bmp2grid", help});
        EXPECT_EQ(parsed.action, ParsedCommandLine::Action::ShowHelp);
        EXPECT_EQ(parsed.exitStatus, 0);
    }
    EXPECT_EQ(UsageLine("./tools/bmp2grid"), "Usage: ./tools/bmp2grid [-1] <infile> <outfile>\n");
}

TEST(CommandLine, VersionOnlyAsTheOnlyArgument) {
    EXPECT_EQ(Parse({"bmp2grid", "--version"}).action, ParsedCommandLine::Action::ShowVersion);
    EXPECT_EQ(Parse({"bmp2grid", "--version"}).exitStatus, 0);
    EXPECT_EQ(Parse({"bmp2grid", "-1", "--version"}).action, ParsedCommandLine::Action::ShowUsage);
    EXPECT_EQ(Parse({"bmp2grid", "--VERSION"}).action, ParsedCommandLine::Action::ShowUsage);
    EXPECT_EQ(Parse({"bmp2grid", "-V"}).action, ParsedCommandLine::Action::ShowUsage);
}

TEST(CommandLine, SizeReportFiguresAreExactPast32Bits) {
    Picture image;
    image.width = 70000;
    image.rows = 40000;
    image.storedBytes = 2800000000LL + 160000;
    EXPECT_EQ(SizeReport(image), "Size: 70000x40000 (should be 2800000000 bytes, is 2800160000 bytes)\n");
}

TEST(CommandLine, EveryLoadErrorHasItsMessage) {
    struct Case {
        LoadError error;
        std::uint32_t compression;
        const char* message;
    };
    const Case cases[] = {
        {LoadError::CantOpen, 0, "Can't open in.bmp\n"},
        {LoadError::ReadFailed, 0, "Can't open in.bmp\n"},
        {LoadError::NotEightBit, 0, "Only 8bpp bitmaps are supported!\n"},
        {LoadError::FileShorterThanHeader, 0, "Can't convert in.bmp: file is shorter than a bitmap file header\n"},
        {LoadError::OffsetIntoFileHeader, 0, "Can't convert in.bmp: pixel data offset points into the file header\n"},
        {LoadError::EndsBeforePixelData, 0, "Can't convert in.bmp: file ends before the pixel data\n"},
        {LoadError::InfoHeaderTooShort, 0, "Can't convert in.bmp: bitmap info header is too short\n"},
        {LoadError::UnsupportedCompression, 3, "Can't convert in.bmp: unsupported compression 3\n"},
        {LoadError::UnsupportedCompression, 4294967295u, "Can't convert in.bmp: unsupported compression 4294967295\n"},
        {LoadError::NegativeWidth, 0, "Can't convert in.bmp: negative width\n"},
        {LoadError::HeightOutOfRange, 0, "Can't convert in.bmp: height is out of range\n"},
        {LoadError::Rle8TopDown, 0, "Can't convert in.bmp: RLE8 picture is stored top-down\n"},
        {LoadError::PixelDataTruncated, 0, "Can't convert in.bmp: pixel data is truncated\n"},
        {LoadError::CorruptRle, 0, "Can't convert in.bmp: corrupt RLE data\n"},
        {LoadError::TooLarge, 0, "Can't convert in.bmp: picture is too large\n"},
        {LoadError::NoMemory, 0, "Can't convert in.bmp: not enough memory\n"},
    };
    for (const Case& c : cases) {
        LoadResult result;
        result.error = c.error;
        result.compression = c.compression;
        EXPECT_EQ(LoadFailureMessage(result, "in.bmp"), c.message);
    }
}

TEST(CommandLine, EveryMapTextErrorHasItsMessage) {
    struct Case {
        MapTextError error;
        const char* message;
    };
    const Case cases[] = {
        {MapTextError::MissingHeader, "Can't convert m.txt: line 7: missing header\n"},
        {MapTextError::TooLarge, "Can't convert m.txt: line 7: picture would be too large\n"},
        {MapTextError::NoCells, "Can't convert m.txt: line 7: no cells to draw\n"},
        {MapTextError::WrongCellCount, "Can't convert m.txt: line 7: wrong cell count\n"},
        {MapTextError::NotANumber, "Can't convert m.txt: line 7: not a number\n"},
        {MapTextError::ValueOutOfRange, "Can't convert m.txt: line 7: value out of 0..255\n"},
        {MapTextError::NeedsFiveValues, "Can't convert m.txt: line 7: a cell needs five values\n"},
        {MapTextError::FewerRows, "Can't convert m.txt: line 7: fewer rows than announced\n"},
        {MapTextError::MoreRows, "Can't convert m.txt: line 7: more rows than announced\n"},
        {MapTextError::NoMemory, "Can't convert m.txt: line 7: not enough memory\n"},
    };
    for (const Case& c : cases) {
        MapReadResult result;
        result.error = c.error;
        result.line = 7;
        EXPECT_EQ(MapTextFailureMessage(result, "m.txt"), c.message);
    }
}

// The note after a map whose cells carried values the picture can't keep:
// none for no cell, "cell" for one, "cells" for more.
TEST(CommandLine, NoteOfValuesThePictureCannotKeep) {
    const std::string rest = " carried values other than 0 after the first; the picture keeps only the first\n";
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, ""}, {1, "Note: 1 cell" + rest}, {2, "Note: 2 cells" + rest}, {3, "Note: 3 cells" + rest},
        {3000000000, "Note: 3000000000 cells" + rest},
    };
    for (const auto& [cells, note] : cases) {
        MapTextSummary summary;
        summary.cellsWithExtraValues = cells;
        EXPECT_EQ(ExtraValuesNote(summary), note) << cells;
    }
}

}  // namespace
}  // namespace bmp2grid
