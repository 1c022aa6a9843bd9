// Interim POSIX definitions of the few folder and console functions the
// batch form needs, until the platform layer's own implementation of
// folders.h lands; that one replaces this file whole.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "folders.h"
#include "platform.h"

namespace bmp2grid::platform {

namespace {

PathKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return PathKind::File;
    if (S_ISDIR(mode)) return PathKind::Folder;
    return PathKind::Other;
}

extern "C" void EndQuietly(int) { ::_exit(0); }

}  // namespace

PathKind KindOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return PathKind::Missing;
    return KindOfMode(st.st_mode);
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<FolderEntry> entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        entries.push_back({name, KindOf(path + "/" + name)});
    }
    ::closedir(dir);
    return entries;
}

bool MakeFolders(const std::string& path) {
    if (KindOf(path) == PathKind::Folder) return true;
    if (path.empty()) return false;
    const std::size_t slash = path.find_last_of('/', path.size() - 2);
    if (slash != std::string::npos && slash > 0) MakeFolders(path.substr(0, slash));
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
    return KindOf(path) == PathKind::Folder;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void EndQuietlyOnInterrupt() {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, EndQuietly);
}

}  // namespace bmp2grid::platform
