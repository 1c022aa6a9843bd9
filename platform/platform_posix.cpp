// POSIX implementation of the platform interface (Linux and other Unixes).
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#ifdef __APPLE__
#include <sys/random.h>  // getentropy
#endif
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"
#include "platform_common.h"

namespace bmp2grid::platform {
namespace {

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The path a chain of symbolic links leads to, or why it leads nowhere.
struct ResolvedPath {
    std::string path;  // the path that will be written (it need not exist)
    int error = 0;     // when not 0, the errno value saying why the links can't be resolved
};

// Follows a chain of symbolic links to the path that will actually be
// written. The final target need not exist. Links that can't be resolved
// (a loop, too long a chain, a link that can't be read) or a path that can't
// be looked up give an error.
ResolvedPath ResolveLinks(std::string path) {
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return {path, 0};
            return {{}, errno};
        }
        if (!S_ISLNK(st.st_mode)) return {path, 0};
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n < 0) return {{}, errno};
        if (n == 0 || static_cast<std::size_t>(n) >= sizeof target) return {{}, ENAMETOOLONG};
        std::string next(target, static_cast<std::size_t>(n));
        path = next[0] == '/' ? next : DirectoryOf(path) + "/" + next;
    }
    return {{}, ELOOP};
}

// Whether looking a path up failed in a way no later attempt can mend: a
// name longer than the file system takes, or links that can't be resolved.
bool NeverResolves(int error) { return error == ENAMETOOLONG || error == ELOOP; }

// The longest file name the file system holding `folder` takes.
std::size_t MaxNameBytes(const std::string& folder) {
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
}

#ifdef O_TMPFILE
// The testing aid that makes the output take the named temporary file.
bool NamedTemporaryRequested() {
    const char* value = std::getenv("BMP2GRID_NAMED_TEMPORARY");
    return value != nullptr && std::strcmp(value, "1") == 0;
}
#endif

// Asks for huge pages under a large buffer: reading a big picture into 4 KiB
// pages costs one page fault per page, a measurable share of a conversion.
void AdviseHugePages(std::uint8_t* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
    if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

// Whether descriptor 1 is open for writing. Only then is it standard
// output: a descriptor opened for reading there (standard output was closed
// and a file took its number, or `1<file`) is not.
bool StandardOutputIsWritable() {
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    return flags >= 0 && ((flags & O_ACCMODE) == O_WRONLY || (flags & O_ACCMODE) == O_RDWR);
}

// The named temporary files that exist now, which SIGINT, SIGTERM and
// SIGHUP remove before they end the process. Several outputs may each hold
// one at once (the batch form converts on several threads), so each name has
// a slot of its own: claimed by compare-exchange, named and its file made
// (kMaking) with those signals held back on the thread making it, then
// kNamed until the file is renamed or removed. The handler reads the slots
// with async-signal-safe calls only, on whichever thread the signal lands
// (never one making a file), and waits for a file being made to be made.
// The names are kept apart from the states so that looking at every state
// touches little memory.
constexpr int kRemovalSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSlots = 256;
enum SlotState : int { kFree, kMaking, kNamed, kRemoving };
std::atomic<int> slotStates[kSlots];
char slotNames[kSlots][PATH_MAX];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slot states");
// Set by EndQuietlyOnInterrupt(): the handlers end the process with status 0.
std::atomic<bool> endQuietly{false};
// Set by the handler as it starts: the process is ending. No handler is
// installed again (the signal's default action, put back by the handler,
// must end it) and no temporary file is made any more.
std::atomic<bool> ending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs lock-free flags");

void RemovePendingTemporaries(int sig) {
    ending.store(true);
    for (int i = 0; i < kSlots; ++i) {
        // Taken from the thread that named it, which then leaves it alone:
        // removed once, never while its file is being made. Making one takes
        // a system call; it is waited for up to a second.
        for (int wait = 0; slotStates[i].load() == kMaking && wait < 10000; ++wait) {
            const struct timespec pause {0, 100000};
            ::nanosleep(&pause, nullptr);
        }
        int named = kNamed;
        if (slotStates[i].compare_exchange_strong(named, kRemoving)) ::unlink(slotNames[i]);
    }
    if (endQuietly.load()) ::_exit(0);
    // End the process as the signal would have: it is delivered again, with
    // its default action, as soon as this handler returns.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(sig, &byDefault, nullptr);
    ::raise(sig);
}

// Installs the handler for the signals the process does not ignore (a
// program started by nohup keeps ignoring SIGHUP). Looked at each time, not
// once: three system calls, little next to making a file, and a signal put
// back to its default action since (as a forked child may do) is handled
// again.
void InstallRemovalHandlers() {
    if (ending.load()) return;
    struct sigaction handler {};
    handler.sa_handler = RemovePendingTemporaries;
    sigemptyset(&handler.sa_mask);
    for (const int sig : kRemovalSignals) sigaddset(&handler.sa_mask, sig);
    handler.sa_flags = SA_RESTART;
    for (const int sig : kRemovalSignals) {
        struct sigaction current;
        if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN &&
            current.sa_handler != RemovePendingTemporaries)
            ::sigaction(sig, &handler, nullptr);
    }
}

