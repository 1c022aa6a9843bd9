#include "batch_plan.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "folders.h"
#include "platform.h"

namespace bmp2grid {

namespace {

#ifdef _WIN32
// Windows takes both separators, and its file names are case-insensitive.
constexpr std::string_view kSeparators = "/\\";
constexpr bool kNamesIgnoreCase = true;
#else
constexpr std::string_view kSeparators = "/";
constexpr bool kNamesIgnoreCase = false;
#endif

// What a temporary output file's name holds (see platform.h's OutputFile):
// never an input, even when its name doesn't start with a dot.
constexpr std::string_view kTemporaryTag = ".bmp2grid-tmp-";

bool IsSeparator(char c) { return kSeparators.find(c) != std::string_view::npos; }

// `folder`, a separator unless it ends in one, and `name`.
std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return IsSeparator(folder.back()) ? folder + name : folder + "/" + name;
}


// `path` spelled one way for comparing: empty and "." folders dropped,
// separators made '/', and on Windows ASCII letters in lower case. ".." is
// kept as it is: a symbolic link makes "a/b/.." something else than "a".
std::string ComparableForm(const std::string& path) {
    std::string form;
    std::size_t start = 0;
    if (!path.empty() && IsSeparator(path.front())) form.push_back('/');
    while (start <= path.size()) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        const std::string_view part = std::string_view(path).substr(start, end - start);
        if (!part.empty() && part != ".") {
            if (!form.empty() && form.back() != '/') form += '/';
            form += part;
        }
        start = end + 1;
    }
    if (form.empty()) form.push_back('.');
    if (kNamesIgnoreCase) {
        for (char& c : form) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return form;
}

}  // namespace

bool Skipped(const std::string& name) {
    return name.empty() || name.front() == '.' || name.back() == '~' || name.find(kTemporaryTag) != std::string::npos;
}

std::string FolderOf(const std::string& path) {
    std::size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
    if (cut == 0) return ".";
    // Keep a root's separator ("/a.bmp" is in "/"), drop any other's.
    std::size_t end = cut;
    while (end > 1 && IsSeparator(path[end - 1])) --end;
    return path.substr(0, end);
}

namespace {

// "a/b/" for "a/b/c/": the folders above the last one of `relative`.
std::string ParentOf(const std::string& relative) {
    const std::size_t cut = relative.empty() ? std::string::npos : relative.rfind('/', relative.size() - 2);
    return cut == std::string::npos ? std::string() : relative.substr(0, cut + 1);
}

struct Found {
    std::string input;
    std::string relative;  // the folders below the folder input, each followed by '/'
};

// Collects the files `rules` takes in `folder` (and, when `recursive`, in
// every folder below it), each folder's entries in the order of their
// names. A folder that can't be read is kept as an input, so that its
// conversion names it. A folder that is one of those it is in (a symbolic
// link back up) is not entered again.
class FolderWalk {
public:
    FolderWalk(const BatchRules& rules, bool recursive, std::vector<Found>& found, std::vector<std::string>& folders)
        : rules_(rules), recursive_(recursive), found_(found), folders_(folders) {}

    void Walk(const std::string& folder, const std::string& relative) {
        for (const std::string& above : stack_) {
            if (platform::SameExistingFile(above, folder)) return;
        }
        std::optional<std::vector<platform::FolderEntry>> entries = platform::ListFolder(folder);
        if (!entries) {
            found_.push_back({folder, ParentOf(relative)});
            return;
        }
        folders_.push_back(folder);
        std::sort(entries->begin(), entries->end(),
                  [](const platform::FolderEntry& a, const platform::FolderEntry& b) { return a.name < b.name; });
        stack_.push_back(folder);
        for (const platform::FolderEntry& entry : *entries) {
            if (Skipped(entry.name)) continue;
            const std::string path = Join(folder, entry.name);
            if (entry.kind == platform::PathKind::File) {
                if (rules_.takes(path)) found_.push_back({path, relative});
            } else if (entry.kind == platform::PathKind::Folder && recursive_) {
                Walk(path, relative + entry.name + "/");
            }
        }
        stack_.pop_back();
    }

private:
    const BatchRules& rules_;
    const bool recursive_;
    std::vector<Found>& found_;
    std::vector<std::string>& folders_;
    std::vector<std::string> stack_;
};

}  // namespace

std::string BatchOutputPath(const std::string& outDir, const std::string& relative, const std::string& input,
                            const std::string& extension) {
    std::size_t nameStart = input.size();
    while (nameStart > 0 && !IsSeparator(input[nameStart - 1])) --nameStart;
    std::string name = input.substr(nameStart);
    // The last extension: from the last dot, unless that starts the name.
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    std::string folder = relative;
    if (!folder.empty() && !IsSeparator(folder.back())) folder += '/';
    return Join(outDir, folder + name + "." + extension);
}

BatchPlan PlanBatch(const BatchOptions& options, const BatchRules& rules) {
    BatchPlan plan;
    const std::string outDir = options.outDir.value_or(".");
    const platform::PathKind outKind = platform::KindOf(outDir);
    // An empty DIR (an unset variable) names no folder: not the current one.
    if (outDir.empty() || outKind == platform::PathKind::File || outKind == platform::PathKind::Other) {
        plan.error = PlanError::OutDirIsAFile;
        plan.path = outDir;
        return plan;
    }

    if (options.watch && std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end()) {
        plan.error = PlanError::WatchesStandardInput;
        plan.path.assign(1, '-');
        return plan;
    }

    std::vector<Found> found;
    std::vector<std::string> folders;
    std::string folderInputs;  // named by NoInputs
    FolderWalk walk(rules, options.recursive, found, folders);
    for (const std::string& input : options.inputs) {
        if (platform::KindOf(input) == platform::PathKind::Folder) {
            walk.Walk(input, "");
            folderInputs += (folderInputs.empty() ? "" : ", ") + input;
        } else {
            found.push_back({input, ""});
            folders.push_back(FolderOf(input));
        }
    }

    // The same input (as spelled alike) is one job: the first place it was
    // named gives its output.
    std::unordered_set<std::string> inputs;
    std::unordered_map<std::string, std::size_t> outputs;  // comparable form -> job
    for (const Found& file : found) {
        if (!inputs.insert(ComparableForm(file.input)).second) continue;
        BatchJob job{file.input, BatchOutputPath(outDir, file.relative, file.input, rules.outputExtension)};
        const auto [at, added] = outputs.emplace(ComparableForm(job.output), plan.jobs.size());
        if (!added) {
            const BatchJob& first = plan.jobs[at->second];
            // One file by two paths is one job too; two files are refused.
            if (platform::SameExistingFile(first.input, job.input)) continue;
            plan.error = PlanError::SameOutput;
            plan.path = first.input;
            plan.otherPath = job.input;
            plan.output = job.output;
            plan.jobs.clear();
            return plan;
        }
        plan.jobs.push_back(std::move(job));
    }

    std::unordered_set<std::string> watched;
    for (std::string& folder : folders) {
        if (watched.insert(ComparableForm(folder)).second) plan.folders.push_back(std::move(folder));
    }
    if (plan.jobs.empty() && !options.watch) {
        plan.error = PlanError::NoInputs;
        plan.path = folderInputs;
    }
    return plan;
}

BatchPlan PlanSingleWatch(const BatchJob& single) {
    BatchPlan plan;
    if (single.input == "-") {
        plan.error = PlanError::WatchesStandardInput;
        plan.path = single.input;
        return plan;
    }
    plan.jobs.push_back(single);
    plan.folders.push_back(FolderOf(single.input));
    return plan;
}

}  // namespace bmp2grid
