// Folders, file stamps and the folder watch (folders.h), with real files
// and real saves, and the named temporary files that signals remove.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <csignal>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "folders.h"
#include "platform.h"

namespace bmp2grid::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A fresh folder under the system's temporary folder, removed with what it
// holds when the object goes away.
class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        for (;;) {
            const fs::path path = fs::temp_directory_path() / ("bmp2grid-folders-" + std::to_string(random()));
            if (fs::create_directory(path)) {
                path_ = path.string();
                return;
            }
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream file(fs::path(path), std::ios::binary | std::ios::trunc);
    file << contents;
    ASSERT_TRUE(file.good()) << path;
}

// Saves `contents` to `path` as the programs save their outputs: a
// temporary file beside it, renamed over it.
void SaveByRename(const std::string& path, const std::string& contents) {
    OutputFile output;
    ASSERT_EQ(output.Open(path), OutputFile::OpenStatus::Ok) << path;
    ASSERT_TRUE(output.Write(contents.data(), contents.size()));
    ASSERT_TRUE(output.Commit());
}

// Sets an environment variable for the life of the object, then puts back
// what was there.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* before = std::getenv(name)) before_ = before;
        Set(value);
    }
    ~ScopedEnvironment() { Set(before_ ? before_->c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void Set(const char* value) {
#ifdef _WIN32
        _putenv_s(name_.c_str(), value ? value : "");
#else
        if (value) {
            ::setenv(name_.c_str(), value, 1);
        } else {
            ::unsetenv(name_.c_str());
        }
#endif
    }
    std::string name_;
    std::optional<std::string> before_;
};

// The processor time the process has used so far.
std::chrono::milliseconds ProcessorTime() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto units = [](const FILETIME& t) {
        return (static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return std::chrono::milliseconds((units(kernel) + units(user)) / 10000);
#else
    timespec used;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return std::chrono::milliseconds(static_cast<std::int64_t>(used.tv_sec) * 1000 + used.tv_nsec / 1000000);
#endif
}

// ---- looking at paths

TEST(Folders, KindOfAndListFolderTellFilesFromFolders) {
    TempFolder folder;
    WriteFile(folder / "map.bmp", "BM");
    ASSERT_TRUE(fs::create_directory(folder / "sub"));
    std::vector<FolderEntry> expected = {{"map.bmp", PathKind::File}, {"sub", PathKind::Folder}};
#ifndef _WIN32
    // Links are followed; one that leads nowhere is missing.
    fs::create_directory_symlink("sub", folder / "link");
    fs::create_symlink("nowhere", folder / "broken");
    expected.push_back({"link", PathKind::Folder});
    expected.push_back({"broken", PathKind::Missing});
    EXPECT_EQ(KindOf("/dev/null"), PathKind::Other);
    EXPECT_EQ(KindOf(folder / "link"), PathKind::Folder);
    EXPECT_EQ(KindOf(folder / "broken"), PathKind::Missing);
#endif
    EXPECT_EQ(KindOf(folder / "map.bmp"), PathKind::File);
    EXPECT_EQ(KindOf(folder / "sub"), PathKind::Folder);
    EXPECT_EQ(KindOf(folder.path()), PathKind::Folder);
    EXPECT_EQ(KindOf(folder / "none"), PathKind::Missing);
    EXPECT_EQ(KindOf(""), PathKind::Missing);

    const auto byName = [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; };
    std::optional<std::vector<FolderEntry>> listed = ListFolder(folder.path());
    ASSERT_TRUE(listed);
    std::sort(listed->begin(), listed->end(), byName);
    std::sort(expected.begin(), expected.end(), byName);
    ASSERT_EQ(listed->size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ((*listed)[i].name, expected[i].name);
        EXPECT_EQ((*listed)[i].kind, expected[i].kind) << expected[i].name;
    }
    const std::optional<std::vector<FolderEntry>> empty = ListFolder(folder / "sub");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_FALSE(ListFolder(folder / "none"));
    EXPECT_FALSE(ListFolder(folder / "map.bmp"));
}

TEST(Folders, MakeFoldersMakesEveryMissingLevelAndRefusesAFileInTheWay) {
    TempFolder folder;
    WriteFile(folder / "file", "x");
    struct Case {
        std::string path;
        bool made;
    };
    const Case cases[] = {
        {folder / "a/b/c", true},     // three levels
        {folder / "a/b/c", true},     // there already
        {folder / "a/b/d/", true},    // ending in a separator
        {folder / "a/../e/f", true},  // through a level that is there
        {folder / "file", false},     // a file where the folder would be
        {folder / "file/g", false},   // a file where a level above would be
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeFolders(c.path), c.made) << c.path;
        EXPECT_EQ(KindOf(c.path) == PathKind::Folder, c.made) << c.path;
    }
    EXPECT_EQ(KindOf(folder / "file"), PathKind::File);
}

TEST(Folders, StampsChangeWithTheFileAndOnlyThen) {
    TempFolder folder;
    const std::string path = folder / "map.bmp";
    EXPECT_EQ(StampOf(path), FileStamp{});
    EXPECT_FALSE(StampOf(path).exists);

    WriteFile(path, "first");
    const FileStamp first = StampOf(path);
    EXPECT_TRUE(first.exists);
    EXPECT_EQ(first.size, 5);
    EXPECT_EQ(StampOf(path), first);  // nothing changed

    WriteFile(path, "second save");
    const FileStamp second = StampOf(path);
    EXPECT_EQ(second.size, 11);
    EXPECT_NE(second, first);
    EXPECT_EQ(second.identity, first.identity);  // written in place: the same file

    // Written again within a millisecond, with as many bytes.
    const fs::file_time_type written = fs::last_write_time(fs::path(path));
    fs::last_write_time(fs::path(path), written + 1ms);
    const FileStamp touched = StampOf(path);
    EXPECT_NE(touched, second);
    EXPECT_EQ(touched.size, second.size);

    // Another file of the same size renamed over it is another file.
    SaveByRename(path, "second save");
    const FileStamp renamed = StampOf(path);
    EXPECT_EQ(renamed.size, second.size);
    EXPECT_NE(renamed.identity, second.identity);
    EXPECT_NE(renamed, touched);
}

TEST(Folders, OthersAreWritingWhereThePlatformCanTell) {
    TempFolder folder;
    const std::string path = folder / "map.bmp";
    WriteFile(path, "BM");
    {
        std::ofstream writer(fs::path(path), std::ios::binary | std::ios::app);
        ASSERT_TRUE(writer.is_open());
#ifdef _WIN32
        EXPECT_TRUE(OthersAreWriting(path));
#else
        EXPECT_FALSE(OthersAreWriting(path));  // POSIX can't tell
#endif
    }
    EXPECT_FALSE(OthersAreWriting(path));
    EXPECT_FALSE(OthersAreWriting(folder / "none"));
}

// ---- the folder watch

enum class Save { InPlace, ByRename, DeleteAndCreate, NewFile, Removed };

struct WatchCase {
    const char* name;
    bool polling;  // BMP2GRID_WATCH_POLLING=1
    Save save;
};

class FolderWatchSees : public testing::TestWithParam<WatchCase> {};

TEST_P(FolderWatchSees, EachKindOfSave) {
    const WatchCase& c = GetParam();
    TempFolder folder;
    const std::string path = folder / "map.bmp";
    if (c.save != Save::NewFile) WriteFile(path, "the first picture");
    WriteFile(folder / "other.bmp", "another picture");

    std::optional<FolderWatch> watch;
    {
        ScopedEnvironment polling("BMP2GRID_WATCH_POLLING", c.polling ? "1" : nullptr);
        watch.emplace();
        ASSERT_TRUE(watch->Add(folder.path()));
    }
    EXPECT_EQ(watch->Polling(), c.polling);
    EXPECT_FALSE(watch->Add(folder / "none"));
    EXPECT_FALSE(watch->Add(folder / "other.bmp"));

    switch (c.save) {
        case Save::InPlace:
            WriteFile(path, "the second picture, longer");
            break;
        case Save::ByRename:
            SaveByRename(path, "the second picture, longer");
            break;
        case Save::DeleteAndCreate:
            ASSERT_TRUE(fs::remove(fs::path(path)));
            WriteFile(path, "the second picture, longer");
            break;
        case Save::NewFile:
            WriteFile(path, "a new picture");
            break;
        case Save::Removed:
            ASSERT_TRUE(fs::remove(fs::path(path)));
            break;
    }

    // A save is complete once its writer is done with it; a removal needs
    // only to be seen.
    const bool saved = c.save != Save::Removed;
    bool seen = false, complete = false;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!(seen && (complete || !saved)) && std::chrono::steady_clock::now() < deadline) {
        const FolderWatch::Changes changes = watch->Wait(500ms);
        EXPECT_FALSE(changes.rescan);
        for (const FolderWatch::Change& change : changes.changes) {
            EXPECT_NE(change.path, folder / "other.bmp");  // untouched
            if (change.path != path) continue;
            seen = true;
            complete = complete || change.complete;
        }
    }
    EXPECT_TRUE(seen);
    if (saved) {
        EXPECT_TRUE(complete);
    }

    if (c.polling) {
        // Once complete, an unchanged file is not reported again.
        const FolderWatch::Changes later = watch->Wait(800ms);
        for (const FolderWatch::Change& change : later.changes) EXPECT_NE(change.path, path);
    }
}

