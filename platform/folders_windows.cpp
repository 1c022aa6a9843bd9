// Windows implementation of folders.h: folders and stamps through the wide
// file functions, and a FolderWatch through ReadDirectoryChangesW (polling
// for folders it can't watch).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "folders.h"
#include "folders_polling.h"
#include "windows_text.h"

namespace bmp2grid::platform {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr std::string_view kSeparators = "\\/";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// `path` without the separators it ends in, but for a root's ("C:\", "\").
std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && IsSeparator(path.back()) && path[path.size() - 2] != ':') path.pop_back();
    return path;
}

// The folder above `path`, or nothing when there is none to make (a root,
// a drive, a bare name whose folder is the current one).
std::optional<std::string> ParentOf(const std::string& path) {
    const std::size_t cut = path.find_last_of(kSeparators);
    if (cut == std::string::npos) return std::nullopt;
    std::string parent = path.substr(0, cut);
    while (!parent.empty() && IsSeparator(parent.back())) parent.pop_back();
    if (parent.empty() || parent.back() == ':') return std::nullopt;
    return parent;
}

// The path opened to be looked at, links followed, with no access to its
// contents: it shuts no reader or writer out. A folder opens too.
HANDLE OpenToLookAt(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

PathKind KindOf(const std::string& path) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide || wide->empty()) return PathKind::Missing;
    const HANDLE h = OpenToLookAt(*wide);
    if (h == INVALID_HANDLE_VALUE) return PathKind::Missing;
    PathKind kind = PathKind::Other;  // a device
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info))
        kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
    ::CloseHandle(h);
    return kind;
}

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& path) {
    if (path.empty()) return std::nullopt;
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide) return std::nullopt;
    std::wstring pattern = *wide;
    if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                             FIND_FIRST_EX_LARGE_FETCH);
    std::vector<FolderEntry> entries;
    if (search == INVALID_HANDLE_VALUE) {
        // A drive's root has no "." or "..": empty, it has nothing at all.
        if (::GetLastError() == ERROR_FILE_NOT_FOUND && KindOf(path) == PathKind::Folder) return entries;
        return std::nullopt;
    }
    bool ended = false;
    for (;;) {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") {
            FolderEntry entry{Utf8FromWide(name), PathKind::File};
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                entry.kind = KindOf(WithoutTrailingSeparators(path) + "/" + entry.name);  // a link, followed
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                entry.kind = PathKind::Folder;
            }
            entries.push_back(std::move(entry));
        }
        if (!::FindNextFileW(search, &found)) {
            ended = ::GetLastError() == ERROR_NO_MORE_FILES;
            break;
        }
    }
    ::FindClose(search);
    if (!ended) return std::nullopt;
    return entries;
}

bool MakeFolders(const std::string& given) {
    if (given.empty()) return false;
    const std::string path = WithoutTrailingSeparators(given);
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide) return false;
    if (::CreateDirectoryW(wide->c_str(), nullptr)) return true;
    // There already (made by another process or thread meanwhile, or a
    // share's root, which can't be made): as good as made here.
    if (::GetLastError() != ERROR_PATH_NOT_FOUND) return KindOf(path) == PathKind::Folder;
    const std::optional<std::string> parent = ParentOf(path);
    if (!parent || !MakeFolders(*parent)) return false;
    return ::CreateDirectoryW(wide->c_str(), nullptr) || KindOf(path) == PathKind::Folder;
}

FileStamp StampOf(const std::string& path) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide || wide->empty()) return {};
    const HANDLE h = OpenToLookAt(*wide);
    if (h == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    if (!known) return {};
    FileStamp stamp;
    stamp.exists = true;
    stamp.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // In 100-nanosecond units.
    stamp.modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                               info.ftLastWriteTime.dwLowDateTime);
    // The volume, spread over the bits, with the file's index on it.
    stamp.identity = ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) ^
                     (static_cast<std::uint64_t>(info.dwVolumeSerialNumber) * 0x9E3779B97F4A7C15ull);
    return stamp;
}

bool OthersAreWriting(const std::string& path) {
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide || wide->empty()) return false;
    // Opening it with writers shut out fails while one has it open.
    const HANDLE h = ::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
    ::CloseHandle(h);
    return false;
}

namespace {

constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE |
                          FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_CREATION | FILE_NOTIFY_CHANGE_ATTRIBUTES;
// What one read of a folder's changes holds: 64 KiB, the most a folder on
// a network share takes.
constexpr DWORD kBufferBytes = 64 * 1024;

// A folder watched through ReadDirectoryChangesW, with one read always
// under way.
struct EventFolder {
    std::string path;  // as given to Add()
    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE done = nullptr;  // signalled when the read has changes
    OVERLAPPED read{};
    std::unique_ptr<DWORD[]> buffer{new DWORD[kBufferBytes / sizeof(DWORD)]};

    ~EventFolder() {
        if (folder != INVALID_HANDLE_VALUE) {
            // The read is cancelled and waited for before its buffer goes.
            DWORD ignored = 0;
            if (::CancelIoEx(folder, &read) || ::GetLastError() != ERROR_NOT_FOUND)
                ::GetOverlappedResult(folder, &read, &ignored, TRUE);
            ::CloseHandle(folder);
        }
        if (done != nullptr) ::CloseHandle(done);
    }

    bool StartRead() {
        ::ResetEvent(done);
        read = OVERLAPPED{};
        read.hEvent = done;
        return ::ReadDirectoryChangesW(folder, buffer.get(), kBufferBytes, FALSE, kFilter, nullptr, &read, nullptr);
    }
};

}  // namespace

