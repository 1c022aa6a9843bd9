// Faults from outside, end to end on the built programs: killed or
// interrupted by a signal mid-write, a file-size limit, a full disk, a reader
// that quits, racing conversions, and a folder it may not write to. The map
// that was there before must always survive whole, and nothing may be left
// behind.
//
// The tests that replace a file run twice: with the unnamed temporary file
// (O_TMPFILE) the Linux build uses, and with the named one it falls back to
// (and the Windows build uses), chosen by BMP2GRID_NAMED_TEMPORARY.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "process_runner.h"
#include "program_under_test.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

namespace fs = std::filesystem;

// The commands that run this build's programs (or a copy of bmp2grid at
// `exe`) with `args`. The faults are Unix ones, so no other build is run.
std::vector<std::string> Bmp2Grid(std::vector<std::string> args, const std::string& exe = BMP2GRID_EXE) {
    return Program::Built(exe).Command(std::move(args));
}
std::vector<std::string> Grid2Bmp(std::vector<std::string> args) {
    return Program::Built(GRID2BMP_EXE).Command(std::move(args));
}
const std::string kPrevious = "2,1\r\n7,0,0,0,0\t9,0,0,0,0\t\r\n";

enum class Temporary { Unnamed, Named };

class Faults : public ::testing::TestWithParam<Temporary> {
protected:
    bool Named() const { return GetParam() == Temporary::Named; }

    // Options that run in the test folder with the temporary file under test.
    RunOptions Options() const {
        RunOptions options;
        options.workingDirectory = dir.path();
        if (Named()) options.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
        return options;
    }
    TempDir dir;
};

INSTANTIATE_TEST_SUITE_P(TemporaryFile, Faults, ::testing::Values(Temporary::Unnamed, Temporary::Named),
                         [](const ::testing::TestParamInfo<Temporary>& info) {
                             return info.param == Temporary::Named ? "Named" : "Unnamed";
                         });

// Faults of outputs written directly: devices and FIFOs.
class StreamFaults : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_P(Faults, KilledWhileWritingLeavesThePreviousMapWhole) {
    // About 200 MB of map text: long enough to be killed at many points.
    WriteFile(dir / "big.bmp", MakeBmp(RandomPicture(4000, 4000, 1)));
    const RunOptions options = Options();
    ASSERT_EQ(RunProgram(Bmp2Grid({"-1", "big.bmp", "complete.txt"}), options).exitStatus, 0);
    const std::string complete = ReadFile(dir / "complete.txt");
    fs::remove(dir / "complete.txt");

    int keptPrevious = 0;
    int leftNamedTemporary = 0;
    for (int delayMs : {0, 1, 3, 10, 25, 50, 80, 120}) {
        WriteFile(dir / "map.txt", kPrevious);
        const pid_t pid = Start(Bmp2Grid({"-1", "big.bmp", "map.txt"}), options);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(pid, SIGKILL);
        Wait(pid);
        // Killed before the replacement: the previous map; after it (or
        // finished already): the new one. Never anything in between.
        const std::string map = ReadFile(dir / "map.txt");
        keptPrevious += map == kPrevious;
        EXPECT_TRUE(map == kPrevious || map == complete)
            << "a kill after " << delayMs << " ms left " << map.size() << " bytes of map text";
        // Nothing can remove a named temporary file when SIGKILL strikes; the
        // unnamed one goes with the process.
        std::vector<std::string> entries = dir.Entries();
        if (Named() && entries.size() == 3 && entries[0].starts_with(".map.txt.bmp2grid-tmp-") &&
            entries[0].size() == std::string(".map.txt.bmp2grid-tmp-").size() + 8) {
            fs::remove(dir / entries[0]);
            entries.erase(entries.begin());
            ++leftNamedTemporary;
        }
        EXPECT_EQ(entries, (std::vector<std::string>{"big.bmp", "map.txt"}))
            << "left behind after a kill at " << delayMs << " ms";
    }
    EXPECT_GE(keptPrevious, 3) << "the conversion finished too fast to be interrupted";
    // Shows that the named temporary file was the one written.
    if (Named()) {
        EXPECT_GE(leftNamedTemporary, 1);
    }
}

