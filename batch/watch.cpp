#include "watch.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <memory>
#include <set>
#include <tuple>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics.h"
#include "folders.h"

namespace bmp2grid {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a file must have been left alone before it is converted: after a
// writer closed it or renamed it into place, a moment, for a save that
// ends in several steps; after any other change, long enough that a writer
// still at work would have written again.
constexpr milliseconds kSettleAfterComplete{30};
constexpr milliseconds kSettleOtherwise{1000};
// How long a watch with nothing pending waits in one call.
constexpr milliseconds kIdleWait{60 * 60 * 1000};

#ifdef _WIN32
constexpr std::string_view kSeparators = "/\\";
#else
constexpr std::string_view kSeparators = "/";
#endif

// A path split where a folder watch reports it: its folder, without
// separators at its end, and the entry's name.
struct Place {
    std::string folder;
    std::string name;
    bool operator<(const Place& other) const {
        return std::tie(folder, name) < std::tie(other.folder, other.name);
    }
};

Place PlaceOf(const std::string& path) {
    const std::size_t cut = path.find_last_of(kSeparators);
    return {FolderOf(path), cut == std::string::npos ? path : path.substr(cut + 1)};
}

// The path of a file found in a watched folder.
std::string PathOf(const Place& place) {
    return kSeparators.find(place.folder.back()) != std::string_view::npos ? place.folder + place.name
                                                                            : place.folder + "/" + place.name;
}

// A folder as given, spelled as PlaceOf spells it.
std::string SameFolder(const std::string& folder) { return FolderOf(folder + "/x"); }

// A file that changed and waits to be still.
struct Pending {
    Clock::time_point last;  // its latest change
    bool complete = false;   // a writer finished with it since it was last converted
};

// Where new files found in a folder go: the output folder and the folders
// between the input folder given and it.
struct NewFileRoute {
    bool takesNew = false;
    std::string relative;
};

}  // namespace

class FileWatch::State {
public:
    State(const BatchPlan& plan, const BatchOptions& options, const BatchRules& rules, const ConvertJob& convert,
          WatchObserver& observer)
        : options_(options), rules_(rules), convert_(convert), observer_(observer) {
        for (const BatchJob& job : plan.jobs) AddJob(job);
        for (const std::string& folder : plan.folders) folders_.emplace(SameFolder(folder), NewFileRoute{});
        if (options.batch()) RouteNewFiles(plan);
    }

    bool Start(std::string& unwatchable) {
        for (const auto& [folder, route] : folders_) {
            if (!watch_.Add(folder)) {
                unwatchable = folder;
                return false;
            }
        }
        return true;
    }

    [[noreturn]] void Run() {
        for (;;) {
            const platform::FolderWatch::Changes changes = watch_.Wait(TimeToWait());
            const Clock::time_point now = Clock::now();
            if (changes.rescan) LookAtEverything(now);
            for (const platform::FolderWatch::Change& change : changes.changes) Note(change, now);
            ConvertWhatIsStill(Clock::now());
        }
    }

private:
    void AddJob(const BatchJob& job) {
        const Place place = PlaceOf(job.input);
        jobs_.emplace(place, job);
        outputs_.emplace(job.output, job.input);
        folders_.emplace(place.folder, NewFileRoute{});
        converted_[place] = platform::StampOf(job.input);
    }

    // New files the program takes, in a folder given as an input (and with
    // -r in the folders below it), are converted too, into the output
    // folder at their place.
    void RouteNewFiles(const BatchPlan& plan) {
        for (const std::string& input : options_.inputs) {
            if (platform::KindOf(input) != platform::PathKind::Folder) continue;
            const std::string root = SameFolder(input);
            for (const std::string& given : plan.folders) {
                const std::string folder = SameFolder(given);
                if (folder == root) {
                    folders_[folder] = {true, ""};
                } else if (options_.recursive && folder.size() > root.size() &&
                           folder.compare(0, root.size(), root) == 0 &&
                           kSeparators.find(folder[root.size()]) != std::string_view::npos) {
                    folders_[folder] = {true, folder.substr(root.size() + 1)};
                }
            }
        }
    }

    void Note(const platform::FolderWatch::Change& change, Clock::time_point now) {
        const Place place = PlaceOf(change.path);
        if (jobs_.count(place) == 0 && (Skipped(place.name) || !TakesNewFilesIn(place.folder))) return;
        Pending& pending = pending_[place];
        pending.last = now;
        pending.complete = pending.complete || change.complete;
    }

    bool TakesNewFilesIn(const std::string& folder) const {
        const auto found = folders_.find(folder);
        return found != folders_.end() && found->second.takesNew;
    }

