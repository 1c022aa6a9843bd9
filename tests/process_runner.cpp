#include "process_runner.h"

#include <dirent.h>
#include <malloc.h>
#include <grp.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace bmp2grid::test {
namespace {

// Everything the child needs, made before fork(): between fork() and exec()
// the child may call only async-signal-safe functions (no allocation), as
// another thread of the test may hold a lock at the moment of the fork.
struct ChildCommand {
    std::vector<std::string> environmentStrings;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ChildCommand(const std::vector<std::string>& args, const RunOptions& options) {
        // The test's environment, less the names the options set.
        auto setByOptions = [&](const std::string& entry) {
            const std::string name = entry.substr(0, entry.find('=') + 1);
            return std::any_of(options.environment.begin(), options.environment.end(),
                               [&](const std::string& e) { return e.compare(0, name.size(), name) == 0; });
        };
        for (char** e = environ; *e != nullptr; ++e)
            if (!setByOptions(*e)) environmentStrings.emplace_back(*e);
        environmentStrings.insert(environmentStrings.end(), options.environment.begin(),
                                  options.environment.end());
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (std::string& e : environmentStrings) envp.push_back(e.data());
        envp.push_back(nullptr);
    }
};

[[noreturn]] void ExecChild(const ChildCommand& command, const RunOptions& options) {
    if (options.ownProcessGroup) ::setpgid(0, 0);
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) _exit(127);
    if (!options.stdoutFile.empty()) {
        const StdoutMode mode = options.stdoutMode;
        const int flags = mode == StdoutMode::Truncate    ? O_WRONLY | O_CREAT | O_TRUNC
                          : mode == StdoutMode::Append    ? O_WRONLY | O_CREAT | O_APPEND
                          : mode == StdoutMode::ReadWrite ? O_RDWR | O_CREAT
                                                          : O_RDONLY;
        const int fd = ::open(options.stdoutFile.c_str(), flags, 0644);
        if (fd < 0 || ::dup2(fd, 1) < 0) _exit(127);
        ::close(fd);
    }
    if (options.closeStdout) ::close(1);
    // As an interactive shell starts a program: SIGPIPE, SIGXFSZ and the
    // signals that end it from outside (SIGINT, SIGTERM, SIGHUP) at their
    // defaults and not blocked, whatever the test process does with them (a
    // test started in the background may have SIGINT ignored).
    sigset_t signals;
    sigemptyset(&signals);
    for (const int sig : {SIGPIPE, SIGXFSZ, SIGINT, SIGTERM, SIGHUP}) {
        ::signal(sig, SIG_DFL);
        sigaddset(&signals, sig);
    }
    ::sigprocmask(SIG_UNBLOCK, &signals, nullptr);
    if (options.fileSizeLimit >= 0) {
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(options.fileSizeLimit);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.userId >= 0) {
        const auto id = static_cast<uid_t>(options.userId);
        if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0) _exit(126);
    }
    ::execve(command.argv[0], command.argv.data(), command.envp.data());
    _exit(127);
}

void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// fork() gives the child the test's own pages until exec(), and the kernel
// counts them in the child's peak resident memory: memory the test has
// freed is handed back first, so that the figure is the program's and not
// what earlier tests left in the heap.
pid_t ForkSmall() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
    return ::fork();
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const ChildCommand command(argv, options);
    ::signal(SIGPIPE, SIG_IGN);  // a child that stops reading must not kill the test
    const pid_t pid = ForkSmall();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(options.stdinFd >= 0 ? options.stdinFd : in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ExecChild(command, options);
    }
    Close(in[0]);
    Close(out[1]);
    Close(err[1]);

    RunResult result;
    std::size_t written = 0;
    if (options.stdinData.empty() || options.stdinFd >= 0) Close(in[1]);
    while (out[0] >= 0 || err[0] >= 0) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out[0] : err[0];
            if (fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                Close(fd);
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
        if (in[1] >= 0 && fds[2].revents != 0) {
            const ssize_t n = ::write(in[1], options.stdinData.data() + written,
                                      options.stdinData.size() - written);
            if (n <= 0) {
                Close(in[1]);
            } else if ((written += static_cast<std::size_t>(n)) == options.stdinData.size()) {
                Close(in[1]);
            }
        }
    }
    Close(in[1]);
    RunResult waited = Wait(pid);
    result.exitStatus = waited.exitStatus;
    result.signal = waited.signal;
    result.peakMemoryKiB = waited.peakMemoryKiB;
    return result;
}

pid_t Start(const std::vector<std::string>& argv, const RunOptions& options) {
    const ChildCommand command(argv, options);
    const pid_t pid = ForkSmall();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ExecChild(command, options);
    }
    if (options.ownProcessGroup) ::setpgid(pid, pid);  // also here, so that it is in place on return
    return pid;
}

RunResult Wait(pid_t pid) {
    RunResult result;
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.peakMemoryKiB = usage.ru_maxrss;
    return result;
}

Child::Child(const std::vector<std::string>& argv, const RunOptions& options)
    : pid_(Start(argv, options)), group_(options.ownProcessGroup) {}

Child::~Child() {
    if (waited_) return;
    Signal(SIGKILL);  // stopped or not
    Wait();
}

void Child::Signal(int sig) const {
    if (!waited_) ::kill(group_ ? -pid_ : pid_, sig);
}

RunResult Child::Wait() {
    if (waited_) throw std::logic_error("the child was waited for already");
    waited_ = true;
    return bmp2grid::test::Wait(pid_);
}

bool Child::Ended() const {
    if (waited_) return true;
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
}

bool Child::Stopped() const {
    if (waited_) return false;
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WSTOPPED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid_ && info.si_code == CLD_STOPPED;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return true;
}

std::vector<OpenFile> OpenFilesOf(pid_t pid) {
    std::vector<OpenFile> files;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
        // Each step may fail as the process closes a descriptor or ends.
        std::error_code gone;
        const std::string path = std::filesystem::read_symlink(entry.path(), gone).string();
        struct stat st;
        if (gone || ::stat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        files.push_back({path, static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_blocks) * 512,
                         static_cast<std::int64_t>(st.st_blksize)});
    }
    return files;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bmp2grid-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Restore write permission on folders a test locked, so removal works.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace bmp2grid::test
