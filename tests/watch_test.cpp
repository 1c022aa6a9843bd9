// End-to-end: both programs' --watch, with real files saved the ways
// editors save them, while the program runs. Every wait is for what the
// watch prints or leaves (a line in its log, a file in a folder), never for
// a fixed time.
//
// The same tables run against the Windows build under Wine (see
// program_under_test.h), whose watch takes ReadDirectoryChangesW there.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "process_runner.h"
#include "program_under_test.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

namespace fs = std::filesystem;

// One program as a watch test sees it: what its inputs are called, how an
// input is made and what a single run makes of it.
struct Watched {
    const char* name;
    const char* inputExtension;   // "bmp": a picture; "txt": map text
    const char* outputExtension;  // what the batch form writes
    std::function<const Program&()> program;
};

const Watched kBmp2Grid{"bmp2grid", "bmp", "txt", []() -> const Program& { return Bmp2GridUnderTest(); }};
const Watched kGrid2Bmp{"grid2bmp", "txt", "bmp", []() -> const Program& { return Grid2BmpUnderTest(); }};

// How the watch is told of changes: by the system's events, or by looking
// at the files at an interval (BMP2GRID_WATCH_POLLING=1).
enum class Notice { Events, Polling };

struct WatchCase {
    const Watched* watched;
    Notice notice;
};

std::string CaseName(const ::testing::TestParamInfo<WatchCase>& info) {
    return std::string(info.param.watched->name) + (info.param.notice == Notice::Events ? "Events" : "Polling");
}

// How a case shows in test lists: by its name, not its bytes.
void PrintTo(const WatchCase& c, std::ostream* os) {
    *os << c.watched->name << (c.notice == Notice::Events ? " with events" : " polling");
}

// The pictures the tests save: 64 × 40, or 4096 × 4096 for a conversion
// long enough to be interrupted, their pixels from `seed`.
constexpr std::uint32_t kBigSeeds = 1000;
IndexedPicture PictureFor(std::uint32_t seed) {
    return seed >= kBigSeeds ? RandomPicture(4096, 4096, seed) : RandomPicture(64, 40, seed);
}

class Watch : public ::testing::TestWithParam<WatchCase> {
protected:
    const Watched& watched() const { return *GetParam().watched; }
    const Program& program() const { return watched().program(); }

    // The input made from `seed`: a BMP for bmp2grid, map text for grid2bmp.
    std::string Input(std::uint32_t seed) const {
        const IndexedPicture picture = PictureFor(seed);
        if (std::string(watched().inputExtension) == "txt") return ReferenceMap(picture, SampleMode::TwoToOne);
        const Bytes bmp = MakeBmp(picture);
        return std::string(bmp.begin(), bmp.end());
    }

    // What a single run makes of the input from `seed`.
    std::string Expected(std::uint32_t seed) {
        const auto found = expected_.find(seed);
        if (found != expected_.end()) return found->second;
        const std::string in = dir / ("single-" + std::to_string(seed) + "." + watched().inputExtension);
        const std::string out = dir / ("single-" + std::to_string(seed) + "." + watched().outputExtension);
        WriteFile(in, Input(seed));
        const RunResult run = RunProgram(program().Command({in, out}));
        EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
        std::string made = ReadFile(out);
        fs::remove(in);
        fs::remove(out);
        return expected_[seed] = made;
    }

    // Starts the watch with `args` in the test folder, its standard output
    // going to a log.
    void StartWatch(std::vector<std::string> args, std::vector<std::string> environment = {}) {
        RunOptions options;
        options.workingDirectory = dir.path();
        options.stdoutFile = "watch.log";
        options.ownProcessGroup = true;
        options.environment = std::move(environment);
        if (GetParam().notice == Notice::Polling) options.environment.push_back("BMP2GRID_WATCH_POLLING=1");
        child_ = std::make_unique<Child>(program().Command(std::move(args)), options);
    }

    std::string Log() const { return program().AsText(ReadFile(dir / "watch.log")); }

    // How many lines of the log hold `words`.
    int LinesWith(const std::string& words) const {
        const std::string log = Log();
        int count = 0;
        for (std::size_t at = log.find(words); at != std::string::npos; at = log.find(words, at + words.size()))
            ++count;
        return count;
    }

    // Waits until `count` lines of the log hold `words`.
    void AwaitLines(const std::string& words, int count) {
        ASSERT_TRUE(WaitUntil([&] { return LinesWith(words) >= count || child_->Ended(); }))
            << "waited for " << count << " lines with \"" << words << "\"; log:\n"
            << Log();
        ASSERT_GE(LinesWith(words), count) << "the watch ended; log:\n" << Log();
    }