// Whether process `pid` is writing a temporary file in `folder`: it has a
// file there open, other than `input`, with bytes in it. This finds the
// unnamed temporary file as well as the named one.
bool WritingInto(pid_t pid, const std::string& folder, const std::string& input) {
    std::error_code error;
    const std::string inside = fs::canonical(folder, error).string() + "/";
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string path = fs::read_symlink(entry.path(), error).string();
        struct stat st;
        if (error || !path.starts_with(inside) || path == inside + input || ::stat(entry.path().c_str(), &st) != 0)
            continue;
        if (S_ISREG(st.st_mode) && st.st_size > 0) return true;
    }
    return false;
}

TEST_P(Faults, InterruptedBySignalLeavesNothingBehind) {
    // SIGINT (Ctrl-C), SIGTERM (kill) and SIGHUP (a closed terminal) while
    // the map is being written: the process ends by that signal, the
    // previous map is whole and no temporary file is left, named or not.
    WriteFile(dir / "big.bmp", MakeBmp(RandomPicture(4000, 4000, 1)));  // about 200 MB of map text
    const RunOptions options = Options();
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string label = strsignal(sig);
        WriteFile(dir / "map.txt", kPrevious);
        const pid_t pid = Start(Bmp2Grid({"-1", "big.bmp", "map.txt"}), options);
        bool caught = false;
        bool sawNamed = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!caught && std::chrono::steady_clock::now() < deadline) {
            caught = WritingInto(pid, dir.path(), "big.bmp");
            if (!caught) std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        for (const std::string& name : dir.Entries()) sawNamed = sawNamed || name.starts_with(".map.txt.bmp2grid-tmp-");
        ::kill(pid, sig);
        const RunResult result = Wait(pid);
        EXPECT_TRUE(caught) << label << ": never seen writing its map";
        EXPECT_EQ(result.signal, sig) << label;
        EXPECT_EQ(ReadFile(dir / "map.txt"), kPrevious) << label;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"big.bmp", "map.txt"})) << label;
        EXPECT_EQ(sawNamed, Named()) << label << ": the temporary file under test was not the one written";
        for (const std::string& name : dir.Entries())  // so that each signal is judged alone
            if (name != "big.bmp") fs::remove(dir / name);
    }
}

TEST_P(Faults, FileSizeLimitHitMidOutput) {
    // A file-size limit (as `ulimit -f` sets) makes a write fail: the program
    // says so instead of dying by SIGXFSZ, and the previous output survives.
    const IndexedPicture picture = RandomPicture(1000, 800, 2);
    WriteFile(dir / "pic.bmp", MakeBmp(picture));
    WriteFile(dir / "map.txt", ReferenceMap(picture, SampleMode::TwoToOne));
    struct Case {
        std::vector<std::string> command;
        long limit;
        std::string out;
    };
    const std::string report = "Size: 1000x800 (should be 800000 bytes, is 800000 bytes)\n";
    const Case cases[] = {
        {Bmp2Grid({"-1", "pic.bmp", "out"}), 1000000L, report + "Can't write out\n"},  // inside the first block
        {Bmp2Grid({"-1", "pic.bmp", "out"}), 5000000L, report + "Can't write out\n"},  // blocks later
        {Grid2Bmp({"map.txt", "out"}), 500000L, "Can't write out\n"},             // a picture of 800 000 bytes
    };
    for (const Case& c : cases) {
        WriteFile(dir / "out", kPrevious);
        RunOptions options = Options();
        options.fileSizeLimit = c.limit;
        const RunResult result = RunProgram(c.command, options);
        EXPECT_EQ(result.signal, 0) << c.command[0] << " " << c.limit;
        EXPECT_EQ(result.exitStatus, 1) << c.command[0] << " " << c.limit;
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(ReadFile(dir / "out"), kPrevious);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "out", "pic.bmp"}));
    }
}

TEST_F(StreamFaults, FullDevice) {
    WriteFile(dir / "pic.bmp", MakeBmp(RandomPicture(700, 700, 3)));
    RunOptions options;
    options.workingDirectory = dir.path();
    const RunResult result = RunProgram(Bmp2Grid({"pic.bmp", "/dev/full"}), options);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Can't write /dev/full\n");
}

