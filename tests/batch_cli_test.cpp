// End-to-end: the batch form of both programs, run on real files. Each
// batch's outputs are checked against single runs on the same inputs, and
// its refusals against the lines those single runs print.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "process_runner.h"
#include "program_under_test.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

namespace fs = std::filesystem;

// A picture of `width` x `rows` whose indices (0..15) depend on `seed`.
IndexedPicture SmallPicture(std::int64_t width, std::int64_t rows, int seed) {
    IndexedPicture picture{width, rows, Bytes(static_cast<std::size_t>(width * rows))};
    for (std::size_t i = 0; i < picture.pixels.size(); ++i)
        picture.pixels[i] = static_cast<std::uint8_t>((i * 7 + static_cast<std::size_t>(seed) * 3 + i / 5) % 16);
    return picture;
}

// "f<seed>": an input's name without its extension.
std::string Stem(int seed) {
    std::string stem = "f";
    stem += std::to_string(seed);
    return stem;
}

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// What each program takes and writes, for the tables over both.
struct Tool {
    const char* name;
    const Program& (*program)();
    const char* in;   // the inputs' extension
    const char* out;  // the outputs' extension by default
    std::string (*input)(int seed);  // an input converted
    std::string (*refused)();        // an input refused
};

std::string PictureInput(int seed) { return AsString(MakeBmp(SmallPicture(6 + seed, 4 + seed % 3, seed))); }
std::string MapInput(int seed) { return ReferenceMap(SmallPicture(6 + seed, 4 + seed % 3, seed), SampleMode::TwoToOne); }

// A BMP cut short in its colour table, and map text with a cell that is no number.
std::string RefusedPicture() { return PictureInput(0).substr(0, 80); }
std::string RefusedMap() { return "3,2\r\n1,0,0,0,0\tx\r\n"; }

const Tool kTools[] = {
    {"bmp2grid", Bmp2GridUnderTest, "bmp", "txt", PictureInput, RefusedPicture},
    {"grid2bmp", Grid2BmpUnderTest, "txt", "bmp", MapInput, RefusedMap},
};

class Batch : public ::testing::Test {
protected:
    // Runs `tool` with `args` inside the test folder.
    RunResult Run(const Tool& tool, std::vector<std::string> args) {
        RunOptions options;
        options.workingDirectory = dir.path();
        RunResult result = RunProgram(tool.program().Command(std::move(args)), options);
        result.out = tool.program().AsText(result.out);
        if (!tool.program().windows()) {
            EXPECT_EQ(result.err, "") << tool.name << ": nothing goes to standard error";
        }
        return result;
    }

    // Converts `input` with a single run of `tool` into `output` (made
    // folders and all); returns what it printed.
    std::string Single(const Tool& tool, const std::string& input, const std::string& output,
                       std::vector<std::string> options = {}) {
        fs::create_directories(fs::path(dir / output).parent_path());
        options.insert(options.end(), {input, output});
        return Run(tool, options).out;
    }

    // The files below `folder` in the test folder, relative to it, sorted.
    std::vector<std::string> FilesIn(const std::string& folder) const {
        std::vector<std::string> files;
        if (!fs::exists(dir / folder)) return files;
        for (const auto& entry : fs::recursive_directory_iterator(dir / folder)) {
            if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), dir / folder).generic_string());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // Whether every file below `a` is below `b` too, byte for byte, and no other.
    void ExpectSameFiles(const std::string& a, const std::string& b, const std::string& label) const {
        const std::vector<std::string> files = FilesIn(a);
        EXPECT_EQ(files, FilesIn(b)) << label;
        for (const std::string& file : files) {
            EXPECT_TRUE(ReadFile(dir / (a + "/" + file)) == ReadFile(dir / (b + "/" + file))) << label << ": " << file;
        }
    }

    std::string In(const Tool& tool, const std::string& stem) const { return stem + "." + tool.in; }
    std::string Out(const Tool& tool, const std::string& stem) const { return stem + "." + tool.out; }

    TempDir dir;
};

