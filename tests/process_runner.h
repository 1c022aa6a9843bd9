// Runs the built program as a child process for end-to-end tests.
//
// The child starts as it would from an interactive shell: SIGPIPE, SIGXFSZ,
// SIGINT, SIGTERM and SIGHUP have their default dispositions (they kill a
// program that does not handle them), even though the test process itself
// ignores SIGPIPE.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bmp2grid::test {

// How a file given as standard output is opened, as a shell's `>`, `>>`,
// `1<>` and `1<` open it: truncated, appended to, read and written from its
// start without truncation (each creating a missing file), or, for reading
// only, an existing file.
enum class StdoutMode { Truncate, Append, ReadWrite, ReadOnly };

struct RunOptions {
    std::string workingDirectory;  // empty: the test's own
    std::string stdinData;         // fed to the child's standard input
    int stdinFd = -1;              // when set, the child's standard input is this descriptor as it
                                   // stands (a socket, a file read part-way), not stdinData
    std::string stdoutFile;        // when set, standard output goes to this file (relative to the
                                   // working directory, opened as `stdoutMode` says), not captured
    StdoutMode stdoutMode = StdoutMode::Truncate;
    bool closeStdout = false;      // the child starts with standard output closed (`>&-`)
    bool ownProcessGroup = false;  // the child leads a process group of its own, so that
                                   // kill(-pid, ...) reaches every process it starts
    std::vector<std::string> environment;  // extra NAME=value entries for the child
    long fileSizeLimit = -1;       // RLIMIT_FSIZE in bytes
    int userId = -1;               // run as this user (and group) when set
};

struct RunResult {
    int exitStatus = -1;  // -1 when killed by a signal
    int signal = 0;
    long peakMemoryKiB = 0;  // the child's peak resident memory (ru_maxrss)
    std::string out;  // standard output
    std::string err;  // standard error
};

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

// Starts a child that writes nothing back; the caller kills or waits for it.
pid_t Start(const std::vector<std::string>& argv, const RunOptions& options = {});
RunResult Wait(pid_t pid);

// A child from Start() that is killed (SIGKILL, to its process group when it
// leads one) and reaped when the object goes away before Wait(), so that a
// test that fails half way leaves no process running, or stopped, behind.
class Child {
public:
    Child(const std::vector<std::string>& argv, const RunOptions& options = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return pid_; }
    void Signal(int sig) const;  // to the process group when it leads one
    RunResult Wait();
    // Whether it has ended (it is then a zombie until Wait()).
    bool Ended() const;
    // Whether it is stopped now (by SIGSTOP): a signal sent to it then
    // lands once it goes on, wherever it stopped.
    bool Stopped() const;

private:
    pid_t pid_;
    bool group_;
    bool waited_ = false;
};

// How long a test waits for an event in a child (a file made, a size
// reached, a process gone): long enough for a sanitized build on a machine
// whose cores are all busy. Only a fault makes a test wait this long.
inline constexpr std::chrono::seconds kEventTimeout{60};

// Checks `condition` until it holds, with a short sleep between checks, for
// at most `timeout`; returns whether it held. A test that needs an event
// waits for it so, never for a fixed time.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kEventTimeout);

// A regular file that a process holds open: what its /proc/PID/fd link reads
// (a file with no name, such as one made with O_TMPFILE, reads
// "FOLDER/#INODE (deleted)") and its size now.
struct OpenFile {
    std::string path;
    std::int64_t size = 0;
    std::int64_t allocated = 0;  // the bytes its blocks take on the file system (st_blocks)
    std::int64_t blockSize = 0;  // the file system's block for it (st_blksize)
};
std::vector<OpenFile> OpenFilesOf(pid_t pid);

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> Entries() const;  // names in the folder, sorted

private:
    std::string path_;
};

}  // namespace bmp2grid::test