    // Ends the watch as Ctrl-C does (SIGTERM, too, on POSIX) and checks that
    // it ended well. Wine turns SIGINT into the console's Ctrl-C; a SIGTERM
    // ends it as a Linux process.
    void Interrupt(int sig = SIGINT) {
        child_->Signal(program().windows() ? SIGINT : sig);
        const RunResult ended = child_->Wait();
        EXPECT_EQ(ended.signal, 0) << "log:\n" << Log();
        EXPECT_EQ(ended.exitStatus, 0) << "log:\n" << Log();
    }

    void TearDown() override {
        if (child_ && !child_->Ended()) child_->Signal(SIGKILL);
    }

    TempDir dir;
    std::unique_ptr<Child> child_;
    std::map<std::uint32_t, std::string> expected_;
};

// The ways an editor saves a file over the one there.
enum class Save { InPlace, ByRename, DeleteAndCreate };

void SaveFile(const std::string& path, const std::string& contents, Save how) {
    switch (how) {
        case Save::InPlace: {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << contents;
            break;
        }
        case Save::ByRename: {
            const std::string side = path + ".saving";
            WriteFile(side, contents);
            fs::rename(side, path);
            break;
        }
        case Save::DeleteAndCreate:
            fs::remove(path);
            WriteFile(path, contents);
            break;
    }
}

TEST_P(Watch, EachSaveIsConvertedAgain) {
    const std::string in = std::string("cave.") + watched().inputExtension;
    const std::string out = std::string("cave.") + watched().outputExtension;
    WriteFile(dir / in, Input(1));
    StartWatch({"--watch", in, out});
    AwaitLines(" converted into ", 1);
    EXPECT_EQ(ReadFile(dir / out), Expected(1));
    // Each way of saving, with a picture of its own each time.
    const Save saves[] = {Save::InPlace, Save::ByRename, Save::DeleteAndCreate, Save::InPlace};
    int conversions = 1;
    std::uint32_t seed = 1;
    for (const Save how : saves) {
        SCOPED_TRACE(static_cast<int>(how));
        SaveFile(dir / in, Input(++seed), how);
        AwaitLines(" converted into ", ++conversions);
        EXPECT_EQ(ReadFile(dir / out), Expected(seed));
    }
    Interrupt();
    EXPECT_EQ(LinesWith("Can't"), 0) << Log();
    std::vector<std::string> left{in, out, "watch.log"};
    std::sort(left.begin(), left.end());
    EXPECT_EQ(dir.Entries(), left);
}

// A truncated save is refused and leaves the map as it was; the good save
// after it is converted.
TEST_P(Watch, TruncatedSaveLeavesTheMapThenTheGoodOneIsConverted) {
    const std::string in = std::string("cave.") + watched().inputExtension;
    const std::string out = std::string("cave.") + watched().outputExtension;
    WriteFile(dir / in, Input(1));
    StartWatch({"--watch", in, out});
    AwaitLines(" converted into ", 1);
    const std::string whole = Input(2);
    SaveFile(dir / in, whole.substr(0, whole.size() / 2), Save::ByRename);
    AwaitLines("Can't convert " + in, 1);
    EXPECT_EQ(ReadFile(dir / out), Expected(1));
    SaveFile(dir / in, whole, Save::ByRename);
    AwaitLines(" converted into ", 2);
    EXPECT_EQ(ReadFile(dir / out), Expected(2));
    Interrupt();
}

// The batch form follows its folders: a new file is converted into the
// output folder, a removed one leaves its output, and a writer that stops
// half way through a file is not taken for a finished save.
TEST_P(Watch, FolderNewRemovedAndSlowlyWrittenFiles) {
    const std::string ext = std::string(".") + watched().inputExtension;
    const std::string outExt = std::string(".") + watched().outputExtension;
    fs::create_directory(dir / "maps");
    WriteFile(dir / ("maps/a" + ext), Input(1));
    WriteFile(dir / ("maps/b" + ext), Input(2));
    StartWatch({"--watch", "--out-dir", "out", "maps"});
    AwaitLines("Converted 2 of 2 files", 1);
    EXPECT_EQ(ReadFile(dir / ("out/a" + outExt)), Expected(1));

    // A new file.
    WriteFile(dir / ("maps/c" + ext), Input(3));
    AwaitLines("c" + ext + ": converted into ", 1);
    EXPECT_EQ(ReadFile(dir / ("out/c" + outExt)), Expected(3));

    // A new file whose output is another input's is refused, naming both,
    // and that output is left as it was.
    std::string upper = ext;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    WriteFile(dir / ("maps/a" + upper), Input(6));
    AwaitLines("Can't convert maps/a" + ext + " and maps/a" + upper + ": both would be written to out/a" + outExt, 1);
    EXPECT_EQ(ReadFile(dir / ("out/a" + outExt)), Expected(1));
    fs::remove(dir / ("maps/a" + upper));

    // A writer that pauses half way: another file saved meanwhile is
    // converted, and the half-written one is not taken for a save. With
    // the system's events a file still open for writing waits until it is
    // closed, or left alone for a second: within that second it must not
    // have been converted. (Polling can't see a writer, and a half-written
    // file converted is refused, its map left as it was.)
    {
        const std::string whole = Input(4);
        std::ofstream slow(dir / ("maps/a" + ext), std::ios::binary | std::ios::trunc);
        slow << whole.substr(0, whole.size() / 2) << std::flush;
        const auto paused = std::chrono::steady_clock::now();
        SaveFile(dir / ("maps/b" + ext), Input(5), Save::ByRename);
        AwaitLines("b" + ext + ": converted into ", 1);
        const bool withinASecond = std::chrono::steady_clock::now() - paused < std::chrono::milliseconds(900);
        EXPECT_EQ(ReadFile(dir / ("out/b" + outExt)), Expected(5));
        // (Under Wine the watch can't see that a Linux process has the file
        // open, so there a half-written file may be converted and refused.)
        if (GetParam().notice == Notice::Events && withinASecond && !program().windows()) {
            EXPECT_EQ(LinesWith("Can't convert maps/a" + ext + ":"), 0) << Log();
        }
        EXPECT_EQ(ReadFile(dir / ("out/a" + outExt)), Expected(1));
        slow << whole.substr(whole.size() / 2) << std::flush;
    }
    AwaitLines("a" + ext + ": converted into ", 1);
    EXPECT_EQ(ReadFile(dir / ("out/a" + outExt)), Expected(4));

    // A removed file leaves its output as it was.
    fs::remove(dir / ("maps/c" + ext));
    AwaitLines(" removed", 1);
    EXPECT_EQ(ReadFile(dir / ("out/c" + outExt)), Expected(3));
    Interrupt(SIGTERM);
}

