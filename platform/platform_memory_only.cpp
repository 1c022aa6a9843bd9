// The platform layer of a build with no file system (BMP2GRID_FILES=OFF),
// such as the web page's WebAssembly module: pictures and map text come in
// as bytes in memory and leave through a MemorySink, so there is
// no file to open. Every open fails as a missing file would, no folder is
// there to list or watch, and nothing is printed: such a build has no
// console of its own.
#include "folders.h"
#include "platform.h"

namespace bmp2grid::platform {

struct InputFile::State {};

InputFile::InputFile() : state_(std::make_unique<State>()) {}
InputFile::~InputFile() = default;
ReadStatus InputFile::Open(const std::string&) { return ReadStatus::CantOpen; }
bool InputFile::IsRegularFile() const { return false; }
std::int64_t InputFile::Size() const { return 0; }
bool InputFile::ReadAt(std::int64_t, std::uint8_t*, std::size_t) const { return false; }
long long InputFile::Read(std::uint8_t*, std::size_t) { return -1; }
ReadStatus InputFile::ReadToEnd(ByteBuffer&) { return ReadStatus::ReadFailed; }

struct OutputFile::State {};

OutputFile::OutputFile() : state_(std::make_unique<State>()) {}
OutputFile::~OutputFile() = default;
OutputFile::OpenStatus OutputFile::Open(const std::string&, Targets) { return OpenStatus::CantOpen; }
bool OutputFile::Write(const char*, std::size_t) { return false; }
bool OutputFile::OverlapsWork() const { return false; }
void OutputFile::Reserve(std::int64_t) {}
bool OutputFile::SetSize(std::int64_t) { return false; }
bool OutputFile::WriteAt(std::int64_t, const char*, std::size_t) { return false; }
bool OutputFile::SharesStandardOutput() const { return false; }
bool OutputFile::Commit() { return false; }

bool OutputPathIsPossible(const std::string&) { return false; }

bool SameExistingFile(const std::string&, const std::string&) { return false; }

const std::string& StandardInputPath() {
    static const std::string path = "<stdin>";
    return path;
}

const std::string& StandardOutputPath() {
    static const std::string path = "<stdout>";
    return path;
}

void PrintToConsole(std::string_view) {}
void PrintToErrorConsole(std::string_view) {}
void KeepStandardStreamsOpen() {}
void ReportWriteFailuresAsErrors() {}
bool StandardErrorIsTerminal() { return false; }
void EndQuietlyOnInterrupt() {}

// No folders: nothing is there, nothing can be made or watched.
PathKind KindOf(const std::string&) { return PathKind::Missing; }
std::optional<std::vector<FolderEntry>> ListFolder(const std::string&) { return std::nullopt; }
bool MakeFolders(const std::string&) { return false; }
FileStamp StampOf(const std::string&) { return {}; }
bool OthersAreWriting(const std::string&) { return false; }

struct FolderWatch::State {};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {}
FolderWatch::~FolderWatch() = default;
bool FolderWatch::Add(const std::string&) { return false; }
FolderWatch::Changes FolderWatch::Wait(std::chrono::milliseconds) { return {}; }
bool FolderWatch::Polling() const { return false; }

}  // namespace bmp2grid::platform