constexpr WatchCase kWatchCases[] = {
    {"EventsInPlace", false, Save::InPlace},
    {"EventsByRename", false, Save::ByRename},
    {"EventsDeleteAndCreate", false, Save::DeleteAndCreate},
    {"EventsNewFile", false, Save::NewFile},
    {"EventsRemoved", false, Save::Removed},
    {"PollingInPlace", true, Save::InPlace},
    {"PollingByRename", true, Save::ByRename},
    {"PollingDeleteAndCreate", true, Save::DeleteAndCreate},
    {"PollingNewFile", true, Save::NewFile},
    {"PollingRemoved", true, Save::Removed},
};
INSTANTIATE_TEST_SUITE_P(Saves, FolderWatchSees, testing::ValuesIn(kWatchCases),
                         [](const testing::TestParamInfo<WatchCase>& info) { return std::string(info.param.name); });

// A watched folder that goes and comes back (moved away and back, or
// removed and made again: a checkout, a restore from a backup) is followed
// again: the watch notices it back, then reports a file new in it.
TEST(FolderWatchFollows, AFolderThatGoesAndComesBack) {
    for (const bool polling : {false, true}) {
        SCOPED_TRACE(polling ? "polling" : "events");
        TempFolder top;
        const std::string folder = top / "maps";
        ASSERT_TRUE(fs::create_directory(folder));
        WriteFile(folder + "/map.bmp", "the first picture");
        std::optional<FolderWatch> watch;
        {
            ScopedEnvironment variable("BMP2GRID_WATCH_POLLING", polling ? "1" : nullptr);
            watch.emplace();
        }
        ASSERT_TRUE(watch->Add(folder));
        // Waits until a Wait() reports something for which `wanted` holds.
        const auto awaitChanges = [&](const auto& wanted) {
            for (const auto deadline = std::chrono::steady_clock::now() + 20s;
                 std::chrono::steady_clock::now() < deadline;) {
                if (wanted(watch->Wait(500ms))) return true;
            }
            return false;
        };
        const auto anything = [](const FolderWatch::Changes& changes) {
            return changes.rescan || !changes.changes.empty();
        };
        for (const bool removed : {false, true}) {
            SCOPED_TRACE(removed ? "removed and made again" : "moved away and back");
            if (removed) {
                fs::remove_all(folder);
            } else {
                fs::rename(folder, top / "away");
            }
            ASSERT_TRUE(awaitChanges(anything)) << "the folder's going was not seen";
            if (removed) {
                ASSERT_TRUE(fs::create_directory(folder));
                WriteFile(folder + "/map.bmp", "the first picture, restored");
            } else {
                fs::rename(top / "away", folder);
            }
            ASSERT_TRUE(awaitChanges(anything)) << "the folder's coming back was not seen";
            const std::string added = folder + (removed ? "/made.bmp" : "/moved.bmp");
            WriteFile(added, "a new picture");
            EXPECT_TRUE(awaitChanges([&](const FolderWatch::Changes& changes) {
                return std::any_of(changes.changes.begin(), changes.changes.end(),
                                   [&](const FolderWatch::Change& change) { return change.path == added; });
            })) << added << " was not seen";
        }
    }
}