// The output folder removed while watching (cleaned out by hand) is made
// again for the next save, as the batch form makes it at the start.
TEST_P(Watch, OutputFolderRemovedIsMadeAgain) {
    const std::string ext = std::string(".") + watched().inputExtension;
    const std::string outExt = std::string(".") + watched().outputExtension;
    fs::create_directory(dir / "maps");
    WriteFile(dir / ("maps/a" + ext), Input(1));
    StartWatch({"--watch", "--out-dir", "out/deep", "maps"});
    AwaitLines("Converted 1 of 1 file", 1);
    fs::remove_all(dir / "out");
    SaveFile(dir / ("maps/a" + ext), Input(2), Save::ByRename);
    AwaitLines("a" + ext + ": converted into ", 1);
    EXPECT_EQ(LinesWith("Can't"), 0) << Log();
    EXPECT_EQ(ReadFile(dir / ("out/deep/a" + outExt)), Expected(2));
    Interrupt();
}

// Ctrl-C in the middle of a conversion: exit status 0, the previous
// output whole, and no temporary file left.
TEST_P(Watch, InterruptedMidConversionLeavesNoTemporaryFile) {
    const std::string in = std::string("big.") + watched().inputExtension;
    const std::string out = std::string("big.") + watched().outputExtension;
    const std::uint32_t seeds[] = {kBigSeeds, kBigSeeds + 1};
    WriteFile(dir / in, Input(seeds[0]));
    StartWatch({"--watch", in, out}, {"BMP2GRID_NAMED_TEMPORARY=1"});
    AwaitLines(" converted into ", 1);
    EXPECT_EQ(ReadFile(dir / out), Expected(seeds[0]));
    auto temporaryExists = [&] {
        for (const std::string& name : dir.Entries()) {
            if (name.find(".bmp2grid-tmp-") != std::string::npos) return true;
        }
        return false;
    };
    // Saves until a conversion is caught with its temporary file made.
    bool caught = false;
    for (int save = 0; save < 20 && !caught; ++save) {
        SaveFile(dir / in, Input(seeds[(save + 1) % 2]), Save::ByRename);
        caught = WaitUntil([&] { return temporaryExists() || LinesWith(" converted into ") >= save + 2; }) &&
                 temporaryExists();
        if (!caught) AwaitLines(" converted into ", save + 2);
    }
    ASSERT_TRUE(caught) << "no conversion was caught before its end; log:\n" << Log();
    Interrupt();
    // The temporary file goes when its last handle closes, which Wine's
    // server does after the process has gone, a moment later on a busy
    // machine; on POSIX it is gone when the process ends.
    if (program().windows()) WaitUntil([&] { return !temporaryExists(); });
    EXPECT_FALSE(temporaryExists());
    // Whole: what a single run makes of one of the two pictures.
    const std::string left = ReadFile(dir / out);
    EXPECT_TRUE(left == Expected(seeds[0]) || left == Expected(seeds[1]));
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, Watch,
                         ::testing::Values(WatchCase{&kBmp2Grid, Notice::Events}, WatchCase{&kBmp2Grid, Notice::Polling},
                                           WatchCase{&kGrid2Bmp, Notice::Events},
                                           WatchCase{&kGrid2Bmp, Notice::Polling}),
                         CaseName);

}  // namespace
}  // namespace bmp2grid::test
