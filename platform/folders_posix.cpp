// POSIX implementation of folders.h: folders and stamps through stat and
// readdir, and a FolderWatch through inotify on Linux (polling elsewhere,
// and for folders inotify can't watch).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/inotify.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>

#include "folders.h"
#include "folders_polling.h"

namespace bmp2grid::platform {
namespace {

PathKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return PathKind::File;
    if (S_ISDIR(mode)) return PathKind::Folder;
    return PathKind::Other;
}

// `path` without the separators it ends in ("/" stays "/").
std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The folder above `path`, or nothing when there is none to make ("/", ".",
// a bare name whose folder is the current one).
std::optional<std::string> ParentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return std::nullopt;
    if (slash == 0) return path.size() > 1 ? std::optional<std::string>("/") : std::nullopt;
    return WithoutTrailingSlashes(path.substr(0, slash));
}

bool MadeOrThere(const std::string& path) {
    return (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) && KindOf(path) == PathKind::Folder;
}

}  // namespace

PathKind KindOf(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return PathKind::Missing;
    return KindOfMode(st.st_mode);
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return std::nullopt;
    std::vector<FolderEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder);
        if (entry == nullptr) break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        PathKind kind;
#ifdef DT_REG
        // The kind the folder holds, when it is not a link (followed below)
        // or unknown to the file system: no stat for each file.
        if (entry->d_type == DT_REG) {
            kind = PathKind::File;
        } else if (entry->d_type == DT_DIR) {
            kind = PathKind::Folder;
        } else
#endif
        {
            struct stat st;
            kind = ::fstatat(::dirfd(folder), name, &st, 0) == 0 ? KindOfMode(st.st_mode) : PathKind::Missing;
        }
        entries.push_back({name, kind});
    }
    const int error = errno;
    ::closedir(folder);
    if (error != 0) return std::nullopt;
    return entries;
}

bool MakeFolders(const std::string& given) {
    if (given.empty()) return false;
    const std::string path = WithoutTrailingSlashes(given);
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    // Made by another process or thread meanwhile: as good as made here.
    if (errno == EEXIST) return KindOf(path) == PathKind::Folder;
    if (errno != ENOENT) return false;
    const std::optional<std::string> parent = ParentOf(path);
    return parent && MakeFolders(*parent) && MadeOrThere(path);
}

FileStamp StampOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return {};
    FileStamp stamp;
    stamp.exists = true;
    stamp.size = static_cast<std::int64_t>(st.st_size);
#ifdef __APPLE__
    const struct timespec& modified = st.st_mtimespec;
#else
    const struct timespec& modified = st.st_mtim;
#endif
    stamp.modified = static_cast<std::int64_t>(modified.tv_sec) * 1000000000 + modified.tv_nsec;
    // The device, spread over the bits, with the inode: the same inode
    // number on two file systems is two files.
    stamp.identity = static_cast<std::uint64_t>(st.st_ino) ^
                     (static_cast<std::uint64_t>(st.st_dev) * 0x9E3779B97F4A7C15ull);
    return stamp;
}

// POSIX has no way to tell whether another process has a file open.
bool OthersAreWriting(const std::string&) { return false; }

