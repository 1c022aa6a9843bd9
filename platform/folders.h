// Folders and what is in them, for the programs' batch and watch forms:
// listing a folder, looking at one path, making an output folder, and
// watching folders for saved files. Paths are UTF-8 on every platform.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bmp2grid::platform {

enum class PathKind { Missing, File, Folder, Other };

// What `path` is, symbolic links followed: Missing also when it can't be
// looked at.
PathKind KindOf(const std::string& path);

struct FolderEntry {
    std::string name;  // the entry's own name, without the folder
    PathKind kind = PathKind::Other;  // links followed
};

// The entries of the folder `path` ("." and ".." left out), in no set
// order; none when the folder can't be read.
std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path);

// Makes the folder `path` and any missing folders above it. True when it
// exists as a folder afterwards.
bool MakeFolders(const std::string& path);

// What a file looks like now, to tell whether it has changed: two stamps
// of one unchanged file are equal. A missing file has exists == false.
struct FileStamp {
    bool exists = false;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // last write, in the platform's finest unit
    std::uint64_t identity = 0;  // the file itself (inode; file index): a save by rename changes it
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);

// Whether another process has `path` open for writing, where the platform
// can tell (Windows: opening it with writers shut out fails with a sharing
// violation). False where it can't tell (POSIX).
bool OthersAreWriting(const std::string& path);

// Watches folders for changes to their entries (not their subfolders'
// entries): inotify on Linux, ReadDirectoryChangesW on Windows, and
// elsewhere, or where events can't be had (a network file system, or with
// the environment variable BMP2GRID_WATCH_POLLING set to 1, a testing aid),
// by looking at every entry's stamp at a fixed interval. Waiting uses no
// processor time.
class FolderWatch {
public:
    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Starts watching the folder `folder`, as given (not its subfolders).
    // False when it can't be watched at all (missing, not a folder).
    bool Add(const std::string& folder);

    struct Change {
        // The folder as given to Add(), a separator ('/'), and the entry's name.
        std::string path;
        // The event says a writer has finished with it: closed after
        // writing (Linux), renamed into place, no longer open for writing
        // after it was made or written (Windows, which reports no closing:
        // such an entry is reported again once so), or (polling) unchanged
        // since the previous look. Otherwise it may still be being written.
        bool complete = false;
    };
    struct Changes {
        std::vector<Change> changes;  // an entry may appear more than once
        // Events were lost (the queue overflowed): look at everything again.
        bool rescan = false;
    };

    // Waits until something changed in a watched folder (made, written,
    // closed after writing, renamed in or out, removed, its attributes),
    // or `timeout` has passed (then nothing); returns what changed.
    Changes Wait(std::chrono::milliseconds timeout);

    // Whether this watch looks at stamps at an interval rather than
    // receiving events.
    bool Polling() const;

    struct State;  // platform-specific

private:
    std::unique_ptr<State> state_;
};

}  // namespace bmp2grid::platform
