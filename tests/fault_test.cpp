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
#include <optional>
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

// The temporary file process `pid` is writing in `folder`: a regular file it
// holds open there other than `input`. Finds the unnamed temporary file
// ("FOLDER/#INODE (deleted)") as well as the named one.
std::optional<OpenFile> TemporaryOf(pid_t pid, const std::string& folder, const std::string& input) {
    std::error_code error;
    const std::string inside = fs::canonical(folder, error).string() + "/";
    for (const OpenFile& file : OpenFilesOf(pid))
        if (file.path.starts_with(inside) && file.path != inside + input) return file;
    return std::nullopt;
}

// Whether `name` is a named temporary file for map.txt.
bool IsNamedTemporary(const std::string& name) {
    const std::string tag = ".map.txt.bmp2grid-tmp-";
    return name.starts_with(tag) && name.size() == tag.size() + 8 && name.find('/') == std::string::npos;
}

// Waits until `child` writes its temporary file in `folder` and it holds at
// least `bytes`, or the child has ended; returns the file when it does.
std::optional<OpenFile> WaitForTemporary(const Child& child, const std::string& folder, const std::string& input,
                                         std::int64_t bytes) {
    std::optional<OpenFile> temporary;
    WaitUntil([&] {
        temporary = TemporaryOf(child.pid(), folder, input);
        if (temporary && temporary->size >= bytes) return true;
        temporary.reset();
        return child.Ended();
    });
    return temporary;
}

TEST_P(Faults, KilledWhileWritingLeavesThePreviousMapWhole) {
    // About 200 MB of map text: long enough to be killed at many points.
    WriteFile(dir / "big.bmp", MakeBmp(RandomPicture(4000, 4000, 1)));
    const RunOptions options = Options();
    ASSERT_EQ(RunProgram(Bmp2Grid({"-1", "big.bmp", "complete.txt"}), options).exitStatus, 0);
    const std::string complete = ReadFile(dir / "complete.txt");
    fs::remove(dir / "complete.txt");
    const auto size = static_cast<std::int64_t>(complete.size());

    // SIGKILL as the program starts (before or after its temporary file is
    // made), and once its temporary file holds a given share of the map.
    struct KillPoint {
        const char* when;
        std::int64_t bytes;  // -1: at once
    };
    const KillPoint points[] = {
        {"as it starts", -1},        {"its temporary file made", 0}, {"its first bytes written", 1},
        {"a quarter written", size / 4}, {"half written", size / 2},  {"three quarters written", size * 3 / 4},
    };
    for (const KillPoint& point : points) {
        // On a busy machine the program may finish before the test is given
        // the processor to see it reach the point, or to kill it there; it
        // is then run again, a few times at most.
        std::optional<OpenFile> temporary;
        RunResult result;
        for (int attempt = 0; attempt < 5; ++attempt) {
            WriteFile(dir / "map.txt", kPrevious);
            for (const std::string& name : dir.Entries()) {
                if (IsNamedTemporary(name)) fs::remove(dir / name);
            }
            Child child(Bmp2Grid({"-1", "big.bmp", "map.txt"}), options);
            temporary.reset();
            if (point.bytes >= 0) temporary = WaitForTemporary(child, dir.path(), "big.bmp", point.bytes);
            child.Signal(SIGKILL);
            result = child.Wait();
            if ((point.bytes < 0 || temporary) && result.signal == SIGKILL) break;
        }
        if (point.bytes >= 0) {
            EXPECT_TRUE(temporary) << point.when << ": never seen";
        }
        EXPECT_EQ(result.signal, SIGKILL) << point.when << ": finished before the kill";
        // Killed before the replacement: the previous map, never a part of
        // the new one.
        const std::string map = ReadFile(dir / "map.txt");
        EXPECT_TRUE(map == kPrevious) << "a kill " << point.when << " left " << map.size() << " bytes of map text";
        // Nothing can remove a named temporary file when SIGKILL strikes; the
        // unnamed one goes with the process. What is left is the start of
        // the map, which shows that the temporary file under test was the
        // one written.
        std::vector<std::string> entries = dir.Entries();
        if (Named() && !entries.empty() && IsNamedTemporary(entries[0])) {
            const std::string left = ReadFile(dir / entries[0]);
            EXPECT_TRUE(complete.starts_with(left)) << point.when << ": the temporary file holds something else";
            EXPECT_GE(static_cast<std::int64_t>(left.size()), point.bytes) << point.when;
            fs::remove(dir / entries[0]);
            entries.erase(entries.begin());
        } else if (Named() && temporary) {
            ADD_FAILURE() << point.when << ": no named temporary file left";
        }
        if (temporary) {
            const std::string name = fs::path(temporary->path).filename().string();
            EXPECT_EQ(IsNamedTemporary(name), Named()) << point.when << ": wrote " << temporary->path;
        }
        EXPECT_EQ(entries, (std::vector<std::string>{"big.bmp", "map.txt"})) << "left behind after a kill "
                                                                             << point.when;
    }
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
        Child child(Bmp2Grid({"-1", "big.bmp", "map.txt"}), options);
        const std::optional<OpenFile> temporary = WaitForTemporary(child, dir.path(), "big.bmp", 1);
        child.Signal(sig);
        const RunResult result = child.Wait();
        ASSERT_TRUE(temporary) << label << ": never seen writing its map";
        EXPECT_EQ(result.signal, sig) << label;
        EXPECT_EQ(ReadFile(dir / "map.txt"), kPrevious) << label;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"big.bmp", "map.txt"})) << label;
        EXPECT_EQ(IsNamedTemporary(fs::path(temporary->path).filename().string()), Named())
            << label << ": the temporary file under test was not the one written: " << temporary->path;
        for (const std::string& name : dir.Entries())  // so that each signal is judged alone
            if (name != "big.bmp") fs::remove(dir / name);
    }
}