namespace {

#ifdef __linux__
// Whether `folder` is on a file system whose changes inotify may not see:
// those made on another machine (NFS, SMB, 9P, AFS, Ceph, Coda) or behind
// a user-space file system (FUSE: sshfs and the like).
bool OnNetworkFileSystem(const std::string& folder) {
    struct statfs fs;
    if (::statfs(folder.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969:      // NFS
        case 0x517B:      // SMB
        case 0xFF534D42:  // CIFS
        case 0xFE534D42:  // SMB2
        case 0x01021997:  // 9P
        case 0x5346414F:  // AFS
        case 0x00C36400:  // Ceph
        case 0x73757245:  // Coda
        case 0x65735546:  // FUSE
            return true;
        default:
            return false;
    }
}
#endif

}  // namespace

struct FolderWatch::State {
    int events = -1;  // the inotify descriptor; -1 when every folder is polled
    std::map<int, std::vector<std::string>> folders;  // by watch descriptor, as given to Add()
    PollingWatch polling;  // the folders inotify can't watch
    // Folders whose watch ended as they went (removed, moved away), as
    // given to Add(): watched again once they are back, looked for at
    // PollingWatch's interval.
    std::vector<std::string> gone;
    std::chrono::steady_clock::time_point lookForGone;
};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {
#ifdef __linux__
    if (!PollingRequested()) state_->events = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
#endif
}

FolderWatch::~FolderWatch() {
    if (state_->events >= 0) ::close(state_->events);
}

namespace {

#ifdef __linux__
constexpr std::uint32_t kEventMask = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                     IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Watches `folder` with inotify, under the name given. False with errno
// set when it can't.
bool WatchWithEvents(FolderWatch::State& s, const std::string& folder) {
    const int watch = ::inotify_add_watch(s.events, folder.c_str(), kEventMask);
    if (watch < 0) return false;
    std::vector<std::string>& names = s.folders[watch];
    if (std::find(names.begin(), names.end(), folder) == names.end()) names.push_back(folder);
    return true;
}
#endif

}  // namespace

bool FolderWatch::Add(const std::string& folder) {
    State& s = *state_;
    if (KindOf(folder) != PathKind::Folder) return false;
#ifdef __linux__
    if (s.events >= 0 && !OnNetworkFileSystem(folder)) {
        if (WatchWithEvents(s, folder)) return true;
        // Out of watches (fs.inotify.max_user_watches) or of kernel memory:
        // this folder is polled. Anything else (gone, not a folder, no
        // permission) is why it can't be watched at all.
        if (errno != ENOSPC && errno != ENOMEM) return false;
    }
#endif
    return s.polling.Add(folder);
}

bool FolderWatch::Polling() const { return state_->events < 0 || !state_->polling.Empty(); }

namespace {

#ifdef __linux__
// Reads every event waiting on the inotify descriptor into `changes`.
void ReadEvents(FolderWatch::State& s, FolderWatch::Changes& changes) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(s.events, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;  // EAGAIN: nothing more waiting
        for (const char* at = buffer; at < buffer + got;) {
            inotify_event event;
            std::memcpy(&event, at, sizeof event);
            const char* name = at + sizeof(inotify_event);
            at += sizeof(inotify_event) + event.len;
            if (event.mask & IN_Q_OVERFLOW) {
                changes.rescan = true;
                continue;
            }
            const auto folder = s.folders.find(event.wd);
            if (folder == s.folders.end()) continue;
            if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                // The folder itself has gone or moved: its path no longer
                // names what is watched. It is watched again once a folder
                // is there by that name.
                if (!(event.mask & IN_IGNORED)) ::inotify_rm_watch(s.events, event.wd);
                if (s.gone.empty()) s.lookForGone = std::chrono::steady_clock::now() + PollingWatch::kInterval;
                for (const std::string& path : folder->second) {
                    if (std::find(s.gone.begin(), s.gone.end(), path) == s.gone.end()) s.gone.push_back(path);
                }
                s.folders.erase(folder);
                changes.rescan = true;
                continue;
            }
            if (event.len == 0 || name[0] == '\0') continue;  // the folder's own attributes
            const bool complete = (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0;
            for (const std::string& path : folder->second) changes.changes.push_back({path + "/" + name, complete});
        }
    }
}

// Watches again the folders that have gone and are back; the caller looks
// at everything in them again.
void LookForGoneFolders(FolderWatch::State& s, FolderWatch::Changes& changes) {
    const auto now = std::chrono::steady_clock::now();
    if (s.gone.empty() || now < s.lookForGone) return;
    s.lookForGone = now + PollingWatch::kInterval;
    for (auto it = s.gone.begin(); it != s.gone.end();) {
        if (KindOf(*it) == PathKind::Folder && WatchWithEvents(s, *it)) {
            changes.rescan = true;
            it = s.gone.erase(it);
        } else {
            ++it;
        }
    }
}
#endif

}  // namespace

FolderWatch::Changes FolderWatch::Wait(std::chrono::milliseconds timeout) {
    State& s = *state_;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::max(timeout, std::chrono::milliseconds{0});
    Changes changes;
    for (;;) {
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        wait = std::max(wait, std::chrono::milliseconds{0});
        if (!s.polling.Empty()) wait = std::min(wait, s.polling.UntilDue());
        if (!s.gone.empty()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(s.lookForGone - Clock::now());
            wait = std::min(wait, std::max(left, std::chrono::milliseconds{0}));
        }
        // poll() with no descriptor sleeps: a polled watch between looks.
        pollfd ready{s.events, POLLIN, 0};
        const int n = ::poll(&ready, s.events >= 0 ? 1 : 0,
                             static_cast<int>(std::min<std::int64_t>(wait.count(), INT_MAX)));
#ifdef __linux__
        if (n > 0 && (ready.revents & POLLIN)) ReadEvents(s, changes);
        LookForGoneFolders(s, changes);
#else
        (void)n;
#endif
        if (!s.polling.Empty()) s.polling.LookIfDue(changes);
        if (!changes.changes.empty() || changes.rescan || Clock::now() >= deadline) return changes;
    }
}

}  // namespace bmp2grid::platform