    // After lost events: every job, and every entry of a folder that takes
    // new files, is looked at again.
    void LookAtEverything(Clock::time_point now) {
        for (const auto& [place, job] : jobs_) pending_[place].last = now;
        for (const auto& [folder, route] : folders_) {
            if (!route.takesNew) continue;
            const auto entries = platform::ListFolder(folder);
            if (!entries) continue;
            for (const platform::FolderEntry& entry : *entries) {
                if (entry.kind == platform::PathKind::File && !Skipped(entry.name))
                    pending_[{folder, entry.name}].last = now;
            }
        }
    }

    milliseconds TimeToWait() const {
        if (pending_.empty()) return kIdleWait;
        const Clock::time_point now = Clock::now();
        milliseconds soonest = kIdleWait;
        for (const auto& [place, pending] : pending_) {
            const Clock::time_point due = pending.last + (pending.complete ? kSettleAfterComplete : kSettleOtherwise);
            const auto left = std::chrono::duration_cast<milliseconds>(due - now) + milliseconds(1);
            soonest = std::min(soonest, std::max(left, milliseconds(0)));
        }
        return soonest;
    }

    void ConvertWhatIsStill(Clock::time_point now) {
        std::vector<Place> ready;
        for (const auto& [place, pending] : pending_) {
            if (now - pending.last >= (pending.complete ? kSettleAfterComplete : kSettleOtherwise))
                ready.push_back(place);
        }
        for (const Place& place : ready) {
            const bool complete = pending_[place].complete;
            pending_.erase(place);
            ConvertIfSaved(place, complete);
        }
    }

    // `complete`: a writer finished with it, so it is converted even if it
    // looks as it did (a save within the file system's time resolution
    // that kept the size).
    void ConvertIfSaved(const Place& place, bool complete) {
        auto job = jobs_.find(place);
        const std::string path = job != jobs_.end() ? job->second.input : PathOf(place);
        const platform::FileStamp stamp = platform::StampOf(path);
        if (job == jobs_.end()) {
            // A file new to a folder that takes new files.
            if (!stamp.exists || platform::KindOf(path) != platform::PathKind::File || !rules_.takes(path)) return;
            const NewFileRoute& route = folders_[place.folder];
            BatchJob added{path, BatchOutputPath(*options_.outDir, route.relative, path, rules_.outputExtension)};
            const auto owner = outputs_.find(added.output);
            if (owner != outputs_.end()) {
                // Its output is another input's: refused, as a batch refuses it.
                if (refusedNew_.insert(place).second) {
                    CollectedLines lines;
                    lines.Print(SameOutputMessage(owner->second, path, added.output), LineKind::Failure, false);
                    observer_.Converted(added, false, lines);
                }
                return;
            }
            outputs_.emplace(added.output, added.input);
            job = jobs_.emplace(place, std::move(added)).first;
            converted_[place] = platform::FileStamp{};
        }
        const platform::FileStamp before = converted_[place];
        if (!stamp.exists) {
            // Gone: its map stays. Said once, not on every event.
            if (before.exists) observer_.Removed(job->second);
            converted_[place] = stamp;
            return;
        }
        if (stamp == before && !complete) return;  // nothing new since it was converted
        if (platform::OthersAreWriting(path)) {
            pending_[place].last = Clock::now();
            return;
        }
        // The batch form's output folder, made again if it has been
        // removed since (a folder that can't be made is named by the
        // conversion).
        if (options_.batch()) platform::MakeFolders(FolderOf(job->second.output));
        CollectedLines lines;
        const bool ok = convert_(job->second, lines);
        converted_[place] = stamp;
        observer_.Converted(job->second, ok, lines);
        // Changed while it was read: convert again once it is still.
        if (!(platform::StampOf(path) == stamp)) pending_[place].last = Clock::now();
    }

    const BatchOptions& options_;
    const BatchRules& rules_;
    const ConvertJob& convert_;
    WatchObserver& observer_;
    platform::FolderWatch watch_;
    std::map<std::string, NewFileRoute> folders_;
    std::map<Place, BatchJob> jobs_;
    std::map<Place, platform::FileStamp> converted_;  // each input as it was when last converted
    std::map<Place, Pending> pending_;
    std::map<std::string, std::string> outputs_;  // each output and the input it is converted from
    std::set<Place> refusedNew_;  // new files refused for another input's output, said once
};

FileWatch::FileWatch(const BatchPlan& plan, const BatchOptions& options, const BatchRules& rules,
                     const ConvertJob& convert, WatchObserver& observer)
    : state_(std::make_unique<State>(plan, options, rules, convert, observer)) {}

FileWatch::~FileWatch() = default;

bool FileWatch::Start(std::string& unwatchable) { return state_->Start(unwatchable); }

void FileWatch::Run() { state_->Run(); }

}  // namespace bmp2grid