TEST_F(Batch, ConvertsEveryFileAsASingleRunDoesAndGoesOnPastRefusals) {
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.name);
        const std::string in = std::string(tool.name) + "-in";
        fs::create_directories(dir / in);
        for (int seed = 0; seed < 5; ++seed) WriteFile(dir / (in + "/" + In(tool, Stem(seed))), tool.input(seed));
        WriteFile(dir / (in + "/" + In(tool, "c-bad")), tool.refused());
        // Another file is left alone in a folder: not one the program takes.
        WriteFile(dir / (in + "/notes.md"), std::string("# notes\n"));
        const std::string single = std::string(tool.name) + "-single";
        for (int seed = 0; seed < 5; ++seed) {
            const std::string stem = Stem(seed);
            Single(tool, in + "/" + In(tool, stem), single + "/" + Out(tool, stem));
        }
        const std::string refusal = Single(tool, in + "/" + In(tool, "c-bad"), "unused/" + Out(tool, "c-bad"));
        ASSERT_EQ(refusal.rfind("Can't convert " + in + "/" + In(tool, "c-bad") + ": ", 0), 0u) << refusal;
        ASSERT_EQ(FilesIn(single).size(), 5u);

        // A refusal is the single run's line, the others are converted, and
        // the exit status says that one was refused.
        const RunResult refused = Run(tool, {"--out-dir", "batch", in});
        EXPECT_EQ(refused.exitStatus, 1);
        EXPECT_EQ(refused.out, refusal + "Converted 5 of 6 files, refused 1\n");
        ExpectSameFiles("batch", single, "with a refusal");

        // All converted: exit status 0, whatever the number of workers.
        fs::remove(dir / (in + "/" + In(tool, "c-bad")));
        for (const char* jobs : {"1", "2"}) {
            const std::string out = std::string("j") + jobs;
            const RunResult result = Run(tool, {"-j", jobs, "--out-dir", out, in});
            EXPECT_EQ(result.exitStatus, 0) << "-j " << jobs;
            EXPECT_EQ(result.out, "Converted 5 of 5 files, refused 0\n") << "-j " << jobs;
            ExpectSameFiles(out, single, std::string("-j ") + jobs);
        }
        // Files named one by one, a missing one among them.
        const RunResult named =
            Run(tool, {"--out-dir", "named", in + "/" + In(tool, "f1"), "missing." + std::string(tool.in)});
        EXPECT_EQ(named.exitStatus, 1);
        EXPECT_EQ(named.out, "Can't open missing." + std::string(tool.in) + "\nConverted 1 of 2 files, refused 1\n");
        EXPECT_EQ(FilesIn("named"), std::vector<std::string>{Out(tool, "f1")});
        for (const char* out : {"batch", "named", "j1", "j2"}) fs::remove_all(dir / out);
    }
}

TEST_F(Batch, NotesNameTheirFileAndSizeReportsAreLeftOut) {
    // Map text with a value after a cell's first: grid2bmp's note, after
    // the file's name; its size report is a single run's only.
    const Tool& grid2bmp = kTools[1];
    std::string map = MapInput(1);
    map.replace(map.find(",0,0,0,0"), 8, ",5,0,0,0");
    WriteFile(dir / "noted.txt", map);
    const std::string single = Single(grid2bmp, "noted.txt", "single/noted.bmp");
    ASSERT_EQ(single.rfind("Size: ", 0), 0u) << single;
    const std::string note = single.substr(single.find('\n') + 1);
    ASSERT_EQ(note.rfind("Note: ", 0), 0u) << single;
    const RunResult batch = Run(grid2bmp, {"--out-dir", "batch", "noted.txt"});
    EXPECT_EQ(batch.exitStatus, 0);
    EXPECT_EQ(batch.out, "noted.txt: " + note + "Converted 1 of 1 file, refused 0\n");
    ExpectSameFiles("batch", "single", "noted");
}

TEST_F(Batch, RecursionKeepsFolders) {
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.name);
        fs::create_directories(dir / "tree/sub/deeper");
        fs::create_directories(dir / "tree/blocked");
        WriteFile(dir / ("tree/" + In(tool, "a")), tool.input(1));
        WriteFile(dir / ("tree/sub/" + In(tool, "a")), tool.input(2));
        WriteFile(dir / ("tree/sub/deeper/" + In(tool, "b")), tool.input(3));
        WriteFile(dir / ("tree/blocked/" + In(tool, "c")), tool.input(4));
        // A file where an output's folder would be made: that file is
        // refused as a single run refuses an output it can't open.
        fs::create_directories(dir / "out");
        WriteFile(dir / "out/blocked", std::string("a file"));

        const RunResult flat = Run(tool, {"--out-dir", "flat", "tree"});
        EXPECT_EQ(flat.exitStatus, 0);
        EXPECT_EQ(FilesIn("flat"), std::vector<std::string>{Out(tool, "a")});

        const RunResult deep = Run(tool, {"-r", "--out-dir", "out", "tree"});
        EXPECT_EQ(deep.exitStatus, 1);
        EXPECT_EQ(deep.out, "Can't open out/blocked/" + Out(tool, "c") + "\nConverted 3 of 4 files, refused 1\n");
        EXPECT_EQ(FilesIn("out"), (std::vector<std::string>{Out(tool, "a"), "blocked", "sub/" + Out(tool, "a"),
                                                           "sub/deeper/" + Out(tool, "b")}));
        Single(tool, "tree/sub/deeper/" + In(tool, "b"), "single/" + Out(tool, "b"));
        EXPECT_TRUE(ReadFile(dir / ("out/sub/deeper/" + Out(tool, "b"))) == ReadFile(dir / ("single/" + Out(tool, "b"))));
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
    }
}