struct FolderWatch::State {
    bool pollingRequested = PollingRequested();
    std::vector<std::unique_ptr<EventFolder>> folders;
    PollingWatch polling;  // the folders ReadDirectoryChangesW can't watch
    // Entries made or written whose writer may still have them open:
    // Windows says nothing when a file is closed, so each is looked at
    // again (OthersAreWriting) until it is not open for writing, and then
    // reported complete.
    std::set<std::string> unsettled;
    std::chrono::steady_clock::time_point settleDue{};
};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {}

FolderWatch::~FolderWatch() = default;

bool FolderWatch::Add(const std::string& path) {
    State& s = *state_;
    if (KindOf(path) != PathKind::Folder) return false;
    // WaitForMultipleObjects waits for at most 64 folders; any more are polled.
    if (!s.pollingRequested && s.folders.size() < MAXIMUM_WAIT_OBJECTS) {
        const std::optional<std::wstring> wide = WidePath(path);
        if (!wide) return false;
        auto watched = std::make_unique<EventFolder>();
        watched->path = path;
        watched->folder = ::CreateFileW(wide->c_str(), FILE_LIST_DIRECTORY, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
        if (watched->folder == INVALID_HANDLE_VALUE) return false;
        watched->done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (watched->done == nullptr) return false;
        if (watched->StartRead()) {
            s.folders.push_back(std::move(watched));
            return true;
        }
        // A file system that gives no events (ERROR_INVALID_FUNCTION): polled.
    }
    return s.polling.Add(path);
}

bool FolderWatch::Polling() const { return state_->pollingRequested || !state_->polling.Empty(); }

namespace {

// Adds the changes a finished read of `watched` holds, and starts the next
// read. False when the folder can't be watched any more (it has gone).
bool TakeChanges(EventFolder& watched, FolderWatch::Changes& changes, std::set<std::string>& unsettled) {
    DWORD bytes = 0;
    if (!::GetOverlappedResult(watched.folder, &watched.read, &bytes, FALSE)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) return true;
        // Too many changes for the buffer (ERROR_NOTIFY_ENUM_DIR), or the
        // folder has gone: look at everything again.
        changes.rescan = true;
        if (error != ERROR_NOTIFY_ENUM_DIR) return false;
    } else if (bytes == 0) {
        changes.rescan = true;  // the changes overflowed the buffer
    } else {
        const char* at = reinterpret_cast<const char*>(watched.buffer.get());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
            const std::wstring_view name(info->FileName, info->FileNameLength / sizeof(WCHAR));
            const std::string path = watched.path + "/" + Utf8FromWide(name);
            const bool complete = info->Action == FILE_ACTION_RENAMED_NEW_NAME;
            changes.changes.push_back({path, complete});
            if (info->Action == FILE_ACTION_ADDED || info->Action == FILE_ACTION_MODIFIED) {
                unsettled.insert(path);
            } else {
                unsettled.erase(path);  // renamed in (complete), or gone
            }
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
    }
    if (watched.StartRead()) return true;
    changes.rescan = true;
    return false;
}

// Reports complete each unsettled entry no one has open for writing now.
void Settle(std::set<std::string>& unsettled, FolderWatch::Changes& changes) {
    for (auto it = unsettled.begin(); it != unsettled.end();) {
        if (KindOf(*it) != PathKind::File) {
            it = unsettled.erase(it);  // gone, or a folder
        } else if (!OthersAreWriting(*it)) {
            changes.changes.push_back({*it, true});
            it = unsettled.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

FolderWatch::Changes FolderWatch::Wait(std::chrono::milliseconds timeout) {
    State& s = *state_;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::max(timeout, std::chrono::milliseconds{0});
    Changes changes;
    for (;;) {
        const Clock::time_point now = Clock::now();
        auto wait = std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - now), std::chrono::milliseconds{0});
        if (!s.polling.Empty()) wait = std::min(wait, s.polling.UntilDue());
        if (!s.unsettled.empty())
            wait = std::min(wait, std::max(std::chrono::ceil<std::chrono::milliseconds>(s.settleDue - now),
                                           std::chrono::milliseconds{0}));
        const DWORD milliseconds = static_cast<DWORD>(std::min<std::int64_t>(wait.count(), INFINITE - 1));
        bool events = false;
        if (s.folders.empty()) {
            ::Sleep(milliseconds);
        } else {
            std::vector<HANDLE> done;
            for (const auto& watched : s.folders) done.push_back(watched->done);
            const DWORD woken = ::WaitForMultipleObjects(static_cast<DWORD>(done.size()), done.data(), FALSE, milliseconds);
            events = woken < WAIT_OBJECT_0 + done.size();
        }
        if (events) {
            // Every folder whose read has finished, not only the first.
            for (auto it = s.folders.begin(); it != s.folders.end();) {
                if (::WaitForSingleObject((*it)->done, 0) == WAIT_OBJECT_0 && !TakeChanges(**it, changes, s.unsettled)) {
                    it = s.folders.erase(it);
                } else {
                    ++it;
                }
            }
        }
        if (!s.polling.Empty()) s.polling.LookIfDue(changes);
        // Looked at as soon as the event comes (a quick writer has finished
        // by then), and then at the polling interval until settled.
        if (!s.unsettled.empty() && (events || Clock::now() >= s.settleDue)) {
            Settle(s.unsettled, changes);
            s.settleDue = Clock::now() + PollingWatch::kInterval;
        }
        if (!changes.changes.empty() || changes.rescan || Clock::now() >= deadline) return changes;
    }
}

}  // namespace bmp2grid::platform
