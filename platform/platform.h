// The little that both programs and the web page need from the operating
// system, behind one interface so that each platform supplies its own
// implementation at build time: reading a file, replacing an output file
// safely, and writing to the console. The page's build has no file system
// (platform_memory_only.cpp): there every file fails to open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "byte_buffer.h"
#include "output_sink.h"

namespace bmp2grid::platform {

enum class ReadStatus {
    Ok,
    CantOpen,    // missing, a directory, or no permission
    ReadFailed,  // opened, but a read failed
    NoMemory,
};

// An input file opened for reading in shared mode: other readers and writers
// of the same file are not locked out.
class InputFile {
public:
    InputFile();
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // CantOpen for a missing file, a directory, or no permission.
    // StandardInputPath() is the process's standard input as it stands,
    // whatever it is (a pipe, a socket, a file, the console), read from its
    // current position: a file that has been read part-way is the rest of it.
    ReadStatus Open(const std::string& path);

    // A regular file: its size is known and it can be read at any offset.
    // Size and offsets count from where the file stood when opened (its
    // start, but for standard input read part-way).
    bool IsRegularFile() const;
    std::int64_t Size() const;  // for a regular file

    // Reads exactly `size` bytes at `offset` of a regular file. Returns false
    // on a read error or when the file ends first (it may have shrunk). It
    // may move the current position (Windows does), so a file is read either
    // at offsets or in sequence, not both.
    bool ReadAt(std::int64_t offset, std::uint8_t* data, std::size_t size) const;

    // Reads up to `size` bytes from the current position (the start, for a
    // file just opened) and moves past them. Returns the number of bytes
    // read, 0 at the end (a pipe whose writer has gone is at its end), or -1
    // on a read error. Pipes and devices such as /dev/stdin are read so too.
    long long Read(std::uint8_t* data, std::size_t size);

    // Reads from the current position (the start, for a file just opened) to
    // the end in one pass; the number of bytes read is the size, so pipes and
    // devices such as /dev/stdin work too.
    ReadStatus ReadToEnd(ByteBuffer& contents);

    struct State;  // platform-specific

private:
    std::unique_ptr<State> state_;
};

// An output file that replaces its target only when it is complete.
//
// For a regular file (or a path that does not exist yet) the bytes go to a
// temporary file in the target's folder, which Commit() moves over the target
// in one step; until then the previous target is untouched, and a failed or
// abandoned output is removed. A symbolic link as the target path is followed,
// so the file it points to is replaced and the link stays. A target that is
// not a regular file (a device, a FIFO, the console) is written directly.
//
// A target that is where the process's own standard output goes (the same
// file, pipe or device) is written through standard output when that is not
// a regular file or is an empty one (what a shell's `>` leaves). A regular
// file with contents (`>>`, `1<>`) is replaced as above on POSIX; Windows
// can't replace a file its standard output holds, so there Open() refuses it.
//
// On Linux the temporary file is unnamed (O_TMPFILE) until Commit(). With
// the environment variable BMP2GRID_NAMED_TEMPORARY set to 1 it is a named
// file from the start, as where O_TMPFILE is not available and on Windows:
// a testing aid, so that path runs on Linux too. SIGINT, SIGTERM and SIGHUP
// (on Windows Ctrl-C, Ctrl-Break and closing the console) remove every named
// temporary file that exists, of every OutputFile open in the process,
// before the process ends as they would end it; SIGKILL can't be caught and
// leaves them.
class OutputFile final : public SeekableSink {
public:
    // Direct: the target would be written directly (see Targets), and
    // nothing has been opened.
    enum class OpenStatus { Ok, CantOpen, Direct };
    // Which targets Open() opens: any, or only those replaced through a
    // temporary file, which can be given a size and written at offsets.
    enum class Targets { Any, ReplacedOnly };

    OutputFile();
    ~OutputFile() override;  // discards the output unless Commit() succeeded
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // CantOpen, before anything is written, when the target can't be made:
    // a missing folder, a directory, no permission, a name longer than the
    // file system holds, or symbolic links that can't be resolved (a loop);
    // on Windows also a file with contents that standard output holds, a
    // file that standard input or error holds, and a read-only file (a
    // hidden or system one is replaced, keeping that attribute).
    // With Targets::ReplacedOnly, a target that would be written directly (a
    // device, a FIFO, standard output) gives Direct and is not opened.
    OpenStatus Open(const std::string& path, Targets targets = Targets::Any);
    bool Write(const char* data, std::size_t size) override;
    bool OverlapsWork() const override;
    // Sets the space aside in a temporary file, where the file system can;
    // Commit() hands back what was not used.
    void Reserve(std::int64_t size) override;
    // SetSize() and WriteAt() reach a temporary file only: for a target
    // written directly (a device, a FIFO, standard output) they fail.
    bool SetSize(std::int64_t size) override;
    bool WriteAt(std::int64_t offset, const char* data, std::size_t size) override;
    // Whether the target is where the process's own standard output goes
    // (the same file, pipe or device), so that nothing else may be printed
    // there: standard output carries the bytes, or its file is about to be
    // replaced. Known once Open() has looked at the target, even if Open()
    // then failed.
    bool SharesStandardOutput() const;
    // Flushes, closes and puts the output in place. Returns false if any of
    // that failed; the previous target is then left as it was.
    bool Commit();

    struct State;  // platform-specific

private:
    std::unique_ptr<State> state_;
};

// Whether `path` can name an output at all. False when its name is longer
// than its folder's file system takes (NAME_MAX; 255 on Windows) or its
// symbolic links can't be resolved (a loop): nothing done later can mend
// those, so the programs check them first, before reading any input.
// Everything else about the output (a missing folder, no permission) is
// found by OutputFile::Open(), which checks these two again.
bool OutputPathIsPossible(const std::string& path);

// Whether `a` and `b` both name one existing file (by any path, links
// followed). False when either is missing or can't be looked at.
bool SameExistingFile(const std::string& a, const std::string& b);

// Paths are UTF-8 on every platform (on Windows, see program_entry.h); a
// path that is not UTF-8 can't be opened there.
//
// The paths InputFile and OutputFile take for the process's
// own standard input and standard output: /dev/stdin and /dev/stdout on
// POSIX. Windows has no such names, so there they are "<stdin>" and
// "<stdout>", names no Windows file can have ('<' and '>' are not allowed
// in file names), which the Windows implementation opens as the standard
// handles.
const std::string& StandardInputPath();
const std::string& StandardOutputPath();

// Writes text to the standard output stream and flushes it.
void PrintToConsole(std::string_view text);

// Writes text to the standard error stream and flushes it.
void PrintToErrorConsole(std::string_view text);

// Opens the null device on each of standard input, output and error that is
// closed, so that no file the program opens takes its place: an input taken
// for standard output, or messages printed into an output. The programs call
// it first thing. Nothing to do on Windows.
void KeepStandardStreamsOpen();

// Makes writes that can't be done fail with an error instead of killing the
// process: writing to a pipe or FIFO whose reader has gone (SIGPIPE on POSIX)
// and past a file-size limit (SIGXFSZ). The programs call it first thing.
// Nothing to do on Windows.
void ReportWriteFailuresAsErrors();

// Whether standard error is a terminal (a console), where a progress line
// may be redrawn in place.
bool StandardErrorIsTerminal();

// From this call on, SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C,
// Ctrl-Break and closing the console) remove every named temporary file
// that exists, as they always do, and then end the process with exit
// status 0 instead of as the signal would: the way a watch is ended.
void EndQuietlyOnInterrupt();

}  // namespace bmp2grid::platform