TEST_F(Batch, TwoInputsForOneOutputAreRefusedBeforeAnyWork) {
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.name);
        fs::create_directories(dir / "x");
        fs::create_directories(dir / "y");
        WriteFile(dir / ("x/" + In(tool, "a")), tool.input(1));
        WriteFile(dir / ("x/" + In(tool, "b")), tool.input(2));
        WriteFile(dir / ("y/" + In(tool, "a")), tool.input(3));
        const std::string output = "out/sub/" + Out(tool, "a");
        const RunResult result = Run(tool, {"--out-dir", "out/sub", "x", "y/" + In(tool, "a")});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "Can't convert x/" + In(tool, "a") + " and y/" + In(tool, "a") +
                                  ": both would be written to " + output + "\n");
        EXPECT_FALSE(fs::exists(dir / "out")) << "nothing is written, not even DIR";
        // DIR that is a file.
        const RunResult file = Run(tool, {"--out-dir", "x/" + In(tool, "b"), "x"});
        EXPECT_EQ(file.exitStatus, 1);
        EXPECT_EQ(file.out, "Can't write into x/" + In(tool, "b") + ": it is not a folder\n");
        // A folder holding nothing the program takes.
        fs::create_directories(dir / "empty");
        const RunResult empty = Run(tool, {"--out-dir", "out", "empty"});
        EXPECT_EQ(empty.exitStatus, 1);
        EXPECT_EQ(empty.out, "Nothing to convert in empty\n");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST_F(Batch, Grid2BmpWritesEachFormat) {
    const Tool& grid2bmp = kTools[1];
    fs::create_directories(dir / "maps");
    WriteFile(dir / "maps/a.txt", MapInput(1));
    WriteFile(dir / "maps/b.txt", MapInput(2));
    for (const char* format : {"bmp", "png", "tmx", "tmj"}) {
        SCOPED_TRACE(format);
        const std::string out = std::string("out-") + format, single = std::string("single-") + format;
        for (const char* stem : {"a", "b"}) {
            Single(grid2bmp, std::string("maps/") + stem + ".txt", single + "/" + stem + "." + format,
                   {"--format", format});
        }
        const RunResult batch = Run(grid2bmp, {"--format", format, "--out-dir", out, "maps"});
        EXPECT_EQ(batch.exitStatus, 0);
        EXPECT_EQ(batch.out, "Converted 2 of 2 files, refused 0\n");
        // A Tiled map's tile sheet is beside each map.
        const std::string f = format;
        const std::vector<std::string> expected =
            f == "tmx" || f == "tmj"
                ? std::vector<std::string>{"a.tiles.png", "a." + f, "b.tiles.png", "b." + f}
                : std::vector<std::string>{"a." + f, "b." + f};
        EXPECT_EQ(FilesIn(out), expected);
        ExpectSameFiles(out, single, format);
    }
}

