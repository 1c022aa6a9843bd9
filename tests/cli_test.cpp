// End-to-end: runs the built bmp2grid in a temporary folder and checks what
// it prints, its exit status, and the files it leaves, byte for byte.
//
// The same table runs against the Windows build under Wine when the
// environment names it: BMP2GRID_TEST_EXE is the absolute path of
// bmp2grid.exe and BMP2GRID_TEST_WRAPPER the wine64 loader. Cases that need
// Unix devices, permissions or symbolic links are skipped there.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "process_runner.h"
#include "seed_corpus.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

namespace fs = std::filesystem;

// The program under test: the native build, or the Windows build run
// through Wine.
struct Program {
    std::string exe = BMP2GRID_EXE;
    std::string wrapper;

    Program() {
        if (const char* e = std::getenv("BMP2GRID_TEST_EXE")) exe = e;
        if (const char* w = std::getenv("BMP2GRID_TEST_WRAPPER")) wrapper = w;
    }
    bool windows() const { return !wrapper.empty(); }

    std::vector<std::string> Command(std::vector<std::string> args) const {
        args.insert(args.begin(), exe);
        if (windows()) args.insert(args.begin(), wrapper);
        return args;
    }

    // A Unix path as a Windows program under Wine sees it.
    static std::string WindowsPath(std::string path) {
        for (char& c : path)
            if (c == '/') c = '\\';
        return "Z:" + path;
    }

    // The program name as the program itself reports it in the usage line.
    std::string Name() const { return windows() ? WindowsPath(exe) : exe; }
};

const Program& UnderTest() {
    static const Program program;
    return program;
}

#define SKIP_ON_WINDOWS(why) \
    if (UnderTest().windows()) GTEST_SKIP() << "not on Windows: " << why

std::string Usage() { return "Usage: " + UnderTest().Name() + " [-1] <infile> <outfile>\n"; }

// The Windows console writes line ends as CR LF; compare messages as text.
std::string AsText(std::string out) {
    if (!UnderTest().windows()) return out;
    std::string text;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) text += out[i];
    return text;
}

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
    // folder, as a shell redirection sends it. The Windows build gets it
    // from Windows' own shell: Wine can't tell which file a standard output
    // redirected on the Unix side is.
    RunResult RunWithStandardOutputTo(std::vector<std::string> args, const std::string& file) {
        RunOptions options;
        if (!UnderTest().windows()) {
            options.stdoutFile = file;
            return Run(std::move(args), options);
        }
        std::vector<std::string> command = {UnderTest().wrapper, "cmd", "/c", Program::WindowsPath(UnderTest().exe)};
        command.insert(command.end(), args.begin(), args.end());
        command.insert(command.end(), {">", file});
        options.workingDirectory = dir.path();
        RunResult result = RunProgram(command, options);
        result.out = AsText(result.out);
        result.err = AsText(result.err);
        return result;
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
    Picture picture_;
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
        {{"-h"}, 0, Usage(), untouched},
        {{"--help"}, 0, Usage(), untouched},
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

TEST_F(Cli, MapToItsOwnStandardOutputArrivesWhole) {
    // Standard output redirected to a file, and that file (by any path) as
    // the output: the file holds the map alone, the messages go to standard
    // error. /dev/full as standard output fails the write.
    struct Case {
        std::vector<std::string> args;
        std::string stdoutFile;  // where the program's standard output goes
        bool unixOnly;
        int status;
        std::string map;  // expected in the stdout file
        std::string err;
    };
    const std::string two = Map(SampleMode::TwoToOne);
    const std::string one = Map(SampleMode::OneToOne);
    const Case cases[] = {
        {{"pic.bmp", "out.txt"}, "out.txt", false, 0, two, sizeReport_},
        {{"-1", "pic.bmp", "out.txt"}, "out.txt", false, 0, one, sizeReport_},
        {{"pic.bmp", "/dev/stdout"}, "out.txt", true, 0, two, sizeReport_},
        {{"-1", "pic.bmp", "/dev/fd/1"}, "out.txt", true, 0, one, sizeReport_},
        {{"pic.bmp", "/dev/stdout"}, "/dev/full", true, 1, "", "Can't write /dev/stdout\n"},
    };
    for (const Case& c : cases) {
        const std::string label = c.args[c.args.size() - 1] + " with standard output to " + c.stdoutFile;
        if (c.unixOnly && UnderTest().windows()) continue;
        WriteFile(dir / "out.txt", std::string("previous contents\r\n"));
        const RunResult result = RunWithStandardOutputTo(c.args, c.stdoutFile);
        EXPECT_EQ(result.exitStatus, c.status) << label;
        if (c.stdoutFile == "out.txt") {
            EXPECT_EQ(ReadFile(dir / "out.txt"), c.map) << label;
        }
        ExpectStandardError(result, c.err, label);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out.txt", "pic.bmp"})) << label;
    }
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

    RunResult nul = Convert({"pic.bmp", "NUL"});
    EXPECT_EQ(nul.exitStatus, 0);
    EXPECT_EQ(nul.out, sizeReport_);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "pic.bmp"}));
}

TEST(CrossPlatform, WindowsBuildWritesTheSameMapTextAsTheLinuxBuild) {
    if (!UnderTest().windows()) GTEST_SKIP() << "only for the Windows build";
    TempDir dir;
    std::vector<std::string> fixtures;
    auto keep = [&](const std::string& name, const std::string& bytes) {
        WriteFile(dir / name, bytes);
        fixtures.push_back(name);
    };
    for (const char* name : {"pillow.bmp", "imagemagick-bmp3.bmp", "imagemagick.bmp", "netpbm-os2.bmp"})
        keep(name, ReadFile(std::string(BMP2GRID_TEST_DATA) + "/" + name));
    keep("sample.bmp", ReadFile(std::string(BMP2GRID_EXAMPLES) + "/sample.bmp"));
    for (const auto& [name, bytes] : fuzzing::SeedCorpus()) keep(name + ".bmp", std::string(bytes.begin(), bytes.end()));

    RunOptions options;
    options.workingDirectory = dir.path();
    for (const std::string& fixture : fixtures)
        for (const bool oneToOne : {false, true}) {
            std::vector<std::string> args = {fixture};
            if (oneToOne) args.insert(args.begin(), "-1");
            std::vector<std::string> linux = args, windows = args;
            linux.insert(linux.begin(), BMP2GRID_EXE);
            linux.push_back("linux.txt");
            windows.push_back("windows.txt");
            const RunResult l = RunProgram(linux, options);
            const RunResult w = RunProgram(UnderTest().Command(windows), options);
            const std::string label = fixture + (oneToOne ? " -1" : "");
            EXPECT_EQ(w.exitStatus, l.exitStatus) << label;
            EXPECT_EQ(AsText(w.out), l.out) << label;
            EXPECT_TRUE(ReadFile(dir / "windows.txt") == ReadFile(dir / "linux.txt")) << label;
            fs::remove(dir / "linux.txt");
            fs::remove(dir / "windows.txt");
        }
    EXPECT_GE(fixtures.size(), 30u);
}

}  // namespace
}  // namespace bmp2grid::test