// An idle watch waits out its timeout, asleep (a busy loop would use the
// processor all that time), and reports nothing.
TEST(FolderWatchIdle, SleepsOutItsTimeoutAndReportsNothing) {
    for (const bool polling : {false, true}) {
        TempFolder folder;
        WriteFile(folder / "map.bmp", "BM");
        std::optional<FolderWatch> watch;
        {
            ScopedEnvironment variable("BMP2GRID_WATCH_POLLING", polling ? "1" : nullptr);
            watch.emplace();
        }
        ASSERT_TRUE(watch->Add(folder.path()));
        const auto start = std::chrono::steady_clock::now();
        const std::chrono::milliseconds used = ProcessorTime();
        const FolderWatch::Changes changes = watch->Wait(600ms);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 600ms) << "polling " << polling;
        EXPECT_LT(ProcessorTime() - used, 300ms) << "polling " << polling;
        EXPECT_TRUE(changes.changes.empty()) << "polling " << polling;
        EXPECT_FALSE(changes.rescan);
    }
}

#ifndef _WIN32
// ---- named temporary files and the signals that end the process

struct SignalCase {
    const char* name;
    bool quiet;         // EndQuietlyOnInterrupt() first
    int temporaries;    // outputs holding a named temporary file when the signal comes
    int sig;
    bool ignoreHangUp;  // SIGHUP is ignored before anything (nohup)
};