// SIGINT, SIGTERM and SIGHUP held back on this thread for the object's life.
class RemovalSignalsHeld {
public:
    RemovalSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int sig : kRemovalSignals) sigaddset(&held, sig);
        ::pthread_sigmask(SIG_BLOCK, &held, &before_);
    }
    ~RemovalSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    RemovalSignalsHeld(const RemovalSignalsHeld&) = delete;
    RemovalSignalsHeld& operator=(const RemovalSignalsHeld&) = delete;

private:
    sigset_t before_;
};

// Claims a slot for `name` (kMaking). When every slot is taken (as many
// outputs open at once as there are slots), it waits for one to be freed, a
// millisecond at a time; after ten seconds it gives up (-1).
int ClaimSlot(const std::string& name) {
    for (int wait = 0; wait <= 10000; ++wait) {
        for (int i = 0; i < kSlots; ++i) {
            int free = kFree;
            if (!slotStates[i].compare_exchange_strong(free, kMaking)) continue;
            std::memcpy(slotNames[i], name.c_str(), name.size() + 1);
            return i;
        }
        const struct timespec millisecond {0, 1000000};
        ::nanosleep(&millisecond, nullptr);
    }
    return -1;
}

// Makes the temporary file `name` with `make` (true when made, errno saying
// why not), its name in a slot for the signal handler. SIGINT, SIGTERM and
// SIGHUP are held back on this thread meanwhile, so that a handler never
// runs between the file being made and its slot saying so; once a handler
// has begun (on another thread) no file is made: this thread waits for the
// process to end. Returns the slot, or -1 with errno set when the file was
// not made (EEXIST when the name is taken; ENAMETOOLONG when the name is too
// long to hold, so no file could be made there; EAGAIN when no slot was
// freed in time).
template <class Make>
int MakePendingTemporary(const std::string& name, Make make) {
    if (name.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    InstallRemovalHandlers();
    const RemovalSignalsHeld held;
    int slot = ClaimSlot(name);
    int error = EAGAIN;
    if (slot >= 0) {
        if (ending.load()) {
            slotStates[slot].store(kFree);
            for (;;) ::pause();  // held back: only the process's end wakes it
        }
        const bool made = make();
        error = errno;
        slotStates[slot].store(made ? kNamed : kFree);
        if (!made) slot = -1;
    }
    if (slot < 0) errno = error;
    return slot;
}

// Renames the named temporary file in `slot` over `target`, the slot
// kMaking meanwhile with the signals held back: a handler on another thread
// waits for the rename instead of removing the file under it, and the slot
// is freed once renamed. A slot the handler has taken already means the
// process is ending: this thread waits for its end rather than report a
// rename that failed because of it.
bool RenamePendingTemporary(int& slot, const std::string& temporary, const std::string& target) {
    const RemovalSignalsHeld held;
    int named = kNamed;
    if (!slotStates[slot].compare_exchange_strong(named, kMaking)) {
        for (;;) ::pause();  // held back: only the process's end wakes it
    }
    const bool renamed = ::rename(temporary.c_str(), target.c_str()) == 0;
    slotStates[slot].store(renamed ? kFree : kNamed);
    if (renamed) slot = -1;
    return renamed;
}

// Called once the named temporary file in `slot` is gone: renamed, removed,
// or never made. A slot the handler has taken stays its: the process is
// ending.
void ClearPendingTemporary(int& slot) {
    if (slot < 0) return;
    int named = kNamed;
    slotStates[slot].compare_exchange_strong(named, kFree);
    slot = -1;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Frees the blocks allocated past the end of a file, where the file system
// lets it, and leaves its bytes alone. Growing it by a byte first makes the
// truncation a shrinking one, which every file system answers by freeing
// what lies past the new end. Returns false only if the file may no longer
// hold exactly its bytes (it grew and could not be cut back); space that
// can't be handed back is not a failure.
bool HandBackUnusedSpace(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return true;
    int grown;
    while ((grown = ::ftruncate(fd, st.st_size + 1)) != 0 && errno == EINTR) {
    }
    int cut;
    while ((cut = ::ftruncate(fd, st.st_size)) != 0 && errno == EINTR) {
    }
    return grown != 0 || cut == 0;
}

}  // namespace

struct InputFile::State {
    int fd = -1;
    bool regular = false;
    std::int64_t start = 0;  // where a regular file stood when opened (standard input read part-way)
    std::int64_t size = 0;   // its bytes from there on
};

InputFile::InputFile() : state_(std::make_unique<State>()) {}

InputFile::~InputFile() {
    if (state_->fd >= 0) ::close(state_->fd);
}

ReadStatus InputFile::Open(const std::string& path) {
    State& s = *state_;
    // Standard input is descriptor 0 as it stands, whatever it is: reopened
    // by its name, a socket can't be opened at all and a file that a shell
    // has read part-way would be read from its start. A copy of it is read,
    // so that closing this file leaves standard input open.
    s.fd = path == StandardInputPath() ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                       : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (s.fd < 0) return ReadStatus::CantOpen;
    struct stat st;
    if (::fstat(s.fd, &st) != 0 || S_ISDIR(st.st_mode)) return ReadStatus::CantOpen;
    s.regular = S_ISREG(st.st_mode) && st.st_size >= 0;
    if (s.regular) {
        // A file is read from where it stands: its start, unless it is
        // standard input and has been read part-way before.
        const off_t at = ::lseek(s.fd, 0, SEEK_CUR);
        s.start = at > 0 ? static_cast<std::int64_t>(at) : 0;
        s.size = std::max<std::int64_t>(0, static_cast<std::int64_t>(st.st_size) - s.start);
    }
    return ReadStatus::Ok;
}

bool InputFile::IsRegularFile() const { return state_->regular; }

std::int64_t InputFile::Size() const { return state_->size; }

bool InputFile::ReadAt(std::int64_t offset, std::uint8_t* data, std::size_t size) const {
    while (size > 0) {
        const ssize_t n = ::pread(state_->fd, data, size, static_cast<off_t>(state_->start + offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

long long InputFile::Read(std::uint8_t* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(state_->fd, data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

ReadStatus InputFile::ReadToEnd(ByteBuffer& contents) {
    const State& s = *state_;
    // For a regular file one byte more than its size lets the first read take
    // everything and the second confirm the end without growing the buffer.
    const std::size_t capacity = s.regular ? static_cast<std::size_t>(s.size) + 1 : 64 * 1024;
    if (s.regular && contents.Reserve(capacity)) AdviseHugePages(contents.data(), contents.capacity());
    return ReadUntilEnd(contents, capacity,
                        [this](std::uint8_t* to, std::size_t room) { return Read(to, room); });
}

struct OutputFile::State {
    int fd = -1;
    bool ownsFd = true;        // false when writing through standard output
    bool standardOutput = false;  // the target is where standard output goes
    std::size_t maxNameBytes = NAME_MAX;  // in the target's folder
    bool replaces = false;     // true when the output goes through a temporary file
    bool anonymous = false;    // temporary file made with O_TMPFILE (no name yet)
    bool failed = false;
    bool committed = false;
    bool slowWrites = true;    // false for character devices such as /dev/null
    bool reserved = false;     // space set aside past the end by Reserve()
    std::string target;        // the file to replace, symbolic links resolved
    std::string temporary;     // name of a named temporary file
    int pendingSlot = -1;      // its slot for the signal handler
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}

OutputFile::~OutputFile() {
    State& s = *state_;
    if (s.fd >= 0 && s.ownsFd) ::close(s.fd);
    if (!s.committed && !s.temporary.empty()) {
        ::unlink(s.temporary.c_str());
        ClearPendingTemporary(s.pendingSlot);
    }
}

OutputFile::OpenStatus OutputFile::Open(const std::string& path, Targets targets) {
    State& s = *state_;
    if (path.empty()) return OpenStatus::CantOpen;

    // Devices, FIFOs and the console are looked at through the path as given:
    // links such as /dev/stdout lead to names that are not real paths.
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    // Anything but a missing file (or a link to one) can't be written: a
    // link loop, a name too long, a folder that can't be searched.
    if (!exists && errno != ENOENT) return OpenStatus::CantOpen;
    if (exists && S_ISDIR(st.st_mode)) return OpenStatus::CantOpen;
    if (exists && S_ISCHR(st.st_mode)) s.slowWrites = false;

    // The output may be our own standard output: /dev/stdout, or the file
    // standard output is redirected to, by any path. Unless that is a file
    // with contents, write through standard output, so that the map goes
    // where it goes, whole: a pipe, a terminal, a device, or the empty file
    // a shell's `>` leaves. A file with contents (`>>`, `1<>`) is replaced
    // as any file is: written through, the map would be added to it or
    // written over its start only.
    struct stat out;
    s.standardOutput = exists && StandardOutputIsWritable() && ::fstat(STDOUT_FILENO, &out) == 0 &&
                       out.st_dev == st.st_dev && out.st_ino == st.st_ino;
    if (s.standardOutput && (!S_ISREG(out.st_mode) || out.st_size == 0)) {
        if (targets == Targets::ReplacedOnly) return OpenStatus::Direct;
        std::fflush(stdout);
        s.fd = STDOUT_FILENO;
        s.ownsFd = false;
        return OpenStatus::Ok;
    }

    if (exists && !S_ISREG(st.st_mode)) {
        if (targets == Targets::ReplacedOnly) return OpenStatus::Direct;
        s.fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        return s.fd >= 0 ? OpenStatus::Ok : OpenStatus::CantOpen;
    }

    // A regular file, or none yet: replace the file that links lead to.
    ResolvedPath target = ResolveLinks(path);
    if (target.error != 0) return OpenStatus::CantOpen;
    // It must be the file looked at above: a link such as /dev/stdout to a
    // file that has been deleted leads to a name that is no longer its own.
    struct stat resolved;
    if (exists && (::stat(target.path.c_str(), &resolved) != 0 || resolved.st_dev != st.st_dev ||
                   resolved.st_ino != st.st_ino))
        return OpenStatus::CantOpen;
    s.target = std::move(target.path);
    s.replaces = true;
    const std::string folder = DirectoryOf(s.target);
    // Checked now: an unnamed temporary file gets its name only in Commit().
    s.maxNameBytes = MaxNameBytes(folder);
    if (FileNameOf(s.target, "/").size() > s.maxNameBytes) return OpenStatus::CantOpen;
#ifdef O_TMPFILE
    // An unnamed file disappears by itself if the process dies before Commit().
    if (!NamedTemporaryRequested()) {
        s.fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (s.fd >= 0) {
            s.anonymous = true;
        } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return OpenStatus::CantOpen;
        }
    }
#endif
    for (int attempt = 0; s.fd < 0 && attempt < 100; ++attempt) {
        s.temporary = TemporaryNameFor(s.target, "/", s.maxNameBytes);
        s.pendingSlot = MakePendingTemporary(s.temporary, [&s] {
            s.fd = ::open(s.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return s.fd >= 0;
        });
        if (s.pendingSlot < 0) {
            const int error = errno;
            s.temporary.clear();
            if (error != EEXIST) return OpenStatus::CantOpen;
        }
    }
    if (s.fd < 0) return OpenStatus::CantOpen;
    if (exists) {
        // The replacement keeps the permission bits and, where allowed, the
        // owner of the file it replaces.
        ::fchmod(s.fd, st.st_mode & 07777);
        if (::fchown(s.fd, st.st_uid, st.st_gid) != 0) {
            // Only privileged users may give a file away; keeping our own
            // ownership is the expected outcome otherwise.
        }
    }
    return OpenStatus::Ok;
}

bool OutputFile::Write(const char* data, std::size_t size) {
    State& s = *state_;
    if (s.failed || s.fd < 0) return false;
    if (!WriteAll(s.fd, data, size)) s.failed = true;
    return !s.failed;
}

bool OutputFile::OverlapsWork() const { return state_->slowWrites; }

void OutputFile::Reserve(std::int64_t size) {
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
    // Blocks allocated ahead make each write cheaper than the delayed
    // allocation of every page as it is written: about a third less kernel
    // time on ext4. KEEP_SIZE leaves the file's length alone, so the bytes
    // are written just as they would have been.
    State& s = *state_;
    if (s.failed || s.fd < 0 || !s.replaces || size <= 0) return;
    const off_t end = ::lseek(s.fd, 0, SEEK_CUR);  // the bytes written so far
    if (end < 0) return;
    s.reserved = ::fallocate(s.fd, FALLOC_FL_KEEP_SIZE, end, static_cast<off_t>(size)) == 0;
    // Not supported, or not room for all of it. A file system may keep what
    // it managed to allocate; that is handed back at once, so that a map
    // that fits in the space left is still written.
    if (!s.reserved && errno != EOPNOTSUPP && errno != ENOSYS && !HandBackUnusedSpace(s.fd)) s.failed = true;
#else
    (void)size;
#endif
}

bool OutputFile::SetSize(std::int64_t size) {
    State& s = *state_;
    if (s.failed || s.fd < 0 || !s.replaces) return false;
    while (::ftruncate(s.fd, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR) {
            s.failed = true;
            return false;
        }
    }
    return true;
}

bool OutputFile::WriteAt(std::int64_t offset, const char* data, std::size_t size) {
    State& s = *state_;
    if (s.failed || s.fd < 0 || !s.replaces) return false;
    while (size > 0) {
        const ssize_t n = ::pwrite(s.fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            s.failed = true;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool OutputFile::SharesStandardOutput() const { return state_->standardOutput; }

bool OutputFile::Commit() {
    State& s = *state_;
    if (s.failed || s.fd < 0) return false;
    if (!s.replaces) {
        if (!s.ownsFd) return true;
        const int fd = s.fd;
        s.fd = -1;
        s.committed = ::close(fd) == 0;
        return s.committed;
    }
    // The space set aside but not used is not kept with the map.
    if (s.reserved && !HandBackUnusedSpace(s.fd)) return false;
    if (s.anonymous) {
        // Give the unnamed file a temporary name in the folder; the rename
        // below then replaces the target in one step.
        const std::string procPath = "/proc/self/fd/" + std::to_string(s.fd);
        for (int attempt = 0; s.temporary.empty() && attempt < 100; ++attempt) {
            std::string name = TemporaryNameFor(s.target, "/", s.maxNameBytes);
            s.pendingSlot = MakePendingTemporary(name, [&] {
                return ::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
            });
            if (s.pendingSlot >= 0) {
                s.temporary = name;
            } else if (errno != EEXIST) {
                return false;
            }
        }
        if (s.temporary.empty()) return false;
    }
    const int fd = s.fd;
    s.fd = -1;
    if (::close(fd) != 0) return false;
    if (!RenamePendingTemporary(s.pendingSlot, s.temporary, s.target)) return false;
    s.committed = true;
    return true;
}

void KeepStandardStreamsOpen() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor: `fd` itself, as those below it are open.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

bool SameExistingFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool OutputPathIsPossible(const std::string& path) {
    if (path.empty()) return true;  // refused by OutputFile::Open in its turn
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return true;  // a device, a FIFO, a folder: for Open
    } else if (NeverResolves(errno)) {
        return false;
    }
    const ResolvedPath target = ResolveLinks(path);
    if (target.error != 0) return !NeverResolves(target.error);
    return FileNameOf(target.path, "/").size() <= MaxNameBytes(DirectoryOf(target.path));
}

const std::string& StandardInputPath() {
    static const std::string path = "/dev/stdin";
    return path;
}

const std::string& StandardOutputPath() {
    static const std::string path = "/dev/stdout";
    return path;
}

std::uint64_t RandomSeed() {
    std::uint64_t seed = 0;
    if (::getentropy(&seed, sizeof seed) != 0) {
        // No entropy to be had: the process id and where the stack lies
        // still differ from run to run; a name that is taken is tried again.
        seed = static_cast<std::uint64_t>(::getpid()) ^ reinterpret_cast<std::uintptr_t>(&seed);
    }
    return seed;
}

void ReportWriteFailuresAsErrors() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void EndQuietlyOnInterrupt() {
    endQuietly.store(true);
    InstallRemovalHandlers();
}

void PrintToConsole(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void PrintToErrorConsole(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace bmp2grid::platform