TEST_P(Faults, HangupIgnoredAtStartStaysIgnored) {
    // Started by nohup (SIGHUP ignored), a conversion goes on when its
    // terminal closes while it writes (SIGHUP), and puts its map in place.
    const IndexedPicture picture = RandomPicture(2500, 2000, 7);  // about 50 MB of map text
    WriteFile(dir / "big.bmp", MakeBmp(picture));
    WriteFile(dir / "map.txt", kPrevious);
    std::vector<std::string> command = Bmp2Grid({"-1", "big.bmp", "map.txt"});
    command.insert(command.begin(), {"/bin/sh", "-c", "exec nohup \"$@\"", "sh"});
    Child child(command, Options());
    ASSERT_TRUE(WaitForTemporary(child, dir.path(), "big.bmp", 1)) << "never seen writing its map";
    // Stopped while it writes, so that the hangup surely lands mid-write.
    child.Signal(SIGSTOP);
    ASSERT_TRUE(WaitUntil([&] { return child.Stopped() || child.Ended(); }));
    ASSERT_TRUE(TemporaryOf(child.pid(), dir.path(), "big.bmp")) << "done before the hangup";
    child.Signal(SIGHUP);
    child.Signal(SIGCONT);
    const RunResult result = child.Wait();
    EXPECT_EQ(result.signal, 0) << strsignal(result.signal);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(ReadFile(dir / "map.txt") == ReferenceMap(picture, SampleMode::OneToOne));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"big.bmp", "map.txt"}));
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
        {Grid2Bmp({"--format", "png", "map.txt", "out"}), 200000L, "Can't write out\n"},  // random indices: a big PNG
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
            ::poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kEventTimeout).count()));
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
    // Two conversions to one map that are writing at the same time: each is
    // stopped once it is seen writing, so that the two surely overlap, and
    // then they go on, one after the other in either order or side by side.
    // The one that finishes last leaves its map, whole; never a mix.
    const IndexedPicture first = RandomPicture(2500, 2000, 4);
    const IndexedPicture second = RandomPicture(2000, 2500, 5);
    WriteFile(dir / "a.bmp", MakeBmp(first));
    WriteFile(dir / "b.bmp", MakeBmp(second));
    const RunOptions options = Options();
    ASSERT_EQ(RunProgram(Bmp2Grid({"-1", "a.bmp", "a.txt"}), options).exitStatus, 0);
    ASSERT_EQ(RunProgram(Bmp2Grid({"-1", "b.bmp", "b.txt"}), options).exitStatus, 0);
    const std::string mapA = ReadFile(dir / "a.txt");
    const std::string mapB = ReadFile(dir / "b.txt");
    EXPECT_TRUE(mapA == ReferenceMap(first, SampleMode::OneToOne));
    const std::vector<std::string> inputs{"a.bmp", "a.txt", "b.bmp", "b.txt"};
    enum class Order { AThenB, BThenA, SideBySide };
    for (const Order order : {Order::AThenB, Order::BThenA, Order::SideBySide}) {
        const char* label = order == Order::AThenB ? "a, then b" : order == Order::BThenA ? "b, then a" : "side by side";
        WriteFile(dir / "map.txt", kPrevious);
        Child a(Bmp2Grid({"-1", "a.bmp", "map.txt"}), options);
        ASSERT_TRUE(WaitForTemporary(a, dir.path(), "a.bmp", 1)) << label << ": a never seen writing";
        a.Signal(SIGSTOP);
        Child b(Bmp2Grid({"-1", "b.bmp", "map.txt"}), options);
        ASSERT_TRUE(WaitForTemporary(b, dir.path(), "b.bmp", 1)) << label << ": b never seen writing";
        b.Signal(SIGSTOP);
        // Two temporary files at once, each under a name of its own.
        std::vector<std::string> entries = dir.Entries();
        if (Named()) {
            ASSERT_EQ(entries.size(), inputs.size() + 3) << label;
            EXPECT_TRUE(IsNamedTemporary(entries[0]) && IsNamedTemporary(entries[1])) << label;
            entries.erase(entries.begin(), entries.begin() + 2);
        }
        std::vector<std::string> expected = inputs;
        expected.push_back("map.txt");
        EXPECT_EQ(entries, expected) << label;

        std::string last;  // the map expected, when the order is known
        if (order == Order::AThenB || order == Order::BThenA) {
            Child& early = order == Order::AThenB ? a : b;
            Child& late = order == Order::AThenB ? b : a;
            early.Signal(SIGCONT);
            EXPECT_EQ(early.Wait().exitStatus, 0) << label;
            late.Signal(SIGCONT);
            EXPECT_EQ(late.Wait().exitStatus, 0) << label;
            last = order == Order::AThenB ? mapB : mapA;
        } else {
            a.Signal(SIGCONT);
            b.Signal(SIGCONT);
            EXPECT_EQ(a.Wait().exitStatus, 0) << label;
            EXPECT_EQ(b.Wait().exitStatus, 0) << label;
        }
        const std::string map = ReadFile(dir / "map.txt");
        if (!last.empty()) {
            EXPECT_TRUE(map == last) << label << ": not the map of the one that finished last";
        } else {
            EXPECT_TRUE(map == mapA || map == mapB) << label << ": a mix of two maps";
        }
        EXPECT_EQ(dir.Entries(), expected) << label;
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
