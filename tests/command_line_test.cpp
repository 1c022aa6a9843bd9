// Parsing the command line: the switch, the paths, help and usage errors.
#include <gtest/gtest.h>

#include <vector>

#include "command_line.h"

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
    };
    for (const Case& c : cases) {
        const ParsedCommandLine parsed = Parse(c.argv);
        ASSERT_EQ(parsed.action, ParsedCommandLine::Action::Convert) << c.argv[1];
        EXPECT_EQ(parsed.args.mode, c.mode) << c.argv[1];
        EXPECT_EQ(parsed.args.inputPath, c.input);
        EXPECT_EQ(parsed.args.outputPath, c.output);
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
        {{"bmp2grid", "-h"}, 0},
        {{"bmp2grid", "--help"}, 0},
        {{"bmp2grid", "--HELP"}, 1},
    };
    for (const Case& c : cases) {
        const ParsedCommandLine parsed = Parse(c.argv);
        EXPECT_EQ(parsed.action, ParsedCommandLine::Action::ShowUsage) << c.argv.size();
        EXPECT_EQ(parsed.exitStatus, c.exitStatus) << c.argv.size();
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
    BitmapImage image;
    image.width = 70000;
    image.rows = 40000;
    image.pixelBlockLength = 2800000000LL + 160000;
    EXPECT_EQ(SizeReport(image), "Size: 70000x40000 (should be 2800000000 bytes, is 2800160000 bytes)\n");
}

}  // namespace
}  // namespace bmp2grid