class NamedTemporaries : public testing::TestWithParam<SignalCase> {};

// Waits up to 20 s for `child`, sent the case's signal, to end; false (the
// child killed) when it does not. Its status is then as the case says:
// 0 when it ends quietly, else death by the signal.
bool ChildEnded(pid_t child, int& status) {
    pid_t ended = 0;
    for (const auto deadline = std::chrono::steady_clock::now() + 20s;
         (ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline;) {
        const timespec pause{0, 10000000};
        ::nanosleep(&pause, nullptr);
    }
    if (ended == child) return true;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return false;
}

void ExpectEndedAsTheCaseSays(int status, const SignalCase& c) {
    if (c.quiet) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::hex << status;
    } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << std::hex << status;
    }
}

// The child opens its outputs, says so through a pipe, and waits for the
// signal; the folder then holds the outputs' temporary files, and once the
// signal has ended the child it holds none.
TEST_P(NamedTemporaries, AreAllRemovedByASignal) {
    const SignalCase& c = GetParam();
    TempFolder folder;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        ::setenv("BMP2GRID_NAMED_TEMPORARY", "1", 1);
        // As a program started from an interactive shell: the test may run
        // where SIGINT is ignored (started in the background by a script).
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
        if (c.ignoreHangUp) std::signal(SIGHUP, SIG_IGN);
        if (c.quiet) EndQuietlyOnInterrupt();
        // Still ignored: this returns, and the child says it is ready.
        if (c.ignoreHangUp) std::raise(SIGHUP);
        std::vector<OutputFile> outputs(static_cast<std::size_t>(c.temporaries));
        for (int i = 0; i < c.temporaries; ++i) {
            OutputFile& output = outputs[static_cast<std::size_t>(i)];
            if (output.Open(folder / ("map" + std::to_string(i) + ".txt")) != OutputFile::OpenStatus::Ok ||
                !output.Write("1,1\r\n", 5))
                ::_exit(3);
        }
        if (::write(ready[1], "r", 1) != 1) ::_exit(4);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char got = 0;
    const bool isReady = ::read(ready[0], &got, 1) == 1;
    ::close(ready[0]);
    if (!isReady) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        FAIL() << "the child ended before its outputs were open";
    }
    const auto temporaries = [&] {
        int count = 0;
        const std::vector<FolderEntry> entries = ListFolder(folder.path()).value_or(std::vector<FolderEntry>{});
        for (const FolderEntry& entry : entries)
            if (entry.name.find(".bmp2grid-tmp-") != std::string::npos) ++count;
        return count;
    };
    EXPECT_EQ(temporaries(), c.temporaries);

    ASSERT_EQ(::kill(child, c.sig), 0);
    int status = 0;
    ASSERT_TRUE(ChildEnded(child, status)) << "the signal did not end the child";
    ExpectEndedAsTheCaseSays(status, c);
    EXPECT_EQ(temporaries(), 0);
}

