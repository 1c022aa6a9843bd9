// Windows implementation of the platform interface.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform.h"
#include "platform_common.h"
#include "windows_text.h"

namespace bmp2grid::platform {
namespace {

// A Windows path's folder part ends at a '\', a '/' or a drive's ':'.
constexpr std::string_view kSeparators = "\\/:";

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The longest file name NTFS and FAT take, in UTF-16 units. A UTF-8 name
// never has more UTF-16 units than bytes, so a temporary name of at most
// this many bytes always fits.
constexpr std::size_t kMaxNameUnits = 255;

// The attributes a replaced file keeps from the one it replaces, as the
// POSIX build keeps permission bits. (A read-only target is refused.)
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A full path at least this long is given to Windows in its `\\?\` form:
// the ordinary form stops at MAX_PATH (260) characters.
constexpr std::size_t kLongPath = MAX_PATH - 20;

constexpr std::wstring_view kLongForm = L"\\\\?\\", kDeviceForm = L"\\\\.\\", kShare = L"\\\\";

// The full path Windows makes of `path`, or nothing if it can't.
std::optional<std::wstring> FullPath(const std::wstring& path) {
    const DWORD room = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (room == 0) return std::nullopt;
    std::wstring full(room, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), room, full.data(), nullptr);
    if (length == 0 || length >= room) return std::nullopt;
    full.resize(length);
    return full;
}

// Whether Windows takes `path` for a device by its name alone (CON, CON:,
// NUL, COM1, ...): its full path is then \\.\<device>. A path the user
// gave in the \\.\ or \\?\ form names what it names (a file, too).
bool IsDeviceName(const std::wstring& path) {
    if (path.size() >= 4 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/') &&
        (path[2] == L'.' || path[2] == L'?'))
        return false;
    const std::optional<std::wstring> full = FullPath(path);
    return full && full->starts_with(kDeviceForm);
}

}  // namespace

// A long path is given in the `\\?\` form, which reaches 32,767
// characters; such a path is made full first, since that form is not
// interpreted any further (no "..", no '/').
std::optional<std::wstring> WidePath(const std::string& path) {
    std::optional<std::wstring> wide = WideFromUtf8(path);
    if (!wide || wide->empty() || wide->starts_with(kLongForm) || wide->starts_with(kDeviceForm)) return wide;
    const std::optional<std::wstring> full = FullPath(*wide);
    if (!full || full->size() < kLongPath) return wide;
    // C:\folder\name, or \\server\share\folder\name; anything else is a device.
    if (full->size() >= 3 && (*full)[1] == L':' && (*full)[2] == L'\\') return std::wstring(kLongForm) + *full;
    if (full->starts_with(kShare) && !full->starts_with(kLongForm) && !full->starts_with(kDeviceForm))
        return std::wstring(kLongForm) + L"UNC\\" + full->substr(2);
    return wide;
}

namespace {

// What an existing path is, looked at without opening it for writing.
// Unusable: a name that is not UTF-8 or is too long, or symbolic links that
// can't be resolved. HeldByStandardStream: the disk file that standard
// input reads or standard error writes.
enum class PathKind { Missing, Directory, DiskFile, StandardOutput, HeldByStandardStream, Device, Unusable };

// Whether the open disk file `h` is the disk file that the standard handle
// `which` (STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE) reads or
// writes.
bool IsStandardFile(HANDLE h, DWORD which) {
    const HANDLE standard = ::GetStdHandle(which);
    if (standard == nullptr || standard == INVALID_HANDLE_VALUE || ::GetFileType(standard) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION mine, theirs;
    return ::GetFileInformationByHandle(h, &mine) && ::GetFileInformationByHandle(standard, &theirs) &&
           mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
           mine.nFileIndexHigh == theirs.nFileIndexHigh && mine.nFileIndexLow == theirs.nFileIndexLow;
}

PathKind KindOf(const std::string& path) {
    if (path == StandardOutputPath()) return PathKind::StandardOutput;
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide) return PathKind::Unusable;
    HANDLE h = ::CreateFileW(wide->c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                             nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_CANT_RESOLVE_FILENAME)
            return PathKind::Unusable;
        // A device that can't be opened now (CON without a console) is
        // still a device: never a file to make in its place.
        if (IsDeviceName(*wide)) return PathKind::Device;
        const DWORD attributes = ::GetFileAttributesW(wide->c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return PathKind::Directory;
        return PathKind::Missing;
    }
    PathKind kind = PathKind::Device;
    if (::GetFileType(h) == FILE_TYPE_DISK) {
        BY_HANDLE_FILE_INFORMATION info;
        if (::GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            kind = PathKind::Directory;
        } else if (IsStandardFile(h, STD_OUTPUT_HANDLE)) {
            kind = PathKind::StandardOutput;
        } else if (IsStandardFile(h, STD_INPUT_HANDLE) || IsStandardFile(h, STD_ERROR_HANDLE)) {
            kind = PathKind::HeldByStandardStream;
        } else {
            kind = PathKind::DiskFile;
        }
    }
    ::CloseHandle(h);
    return kind;
}

// Whether the file name part of `path` is longer than a file system holds.
bool NameTooLong(const std::string& path) {
    const std::string_view name = FileNameOf(path, kSeparators);
    if (name.size() <= kMaxNameUnits) return false;
    const std::optional<std::wstring> units = WideFromUtf8(name);
    return !units || units->size() > kMaxNameUnits;
}

// The temporary files that exist now, which the console control handler
// deletes when Ctrl-C, Ctrl-Break or closing the console ends the process.
// Several outputs may each hold one at once (the batch form converts on
// several threads). The handler runs on a thread of its own, so a lock
// guards the names.
SRWLOCK pendingLock = SRWLOCK_INIT;

class PendingLock {
public:
    PendingLock() { ::AcquireSRWLockExclusive(&pendingLock); }
    ~PendingLock() { ::ReleaseSRWLockExclusive(&pendingLock); }
    PendingLock(const PendingLock&) = delete;
    PendingLock& operator=(const PendingLock&) = delete;
};

// Their names. Never destroyed: the handler may run while the process exits.
std::vector<std::wstring>& PendingTemporaries() {
    static std::vector<std::wstring>* names = new std::vector<std::wstring>;
    return *names;
}

// Set by EndQuietlyOnInterrupt(): the handler ends the process with status 0.
std::atomic<bool> endQuietly{false};

BOOL WINAPI RemovePendingTemporaries(DWORD) {
    PendingLock lock;
    // Each file is open with FILE_SHARE_DELETE: it goes once its handle is
    // closed, which ending the process does.
    for (const std::wstring& name : PendingTemporaries()) ::DeleteFileW(name.c_str());
    // TerminateProcess, not ExitProcess: the other threads stop where they
    // are and nothing runs after them (no library's clean-up, which could
    // wait for a lock one of them held), and the lock above is never let go,
    // so that no thread names or moves a temporary file meanwhile.
    if (endQuietly.load()) ::TerminateProcess(::GetCurrentProcess(), 0);
    return FALSE;  // the default handling then ends the process
}

void InstallConsoleHandler() {
    static const bool installed = ::SetConsoleCtrlHandler(RemovePendingTemporaries, TRUE) != 0;
    (void)installed;
}

// Names the temporary file about to be made.
void AddPendingTemporary(const std::wstring& name) {
    InstallConsoleHandler();
    PendingLock lock;
    PendingTemporaries().push_back(name);
}

// Called once the temporary file is gone: removed, or never made. The
// caller holds the lock.
void ForgetPendingTemporary(const std::wstring& name) {
    std::vector<std::wstring>& names = PendingTemporaries();
    const auto found = std::find(names.begin(), names.end(), name);
    if (found != names.end()) names.erase(found);
}

void RemovePendingTemporary(const std::wstring& name) {
    PendingLock lock;
    ForgetPendingTemporary(name);
}

// ReadFile and WriteFile take at most a DWORD of bytes; 1 GiB at a time.
DWORD Chunk(std::size_t size) { return size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size); }

// Where a positioned ReadFile or WriteFile starts.
OVERLAPPED At(std::int64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

bool WriteAll(HANDLE h, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = Chunk(size);
        DWORD written = 0;
        if (!::WriteFile(h, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

struct InputFile::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool regular = false;
    std::int64_t start = 0;  // where a regular file stood when opened (standard input read part-way)
    std::int64_t size = 0;   // its bytes from there on
};

InputFile::InputFile() : state_(std::make_unique<State>()) {}

InputFile::~InputFile() {
    if (state_->handle != INVALID_HANDLE_VALUE) ::CloseHandle(state_->handle);
}

ReadStatus InputFile::Open(const std::string& path) {
    State& s = *state_;
    // Shared mode: other readers and writers of the file are not locked out.
    if (path == StandardInputPath()) {
        // A copy of the standard input handle, so that closing it leaves
        // standard input open.
        const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        if (in == nullptr || in == INVALID_HANDLE_VALUE ||
            !::DuplicateHandle(::GetCurrentProcess(), in, ::GetCurrentProcess(), &s.handle, 0, FALSE,
                               DUPLICATE_SAME_ACCESS)) {
            s.handle = INVALID_HANDLE_VALUE;
            return ReadStatus::CantOpen;
        }
    } else {
        const std::optional<std::wstring> wide = WidePath(path);
        if (!wide) return ReadStatus::CantOpen;
        s.handle = ::CreateFileW(wide->c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    }
    if (s.handle == INVALID_HANDLE_VALUE) return ReadStatus::CantOpen;
    LARGE_INTEGER size;
    // A file larger than memory can address (4 GiB and more in a 32-bit
    // build) is still read at offsets.
    s.regular = ::GetFileType(s.handle) == FILE_TYPE_DISK && ::GetFileSizeEx(s.handle, &size) &&
                size.QuadPart >= 0;
    if (s.regular) {
        // A file is read from where it stands: its start, unless it is
        // standard input and has been read part-way before.
        LARGE_INTEGER at{};
        const LARGE_INTEGER none{};
        if (::SetFilePointerEx(s.handle, none, &at, FILE_CURRENT) && at.QuadPart > 0) s.start = at.QuadPart;
        s.size = size.QuadPart > s.start ? size.QuadPart - s.start : 0;
    }
    return ReadStatus::Ok;
}

bool InputFile::IsRegularFile() const { return state_->regular; }

std::int64_t InputFile::Size() const { return state_->size; }

bool InputFile::ReadAt(std::int64_t offset, std::uint8_t* data, std::size_t size) const {
    while (size > 0) {
        OVERLAPPED at = At(state_->start + offset);
        const DWORD chunk = Chunk(size);
        DWORD got = 0;
        if (!::ReadFile(state_->handle, data, chunk, &got, &at) || got == 0) return false;
        data += got;
        size -= got;
        offset += got;
    }
    return true;
}

long long InputFile::Read(std::uint8_t* data, std::size_t size) {
    DWORD got = 0;
    if (!::ReadFile(state_->handle, data, Chunk(size), &got,
                    nullptr)) {
        // A pipe whose writer has gone is simply at its end.
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return got;
}

ReadStatus InputFile::ReadToEnd(ByteBuffer& contents) {
    const State& s = *state_;
    // For a regular file one byte more than its size lets the first read take
    // everything and the second confirm the end without growing the buffer;
    // one too large for memory grows until memory runs out.
    const bool fits = s.regular && static_cast<unsigned long long>(s.size) < SIZE_MAX;
    const std::size_t capacity = fits ? static_cast<std::size_t>(s.size) + 1 : 64 * 1024;
    return ReadUntilEnd(contents, capacity,
                        [this](std::uint8_t* to, std::size_t room) { return Read(to, room); });
}

struct OutputFile::State {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool ownsHandle = true;  // false when writing through standard output
    bool standardOutput = false;  // the target is the file standard output writes to
    bool replaces = false;   // true when the output goes through a temporary file
    bool failed = false;
    bool committed = false;
    bool slowWrites = true;  // false for character devices such as NUL
    std::wstring target;     // as the wide file functions take it
    std::wstring temporary;
};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}

OutputFile::~OutputFile() {
    State& s = *state_;
    if (s.handle != INVALID_HANDLE_VALUE && s.ownsHandle) ::CloseHandle(s.handle);
    if (!s.committed && !s.temporary.empty()) {
        ::DeleteFileW(s.temporary.c_str());
        RemovePendingTemporary(s.temporary);
    }
}

OutputFile::OpenStatus OutputFile::Open(const std::string& path, Targets targets) {
    State& s = *state_;
    if (path.empty()) return OpenStatus::CantOpen;
    switch (KindOf(path)) {
        case PathKind::Directory:
        case PathKind::Unusable:
            return OpenStatus::CantOpen;
        case PathKind::HeldByStandardStream:
            // Standard input or error holds the file open (and so does the
            // shell that redirected it), so it can't be replaced: refused
            // untouched, as a file with contents that standard output holds.
            return OpenStatus::CantOpen;
        case PathKind::StandardOutput: {
            // Written through the handle standard output uses, after what the
            // C library holds for it, so the picture or map goes there whole.
            // A file there (not a pipe or the console, which "-" may name)
            // must be empty (what `>` leaves): a file with contents (`>>`)
            // would keep them, and it can't be replaced while standard
            // output holds it open, so it is refused untouched.
            s.standardOutput = true;
            if (targets == Targets::ReplacedOnly) return OpenStatus::Direct;
            const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
            if (out == nullptr || out == INVALID_HANDLE_VALUE) return OpenStatus::CantOpen;
            LARGE_INTEGER size;
            if (::GetFileType(out) == FILE_TYPE_DISK && (!::GetFileSizeEx(out, &size) || size.QuadPart != 0))
                return OpenStatus::CantOpen;
            std::fflush(stdout);
            s.handle = out;
            s.ownsHandle = false;
            return OpenStatus::Ok;
        }
        case PathKind::Device:  // NUL, CON, a named pipe: written directly
            if (targets == Targets::ReplacedOnly) return OpenStatus::Direct;
            s.handle = ::CreateFileW(WidePath(path)->c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
            s.slowWrites = s.handle != INVALID_HANDLE_VALUE && ::GetFileType(s.handle) == FILE_TYPE_PIPE;
            return s.handle == INVALID_HANDLE_VALUE ? OpenStatus::CantOpen : OpenStatus::Ok;
        case PathKind::DiskFile:
        case PathKind::Missing:
            break;
    }
    // Checked before any work: the target's name is made only in Commit().
    if (NameTooLong(path)) return OpenStatus::CantOpen;
    s.target = *WidePath(path);
    // A read-only file is not written, as Windows' own tools don't write
    // it; the attributes the replacement keeps are given to it from the
    // start.
    DWORD attributes = ::GetFileAttributesW(s.target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
    if (attributes & FILE_ATTRIBUTE_READONLY) return OpenStatus::CantOpen;
    attributes &= kKeptAttributes;
    s.replaces = true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // The temporary name is as long as the target's full path allows.
        const std::optional<std::wstring> name = WidePath(TemporaryNameFor(path, kSeparators, kMaxNameUnits));
        if (!name) return OpenStatus::CantOpen;
        // Named for the console control handler first; shared for deleting
        // only, so that the handler can delete it while it is open.
        AddPendingTemporary(*name);
        s.handle = ::CreateFileW(name->c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 (attributes ? attributes : FILE_ATTRIBUTE_NORMAL) | FILE_FLAG_SEQUENTIAL_SCAN,
                                 nullptr);
        if (s.handle != INVALID_HANDLE_VALUE) {
            s.temporary = *name;
            return OpenStatus::Ok;
        }
        const DWORD error = ::GetLastError();
        RemovePendingTemporary(*name);
        if (error != ERROR_FILE_EXISTS) return OpenStatus::CantOpen;
    }
    return OpenStatus::CantOpen;
}

bool OutputFile::Write(const char* data, std::size_t size) {
    State& s = *state_;
    if (s.failed || s.handle == INVALID_HANDLE_VALUE) return false;
    if (!WriteAll(s.handle, data, size)) s.failed = true;
    return !s.failed;
}

bool OutputFile::OverlapsWork() const { return state_->slowWrites; }

// Only a hint: the file is written just the same without it.
void OutputFile::Reserve(std::int64_t) {}

bool OutputFile::SetSize(std::int64_t size) {
    State& s = *state_;
    if (s.failed || s.handle == INVALID_HANDLE_VALUE || !s.replaces) return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    if (!::SetFilePointerEx(s.handle, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(s.handle)) s.failed = true;
    return !s.failed;
}

bool OutputFile::WriteAt(std::int64_t offset, const char* data, std::size_t size) {
    State& s = *state_;
    if (s.failed || s.handle == INVALID_HANDLE_VALUE || !s.replaces) return false;
    while (size > 0) {
        OVERLAPPED at = At(offset);
        const DWORD chunk = Chunk(size);
        DWORD written = 0;
        if (!::WriteFile(s.handle, data, chunk, &written, &at) || written == 0) {
            s.failed = true;
            return false;
        }
        data += written;
        size -= written;
        offset += written;
    }
    return true;
}

bool OutputFile::SharesStandardOutput() const { return state_->standardOutput; }

bool OutputFile::Commit() {
    State& s = *state_;
    if (s.failed || s.handle == INVALID_HANDLE_VALUE) return false;
    if (!s.ownsHandle) return s.committed = true;
    const bool closed = ::CloseHandle(s.handle) != 0;
    s.handle = INVALID_HANDLE_VALUE;
    if (!closed) return false;
    if (!s.replaces) return s.committed = true;
    // Replace the target in one step. Another process holding the target
    // open (a viewer, a virus scanner) makes this fail for a moment, so
    // retry briefly before giving up.
    for (int attempt = 0; attempt < 20; ++attempt) {
        DWORD error = 0;
        {
            // The handler waits, so that it never deletes the file mid-move.
            PendingLock lock;
            if (::MoveFileExW(s.temporary.c_str(), s.target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                ForgetPendingTemporary(s.temporary);
            } else {
                error = ::GetLastError();
            }
        }
        if (error == 0) {
            s.committed = true;
            return true;
        }
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool SameExistingFile(const std::string& a, const std::string& b) {
    const std::optional<std::wstring> wideA = WidePath(a), wideB = WidePath(b);
    if (!wideA || !wideB) return false;
    const auto open = [](const std::wstring& path) {
        return ::CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    };
    const HANDLE first = open(*wideA);
    if (first == INVALID_HANDLE_VALUE) return false;
    const HANDLE second = open(*wideB);
    BY_HANDLE_FILE_INFORMATION one, two;
    const bool same = second != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(first, &one) &&
                      ::GetFileInformationByHandle(second, &two) &&
                      one.dwVolumeSerialNumber == two.dwVolumeSerialNumber &&
                      one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow;
    if (second != INVALID_HANDLE_VALUE) ::CloseHandle(second);
    ::CloseHandle(first);
    return same;
}

bool OutputPathIsPossible(const std::string& path) {
    if (path.empty()) return true;  // refused by OutputFile::Open in its turn
    if (NameTooLong(path)) return false;
    const std::optional<std::wstring> wide = WidePath(path);
    if (!wide) return false;
    // Looked at without opening, which a named pipe would take for a client.
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error != ERROR_FILENAME_EXCED_RANGE && error != ERROR_CANT_RESOLVE_FILENAME;
    }
    // A symbolic link must lead somewhere: a loop can't be opened.
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || KindOf(path) != PathKind::Unusable;
}

std::optional<std::wstring> WideFromUtf8(std::string_view text) {
    std::wstring wide;
    if (text.empty()) return wide;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    const int size = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (units <= 0) return std::nullopt;
    wide.resize(static_cast<std::size_t>(units));
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), units) != units)
        return std::nullopt;
    return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            utf8 += static_cast<char>(code);
        } else if (code < 0x800) {
            utf8 += static_cast<char>(0xC0 | (code >> 6));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {  // a lone surrogate too
            utf8 += static_cast<char>(0xE0 | (code >> 12));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (code >> 18));
            utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return utf8;
}

namespace {

// Writes UTF-8 `text` to the standard stream `stream`, whose handle is
// `which`. A console is given the text as UTF-16, so that every character
// shows whatever the console's code page; a file or pipe gets the UTF-8
// bytes, as on POSIX. Lines end in CR LF either way (the C library's text
// mode adds the CR to a file or pipe).
void Print(std::string_view text, FILE* stream, DWORD which) {
    std::fflush(stream);
    const HANDLE h = ::GetStdHandle(which);
    DWORD mode = 0;
    if (h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode)) {
        std::wstring wide;
        const int size = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
        const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
        if (units > 0) {
            wide.resize(static_cast<std::size_t>(units));
            ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), units);
            std::wstring lines;
            lines.reserve(wide.size() + 2);
            for (const wchar_t c : wide) {
                if (c == L'\n') lines += L'\r';
                lines += c;
            }
            DWORD written = 0;
            if (::WriteConsoleW(h, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr)) return;
        }
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

void PrintToConsole(std::string_view text) { Print(text, stdout, STD_OUTPUT_HANDLE); }

void PrintToErrorConsole(std::string_view text) { Print(text, stderr, STD_ERROR_HANDLE); }

// Standard output is known by its handle here, not by a number that a file
// the program opens could take: nothing to do.
void KeepStandardStreamsOpen() {}

const std::string& StandardInputPath() {
    static const std::string path = "<stdin>";
    return path;
}

const std::string& StandardOutputPath() {
    static const std::string path = "<stdout>";
    return path;
}

// Windows has no SIGPIPE or SIGXFSZ: failed writes are always errors.
void ReportWriteFailuresAsErrors() {}

bool StandardErrorIsTerminal() {
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return error != nullptr && error != INVALID_HANDLE_VALUE && ::GetConsoleMode(error, &mode);
}

void EndQuietlyOnInterrupt() {
    endQuietly.store(true);
    InstallConsoleHandler();
}

std::uint64_t RandomSeed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

}  // namespace bmp2grid::platform