TEST_F(Batch, UsageAndBadJobCounts) {
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.name);
        WriteFile(dir / In(tool, "a"), tool.input(1));
        const RunResult help = Run(tool, {"-h"});
        const std::string usage = help.out.substr(0, help.out.find('\n') + 1);
        EXPECT_EQ(help.exitStatus, 0);
        const std::string program = tool.program().Name();
        // The forms -h adds after the single form's usage line.
        EXPECT_NE(help.out.find("\n       " + program + " [options] [--watch] --out-dir DIR "), std::string::npos);
        EXPECT_NE(help.out.find("\n       " + program + " [options] --watch "), std::string::npos);
        for (const char* option : {"--out-dir DIR", "-r ", "-j N", "--watch"})
            EXPECT_NE(help.out.find("\n  " + std::string(option)), std::string::npos) << option;
        const std::string a = In(tool, "a");
        const std::vector<std::vector<std::string>> usageCases = {
            {"-j", "0", "--out-dir", "out", a},
            {"-j", "257", "--out-dir", "out", a},
            {"-j", "99999999999999999999", "--out-dir", "out", a},
            {"-j", "two", "--out-dir", "out", a},
            {"-j", "-1", "--out-dir", "out", a},
            {"-j", "", "--out-dir", "out", a},
            {"--out-dir", "out", "-j", "1x", a},
            {"-j", "2", a, "single." + std::string(tool.out)},  // -j and -r are for the batch form
            {"-r", a, "single." + std::string(tool.out)},
        };
        for (const std::vector<std::string>& args : usageCases) {
            const RunResult result = Run(tool, args);
            EXPECT_EQ(result.exitStatus, 1) << args[1];
            EXPECT_EQ(result.out, usage) << args[1];
        }
        EXPECT_FALSE(fs::exists(dir / "out"));
        EXPECT_FALSE(fs::exists(dir / ("single." + std::string(tool.out))));
        const RunResult most = Run(tool, {"-j", "256", "--out-dir", "out", a});
        EXPECT_EQ(most.exitStatus, 0);
        EXPECT_EQ(most.out, "Converted 1 of 1 file, refused 0\n");
        fs::remove_all(dir / "out");
    }
}

// A pseudo-terminal whose far end a child takes as its terminal, in raw
// mode so that what the child writes is read back as it is.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("no pty");
        name_ = ::ptsname(master_);
        slave_ = ::open(name_.c_str(), O_RDWR | O_NOCTTY);  // held, so reads never see its end
        termios raw{};
        ::tcgetattr(slave_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave_, TCSANOW, &raw);
    }
    ~PseudoTerminal() {
        ::close(slave_);
        ::close(master_);
    }
    const std::string& name() const { return name_; }
    // Everything written so far, read without waiting.
    const std::string& Read() {
        char buffer[4096];
        pollfd ready{master_, POLLIN, 0};
        while (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            text_.append(buffer, static_cast<std::size_t>(n));
        }
        return text_;
    }

private:
    int master_ = -1, slave_ = -1;
    std::string name_, text_;
};

