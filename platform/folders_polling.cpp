#include "folders_polling.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

namespace bmp2grid::platform {

bool PollingRequested() {
    const char* value = std::getenv("BMP2GRID_WATCH_POLLING");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

bool PollingWatch::Add(const std::string& folder) {
    const std::optional<std::vector<FolderEntry>> listed = ListFolder(folder);
    if (!listed) return false;
    Folder added{folder, true, {}};
    for (const FolderEntry& entry : *listed) added.entries[entry.name] = {StampOf(folder + "/" + entry.name), true};
    folders_.push_back(std::move(added));
    return true;
}

std::chrono::milliseconds PollingWatch::UntilDue() const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_ - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds{0});
}

void PollingWatch::LookIfDue(FolderWatch::Changes& changes) {
    const auto now = std::chrono::steady_clock::now();
    if (now < due_) return;
    for (Folder& folder : folders_) Look(folder, changes);
    // The next look is an interval after this one ended, however long the
    // caller took to ask: looks never come closer together than that.
    due_ = std::chrono::steady_clock::now() + kInterval;
}

void PollingWatch::Look(Folder& folder, FolderWatch::Changes& changes) {
    const std::optional<std::vector<FolderEntry>> listed = ListFolder(folder.path);
    if (!listed) {
        // The folder has gone (or can't be read): every entry is gone with
        // it, and the caller looks at everything again.
        if (folder.listed) changes.rescan = true;
        folder.listed = false;
        for (const auto& [name, entry] : folder.entries) changes.changes.push_back({folder.path + "/" + name, false});
        folder.entries.clear();
        return;
    }
    folder.listed = true;
    std::set<std::string> present;
    for (const FolderEntry& listedEntry : *listed) {
        present.insert(listedEntry.name);
        const std::string path = folder.path + "/" + listedEntry.name;
        const FileStamp stamp = StampOf(path);
        const auto known = folder.entries.find(listedEntry.name);
        if (known == folder.entries.end()) {
            folder.entries[listedEntry.name] = {stamp, false};
            changes.changes.push_back({path, false});
        } else if (!(known->second.stamp == stamp)) {
            known->second = {stamp, false};
            changes.changes.push_back({path, false});
        } else if (!known->second.settled) {
            // The same on two looks in a row: the writer has stopped.
            known->second.settled = true;
            changes.changes.push_back({path, true});
        }
    }
    for (auto it = folder.entries.begin(); it != folder.entries.end();) {
        if (present.count(it->first) != 0) {
            ++it;
            continue;
        }
        changes.changes.push_back({folder.path + "/" + it->first, false});
        it = folder.entries.erase(it);
    }
}

}  // namespace bmp2grid::platform
