// Watching folders by looking at their entries' stamps at a fixed
// interval: the FolderWatch of a platform with no events, and of a folder
// whose file system gives none (a network one). Shared by the POSIX and
// Windows implementations of FolderWatch.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "folders.h"

namespace bmp2grid::platform {

// Whether the environment asks every watch to poll (BMP2GRID_WATCH_POLLING=1).
bool PollingRequested();

class PollingWatch {
public:
    // How often the folders are looked at: a save is seen at most this long
    // after it happened, and reported complete one interval later. A look
    // lists each folder and looks at each entry: about a millisecond for a
    // folder of a hundred files, so that four looks a second use no
    // measurable processor time.
    static constexpr std::chrono::milliseconds kInterval{250};

    // Takes the folder's entries as they are now; changes from here on are
    // reported. False when the folder can't be listed.
    bool Add(const std::string& folder);
    bool Empty() const { return folders_.empty(); }

    // How long until the next look is due (zero when it is due now).
    std::chrono::milliseconds UntilDue() const;
    // Looks at every folder if the interval has passed since the last look,
    // adding what changed to `changes`.
    void LookIfDue(FolderWatch::Changes& changes);

private:
    struct Entry {
        FileStamp stamp;
        bool settled = true;  // reported complete since it last changed
    };
    struct Folder {
        std::string path;
        bool listed = true;  // it could be listed at the last look
        std::map<std::string, Entry> entries;
    };
    void Look(Folder& folder, FolderWatch::Changes& changes);

    std::vector<Folder> folders_;
    std::chrono::steady_clock::time_point due_ = std::chrono::steady_clock::now() + kInterval;
};

}  // namespace bmp2grid::platform