TEST_F(Batch, ProgressOnATerminalOnly) {
    for (const Tool& tool : kTools) {
        SCOPED_TRACE(tool.name);
        if (tool.program().wrapped()) GTEST_SKIP() << "a terminal of this system's own";
        // Three batches, each held up by a FIFO among its inputs until the
        // one whose standard error is a terminal has shown its progress (so
        // all three have run long enough to show it): messages on the
        // terminal, in a file, and into a pipe.
        const std::vector<std::string> where = {"file", "pipe", "terminal"};  // the terminal's last
        PseudoTerminal terminal;
        std::vector<std::unique_ptr<Child>> children;
        for (const std::string& name : where) {
            fs::create_directories(dir / name);
            for (int seed = 0; seed < 3; ++seed)
                WriteFile(dir / (name + "/" + In(tool, Stem(seed))), tool.input(seed));
            const std::string fifo = dir / (name + "-slow." + tool.in);
            ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
            // Standard output and error: both on the terminal; in files; or
            // standard error into a pipe (its status kept in a file).
            const std::string script =
                name == "terminal" ? "\"$@\" >" + terminal.name() + " 2>&1"
                : name == "file"   ? "\"$@\" >file.out 2>file.err"
                                   : "{ \"$@\" 2>&1 >pipe.out; echo $? >pipe.status; } | cat >pipe.err";
            std::vector<std::string> command =
                tool.program().Command({"-j", "2", "--out-dir", name + "-out", name, name + "-slow." + tool.in});
            command.insert(command.begin(), {"/bin/sh", "-c", script, "sh"});
            RunOptions options;
            options.workingDirectory = dir.path();
            options.ownProcessGroup = true;
            children.push_back(std::make_unique<Child>(command, options));
        }
        const std::regex progress("\r[0-9]+/4 files, [0-9.]+ files/s, ([0-9]+:[0-9][0-9]|\\?:\\?\\?) left *");
        EXPECT_TRUE(WaitUntil([&] { return std::regex_search(terminal.Read(), progress); })) << terminal.Read();
        // Each FIFO gets an input that is refused, whose line is printed
        // while the progress is shown.
        const std::string refusedInput = tool.refused();
        for (const std::string& name : where) {
            const int fd = ::open((dir / (name + "-slow." + tool.in)).c_str(), O_WRONLY);
            ASSERT_GE(fd, 0);
            EXPECT_EQ(::write(fd, refusedInput.data(), refusedInput.size()), static_cast<ssize_t>(refusedInput.size()));
            ::close(fd);
        }
        std::vector<int> status;
        for (const auto& child : children) status.push_back(child->Wait().exitStatus);
        EXPECT_EQ(status[0], 1) << "file";
        EXPECT_EQ(ReadFile(dir / "pipe.status"), "1\n");
        EXPECT_EQ(status[2], 1) << "terminal";
        const std::string summary = "Converted 3 of 4 files, refused 1\n";
        for (const std::string name : {"file", "pipe"}) {
            EXPECT_EQ(ReadFile(dir / (name + ".err")), "") << name << ": no progress";
            const std::string out = ReadFile(dir / (name + ".out"));
            EXPECT_EQ(out.rfind("Can't convert " + name + "-slow." + tool.in + ": ", 0), 0u) << out;
            EXPECT_TRUE(out.ends_with(summary)) << out;
        }
        // On the terminal, the progress line is cleared before any other
        // line and drawn again after it; nothing of it is left at the end.
        const std::string shown = terminal.Read();
        const std::string lines =
            std::regex_replace(shown, std::regex("\r[0-9]+/4 files[^\r\n]*left *|\r *\r"), "");
        EXPECT_EQ(lines.rfind("Can't convert terminal-slow." + std::string(tool.in) + ": ", 0), 0u) << shown;
        EXPECT_TRUE(lines.ends_with(summary)) << shown;
        EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << shown;
        EXPECT_TRUE(std::regex_search(shown, std::regex("left *\r *\rCan't convert terminal-slow"))) << shown;
        EXPECT_TRUE(std::regex_search(shown, std::regex("Can't convert terminal-slow[^\n]*\n\r[0-9]+/4 files"))) << shown;
        EXPECT_TRUE(std::regex_search(shown, std::regex("left *\r *\rConverted 3 of 4"))) << shown;
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
    }
}

TEST_F(Batch, PeakMemoryIsAtMostOneConversionsPerWorker) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's own memory would blur the figure";
#else
    const Tool& bmp2grid = kTools[0];
    if (bmp2grid.program().wrapped() || bmp2grid.program().windows())
        GTEST_SKIP() << "the figure would include the emulator's own memory";
    // RLE8 pictures of 4096 x 4096 are decoded whole: 16 MiB each. Six of
    // them, two at a time, take at most twice one conversion's memory and
    // 16 MB more.
    IndexedPicture big{4096, 4096, Bytes(std::size_t{4096} * 4096)};
    for (std::size_t i = 0; i < big.pixels.size(); ++i) big.pixels[i] = static_cast<std::uint8_t>(i / 4096 % 7);
    BmpOptions rle;
    rle.storage = Storage::Rle8;
    fs::create_directories(dir / "big");
    const Bytes file = MakeBmp(big, rle);
    for (int i = 0; i < 6; ++i) WriteFile(dir / ("big/p" + std::to_string(i) + ".bmp"), file);
    RunOptions options;
    options.workingDirectory = dir.path();
    const RunResult one = RunProgram(bmp2grid.program().Command({"big/p0.bmp", "one.txt"}), options);
    ASSERT_EQ(one.exitStatus, 0);
    ASSERT_GT(one.peakMemoryKiB, 16 * 1024) << "one conversion holds its picture";
    const RunResult batch = RunProgram(bmp2grid.program().Command({"-j", "2", "--out-dir", "out", "big"}), options);
    EXPECT_EQ(batch.exitStatus, 0);
    EXPECT_EQ(batch.out, "Converted 6 of 6 files, refused 0\n");
    EXPECT_LE(batch.peakMemoryKiB, 2 * one.peakMemoryKiB + 16 * 1024)
        << "one conversion: " << one.peakMemoryKiB << " KiB";
    RecordProperty("OneConversionKiB", std::to_string(one.peakMemoryKiB));
    RecordProperty("BatchKiB", std::to_string(batch.peakMemoryKiB));
#endif
}

}  // namespace
}  // namespace bmp2grid::test
