// Faults from outside, end to end on the built program: killed mid-write,
// a full disk, racing conversions, and a folder it may not write to. The map
// that was there before must always survive whole, and nothing may be left
// behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "process_runner.h"
#include "program_under_test.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

namespace fs = std::filesystem;

// The command that runs this build's bmp2grid (or a copy of it at `exe`)
// with `args`. The faults are Unix ones, so no other build is run.
std::vector<std::string> Bmp2Grid(std::vector<std::string> args, const std::string& exe = BMP2GRID_EXE) {
    return Program::Built(exe).Command(std::move(args));
}
const std::string kPrevious = "2,1\r\n7,0,0,0,0\t9,0,0,0,0\t\r\n";

class Faults : public ::testing::Test {
protected:
    // Converts `input` to map.txt in the test folder.
    RunResult Convert(const std::string& input, RunOptions options = {}) {
        options.workingDirectory = dir.path();
        return RunProgram(Bmp2Grid({"-1", input, "map.txt"}), options);
    }
    TempDir dir;
};

TEST_F(Faults, KilledWhileWritingLeavesThePreviousMapWhole) {
    // About 200 MB of map text: long enough to be killed at many points.
    WriteFile(dir / "big.bmp", MakeBmp(RandomPicture(4000, 4000, 1)));
    RunOptions options;
    options.workingDirectory = dir.path();
    ASSERT_EQ(RunProgram(Bmp2Grid({"-1", "big.bmp", "complete.txt"}), options).exitStatus, 0);
    const std::string complete = ReadFile(dir / "complete.txt");
    fs::remove(dir / "complete.txt");

    int keptPrevious = 0;
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
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"big.bmp", "map.txt"}))
            << "left behind after a kill at " << delayMs << " ms";
    }
    EXPECT_GE(keptPrevious, 3) << "the conversion finished too fast to be interrupted";
}

TEST_F(Faults, FileSizeLimitHitMidMap) {
    const Picture picture = RandomPicture(1000, 800, 2);
    WriteFile(dir / "pic.bmp", MakeBmp(picture));
    for (long limit : {1000000L, 5000000L}) {  // inside the first block, and blocks later
        WriteFile(dir / "map.txt", kPrevious);
        RunOptions options;
        options.fileSizeLimit = limit;
        const RunResult result = Convert("pic.bmp", options);
        EXPECT_EQ(result.exitStatus, 1) << limit;
        EXPECT_EQ(result.out, "Size: 1000x800 (should be 800000 bytes, is 800000 bytes)\nCan't write map.txt\n");
        EXPECT_EQ(ReadFile(dir / "map.txt"), kPrevious);
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "pic.bmp"}));
    }
}

TEST_F(Faults, FullDevice) {
    WriteFile(dir / "pic.bmp", MakeBmp(RandomPicture(700, 700, 3)));
    RunOptions options;
    options.workingDirectory = dir.path();
    const RunResult result = RunProgram(Bmp2Grid({"pic.bmp", "/dev/full"}), options);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "Can't write /dev/full\n");
}

TEST_F(Faults, RacingConversionsLeaveOneWholeMap) {
    const Picture first = RandomPicture(1500, 1200, 4);
    const Picture second = RandomPicture(1200, 1500, 5);
    WriteFile(dir / "a.bmp", MakeBmp(first));
    WriteFile(dir / "b.bmp", MakeBmp(second));
    RunOptions options;
    options.workingDirectory = dir.path();
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

TEST_F(Faults, FolderThatCannotBeWrittenAndInputThatCannotBeRead) {
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
    RunOptions options;
    options.workingDirectory = dir.path();
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
