// The little the converter needs from the operating system, behind one
// interface so that each platform supplies its own implementation at build
// time: reading a file, replacing an output file safely, and writing
// to the console.
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
    CantOpen,  // missing, a directory, no permission, or a read error
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
    ReadStatus Open(const std::string& path);

    // A regular file: its size is known and it can be read at any offset.
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

// Opens the file at `path` and reads it from start to end in one pass.
ReadStatus ReadWholeFile(const std::string& path, ByteBuffer& contents);

// An output file that replaces its target only when it is complete.
//
// For a regular file (or a path that does not exist yet) the bytes go to a
// temporary file in the target's folder, which Commit() moves over the target
// in one step; until then the previous target is untouched, and a failed or
// abandoned output is removed. A symbolic link as the target path is followed,
// so the file it points to is replaced and the link stays. A target that is
// not a regular file (a device, a FIFO, the console) is written directly, and
// a target that is the process's own standard output is written through it.
//
// On Linux the temporary file is unnamed (O_TMPFILE) until Commit(). With
// the environment variable BMP2GRID_NAMED_TEMPORARY set to 1 it is a named
// file from the start, as where O_TMPFILE is not available and on Windows:
// a testing aid, so that path runs on Linux too.
class OutputFile final : public OutputSink {
public:
    enum class OpenStatus { Ok, CantOpen };

    OutputFile();
    ~OutputFile() override;  // discards the output unless Commit() succeeded
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // CantOpen, before anything is written, when the target can't be made:
    // a missing folder, a directory, no permission, a name longer than the
    // file system holds, or symbolic links that can't be resolved (a loop).
    OpenStatus Open(const std::string& path);
    bool Write(const char* data, std::size_t size) override;
    bool OverlapsWork() const override;
    // Whether the bytes go to the process's own standard output (the target
    // is the file, pipe or device standard output is connected to), so that
    // nothing else may be printed there.
    bool WritesToStandardOutput() const;
    // Flushes, closes and puts the output in place. Returns false if any of
    // that failed; the previous target is then left as it was.
    bool Commit();

    struct State;  // platform-specific

private:
    std::unique_ptr<State> state_;
};

// The paths InputFile, ReadWholeFile and OutputFile take for the process's
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

// Makes writes that can't be done fail with an error instead of killing the
// process: writing to a pipe or FIFO whose reader has gone (SIGPIPE on POSIX)
// and past a file-size limit (SIGXFSZ). The programs call it first thing.
// Nothing to do on Windows.
void ReportWriteFailuresAsErrors();

}  // namespace bmp2grid::platform
