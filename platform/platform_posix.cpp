// POSIX implementation of the platform interface (Linux and other Unixes).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
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

// Follows a chain of symbolic links to the path that will actually be
// written. The final target need not exist. Nothing when the links can't be
// resolved: a loop, too long a chain, or a link that can't be read.
std::optional<std::string> ResolveLinks(std::string path) {
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return path;
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) return path;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return std::nullopt;
        std::string next(target, static_cast<std::size_t>(n));
        path = next[0] == '/' ? next : DirectoryOf(path) + "/" + next;
    }
    return std::nullopt;
}

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

}  // namespace

struct InputFile::State {
    int fd = -1;
    bool regular = false;
    std::int64_t size = 0;
};

InputFile::InputFile() : state_(std::make_unique<State>()) {}

InputFile::~InputFile() {
    if (state_->fd >= 0) ::close(state_->fd);
}

ReadStatus InputFile::Open(const std::string& path) {
    State& s = *state_;
    s.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (s.fd < 0) return ReadStatus::CantOpen;
    struct stat st;
    if (::fstat(s.fd, &st) != 0 || S_ISDIR(st.st_mode)) return ReadStatus::CantOpen;
    s.regular = S_ISREG(st.st_mode) && st.st_size >= 0;
    s.size = s.regular ? static_cast<std::int64_t>(st.st_size) : 0;
    return ReadStatus::Ok;
}

bool InputFile::IsRegularFile() const { return state_->regular; }

std::int64_t InputFile::Size() const { return state_->size; }

bool InputFile::ReadAt(std::int64_t offset, std::uint8_t* data, std::size_t size) const {
    while (size > 0) {
        const ssize_t n = ::pread(state_->fd, data, size, static_cast<off_t>(offset));
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
    std::size_t maxNameBytes = NAME_MAX;  // in the target's folder
    bool replaces = false;     // true when the output goes through a temporary file
    bool anonymous = false;    // temporary file made with O_TMPFILE (no name yet)
    bool failed = false;
    bool committed = false;
    bool slowWrites = true;    // false for character devices such as /dev/null
    std::string target;        // the file to replace, symbolic links resolved
    std::string temporary;     // name of a named temporary file
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}

OutputFile::~OutputFile() {
    State& s = *state_;
    if (s.fd >= 0 && s.ownsFd) ::close(s.fd);
    if (!s.committed && !s.temporary.empty()) ::unlink(s.temporary.c_str());
}

OutputFile::OpenStatus OutputFile::Open(const std::string& path) {
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

    // When the output is our own standard output (say /dev/stdout while it is
    // redirected to a file), write through that descriptor so that the map
    // goes where standard output goes, whole.
    struct stat out;
    if (exists && S_ISCHR(st.st_mode)) s.slowWrites = false;
    if (exists && ::fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == st.st_dev &&
        out.st_ino == st.st_ino) {
        std::fflush(stdout);
        s.fd = STDOUT_FILENO;
        s.ownsFd = false;
        return OpenStatus::Ok;
    }

    if (exists && !S_ISREG(st.st_mode)) {
        s.fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        return s.fd >= 0 ? OpenStatus::Ok : OpenStatus::CantOpen;
    }

    // A regular file, or none yet: replace the file that links lead to.
    std::optional<std::string> target = ResolveLinks(path);
    if (!target) return OpenStatus::CantOpen;
    s.target = std::move(*target);
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
        s.fd = ::open(s.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (s.fd < 0) {
            s.temporary.clear();
            if (errno != EEXIST) return OpenStatus::CantOpen;
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

bool OutputFile::WritesToStandardOutput() const { return !state_->ownsFd; }

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
    if (s.anonymous) {
        // Give the unnamed file a temporary name in the folder; the rename
        // below then replaces the target in one step.
        const std::string procPath = "/proc/self/fd/" + std::to_string(s.fd);
        for (int attempt = 0; s.temporary.empty() && attempt < 100; ++attempt) {
            std::string name = TemporaryNameFor(s.target, "/", s.maxNameBytes);
            if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(),
                         AT_SYMLINK_FOLLOW) == 0) {
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
    if (::rename(s.temporary.c_str(), s.target.c_str()) != 0) return false;
    s.committed = true;
    return true;
}

const std::string& StandardInputPath() {
    static const std::string path = "/dev/stdin";
    return path;
}

const std::string& StandardOutputPath() {
    static const std::string path = "/dev/stdout";
    return path;
}

void ReportWriteFailuresAsErrors() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace bmp2grid::platform