TEST_F(StreamFaults, FifoWhoseReaderQuits) {
    // A reader that takes a few bytes and goes away makes the next write
    // fail: the program says so instead of dying by SIGPIPE.
    const IndexedPicture picture = RandomPicture(1000, 800, 6);  // megabytes of output either way
    WriteFile(dir / "pic.bmp", MakeBmp(picture));
    WriteFile(dir / "map.txt", ReferenceMap(picture, SampleMode::TwoToOne));
    struct Case {
        std::vector<std::string> command;
        std::string out;
    };
    const Case cases[] = {
        {Bmp2Grid({"pic.bmp", "fifo"}), "Size: 1000x800 (should be 800000 bytes, is 800000 bytes)\nCan't write fifo\n"},
        {Grid2Bmp({"map.txt", "fifo"}), "Can't write fifo\n"},
    };
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    for (const Case& c : cases) {
        // Opened without waiting for a writer; the reader reads once the
        // program has written, then closes.
        const int reader = ::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        std::thread quitter([reader] {
            pollfd ready = {reader, POLLIN, 0};
            ::poll(&ready, 1, 20000);
            char buffer[4096];
            if (::read(reader, buffer, sizeof buffer) < 0) {
                // Closing is what matters.
            }
            ::close(reader);
        });
        RunOptions options;
        options.workingDirectory = dir.path();
        const RunResult result = RunProgram(c.command, options);
        quitter.join();
        EXPECT_EQ(result.signal, 0) << c.command[0];
        EXPECT_EQ(result.exitStatus, 1) << c.command[0];
        EXPECT_EQ(result.out, c.out);
    }
}

TEST_P(Faults, RacingConversionsLeaveOneWholeMap) {
    const IndexedPicture first = RandomPicture(1500, 1200, 4);
    const IndexedPicture second = RandomPicture(1200, 1500, 5);
    WriteFile(dir / "a.bmp", MakeBmp(first));
    WriteFile(dir / "b.bmp", MakeBmp(second));
    const RunOptions options = Options();
    ASSERT_EQ(RunProgram(Bmp2Grid({"-1", "a.bmp", "a.txt"}), options).exitStatus, 0);
    ASSERT_EQ(RunProgram(Bmp2Grid({"-1", "b.bmp", "b.txt"}), options).exitStatus, 0);
    const std::string mapA = ReadFile(dir / "a.txt");
    const std::string mapB = ReadFile(dir / "b.txt");
    EXPECT_TRUE(mapA == ReferenceMap(first, SampleMode::OneToOne));
    for (int round = 0; round < 5; ++round) {
        const pid_t a = Start(Bmp2Grid({"-1", "a.bmp", "map.txt"}), options);
        const pid_t b = Start(Bmp2Grid({"-1", "b.bmp", "map.txt"}), options);
        EXPECT_EQ(Wait(a).exitStatus, 0);
        EXPECT_EQ(Wait(b).exitStatus, 0);
        const std::string map = ReadFile(dir / "map.txt");
        EXPECT_TRUE(map == mapA || map == mapB) << "round " << round << ": a mix of two maps";
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"a.bmp", "a.txt", "b.bmp", "b.txt", "map.txt"}));
    }
}

TEST_P(Faults, FolderThatCannotBeWrittenAndInputThatCannotBeRead) {
    // Root may write anywhere, so as root the program runs as "nobody",
    // from a copy that user can reach.
    const bool root = ::geteuid() == 0;
    const std::string exe = dir / "bmp2grid";
    fs::copy_file(BMP2GRID_EXE, exe);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    WriteFile(dir / "pic.bmp", MakeBmp(CountingPicture(4, 3)));
    fs::permissions(dir / "pic.bmp", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    fs::create_directory(dir / "locked");
    WriteFile(dir / "locked/map.txt", kPrevious);
    fs::permissions(dir / "locked/map.txt", fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    RunOptions options = Options();
    if (root) options.userId = 65534;
    const RunResult result = RunProgram(Bmp2Grid({"pic.bmp", "locked/map.txt"}, exe), options);
    if (root && result.exitStatus == 126) GTEST_SKIP() << "running as root and can't switch to user 65534";
    if (root && result.exitStatus == 127) GTEST_SKIP() << "user 65534 can't reach the test folder " << dir.path();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Can't open locked/map.txt\n");
    EXPECT_EQ(ReadFile(dir / "locked/map.txt"), kPrevious);

    // An input the user may not read is named the same way.
    WriteFile(dir / "secret.bmp", MakeBmp(CountingPicture(4, 3)));
    fs::permissions(dir / "secret.bmp", fs::perms::owner_read | fs::perms::owner_write);
    const RunResult unreadable = RunProgram(Bmp2Grid({"secret.bmp", "map.txt"}, exe), options);
    EXPECT_EQ(unreadable.exitStatus, 1);
    EXPECT_EQ(unreadable.out, "Can't open secret.bmp\n");
}

}  // namespace
}  // namespace bmp2grid::test