constexpr SignalCase kSignalCases[] = {
    {"TwoEndedAsTheSignalWould", false, 2, SIGTERM, false},
    {"OneEndedAsTheSignalWould", false, 1, SIGINT, false},
    {"TwoEndedQuietly", true, 2, SIGTERM, false},
    {"NoneEndedQuietly", true, 0, SIGINT, false},
    {"NoneEndedQuietlyByHangUp", true, 0, SIGHUP, false},
    {"IgnoredHangUpStaysIgnored", true, 2, SIGTERM, true},
};
INSTANTIATE_TEST_SUITE_P(Signals, NamedTemporaries, testing::ValuesIn(kSignalCases),
                         [](const testing::TestParamInfo<SignalCase>& info) { return std::string(info.param.name); });

// A signal that comes while several threads keep making, writing and
// replacing outputs (a batch's workers): the process ends at once, as the
// signal says, and leaves no temporary file, not even one whose name was
// taken or whose file was made while the signal was being handled.
class NamedTemporariesBeingMade : public testing::TestWithParam<SignalCase> {};

TEST_P(NamedTemporariesBeingMade, AreAllRemovedByASignal) {
    const SignalCase& c = GetParam();
    constexpr int kWorkers = 4;
    // Each round catches the workers somewhere else in their outputs' lives.
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        TempFolder folder;
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            ::setenv("BMP2GRID_NAMED_TEMPORARY", "1", 1);
            for (const int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
            if (c.quiet) EndQuietlyOnInterrupt();
            std::atomic<int> started{0};
            std::vector<std::thread> workers;
            for (int w = 0; w < kWorkers; ++w) {
                workers.emplace_back([&, w] {
                    for (long i = 0;; ++i) {
                        OutputFile output;
                        // Every third one is abandoned: its temporary file is
                        // removed. A failure, even one the signal would
                        // cause, ends the child with status 5.
                        if (output.Open(folder / ("map" + std::to_string(w) + "-" + std::to_string(i % 4) + ".txt")) !=
                                OutputFile::OpenStatus::Ok ||
                            !output.Write("1,1\r\n", 5) || (i % 3 != 2 && !output.Commit()))
                            ::_exit(5);
                        if (i == 0) ++started;
                    }
                });
            }
            while (started.load() < kWorkers) std::this_thread::yield();
            if (::write(ready[1], "r", 1) != 1) ::_exit(4);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char got = 0;
        const bool isReady = ::read(ready[0], &got, 1) == 1;
        ::close(ready[0]);
        if (!isReady) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            FAIL() << "the child ended before its workers made outputs";
        }
        ASSERT_EQ(::kill(child, c.sig), 0);
        int status = 0;
        ASSERT_TRUE(ChildEnded(child, status)) << "the signal did not end the child";
        ExpectEndedAsTheCaseSays(status, c);
        std::vector<std::string> left;
        for (const FolderEntry& entry : ListFolder(folder.path()).value_or(std::vector<FolderEntry>{}))
            if (entry.name.find(".bmp2grid-tmp-") != std::string::npos) left.push_back(entry.name);
        EXPECT_TRUE(left.empty()) << left.size() << " left, the first " << left.front();
    }
}

constexpr SignalCase kBeingMadeCases[] = {
    {"EndedAsTheSignalWould", false, 0, SIGINT, false},
    {"EndedQuietly", true, 0, SIGTERM, false},
};
INSTANTIATE_TEST_SUITE_P(Signals, NamedTemporariesBeingMade, testing::ValuesIn(kBeingMadeCases),
                         [](const testing::TestParamInfo<SignalCase>& info) { return std::string(info.param.name); });
#endif

}  // namespace
}  // namespace bmp2grid::platform
