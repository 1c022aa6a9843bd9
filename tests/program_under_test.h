// The programs the end-to-end tests run, and how to start them.
//
// By default a test runs the program this build made. A cross build's
// program runs through the build's emulator (CMAKE_CROSSCOMPILING_EMULATOR,
// e.g. qemu-user for s390x): the test then runs under that emulator itself
// and can't start a foreign program directly.
//
// The environment may name another build of a program instead, by absolute
// path: BMP2GRID_TEST_EXE for bmp2grid, GRID2BMP_TEST_EXE for grid2bmp. Such
// a program runs through BMP2GRID_TEST_WRAPPER when that is set (a command,
// words separated by spaces: the wine64 loader for a Windows build). A
// program whose name ends in ".exe" is a Windows build; tests that need Unix
// devices, permissions or symbolic links skip it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "process_runner.h"

namespace bmp2grid::test {

class Program {
public:
    // `exe`, started through `wrapper` (empty: directly).
    Program(std::string exe, std::vector<std::string> wrapper);

    // This build's program at `exe`, through the build's emulator if any.
    static Program Built(std::string exe);

    // The program at `builtExe`, or the one the environment variable
    // `variable` names.
    static Program Select(const std::string& builtExe, const char* variable);

    const std::string& exe() const { return exe_; }
    bool windows() const { return windows_; }
    // Whether it runs through a wrapper (an emulator, or Wine).
    bool wrapped() const { return !wrapper_.empty(); }

    // The command line that runs the program with `args`.
    std::vector<std::string> Command(std::vector<std::string> args) const;

    // The program name as the program reports it in its usage line.
    std::string Name() const { return windows_ ? WindowsPath(exe_) : exe_; }

    // Standard output as text: the Windows console ends lines with CR LF.
    std::string AsText(const std::string& out) const;

    // A Unix path as a Windows program under Wine sees it.
    static std::string WindowsPath(std::string path);

    // The command line that runs `words` with Windows' own shell, `cmd /c`,
    // through the wrapper (Windows build): its own commands (`attrib`) and
    // redirections (`<`, `>`) included. The program's own path is
    // WindowsPath(exe()).
    std::vector<std::string> WindowsShell(std::vector<std::string> words) const;

    // The command line that runs the program with `args` through Windows'
    // own shell, its standard output redirected to `file` (Windows build):
    // `>` for StdoutMode::Truncate, `>>` for StdoutMode::Append (the shell has
    // no redirection for the other modes).
    std::vector<std::string> WindowsShellCommand(std::vector<std::string> args, const std::string& file,
                                                 StdoutMode mode = StdoutMode::Truncate) const;

private:
    std::string exe_;
    std::vector<std::string> wrapper_;
    bool windows_;
};

// Runs `program` with `args` in `options.workingDirectory`, its standard
// output going to `file` there (opened as `options.stdoutMode` says), as a
// shell redirection sends it. The Windows
// build gets it from Windows' own shell (cmd through the wrapper): Wine can't
// tell which file a standard output redirected on the Unix side is. Messages
// come back as text.
RunResult RunWithStandardOutputTo(const Program& program, std::vector<std::string> args, const std::string& file,
                                  RunOptions options);

// The command line that runs `script` with /bin/sh, "$@" standing for
// `program` (through its wrapper, if any), under a memory limit of
// `limitKiB`, so that a regression that reads on or allocates without bound
// fails soon instead of filling the machine. The limit is on address space
// (`ulimit -v`), or under AddressSanitizer, which reserves far more address
// space than it uses, on resident memory.
std::vector<std::string> MemoryLimitedScript(const Program& program, const std::string& script, long limitKiB);

// The largest memory limit in KiB, to within 64 KiB, under which a run fails
// (`succeeds(limitKiB)` is false), searched between 0 and `ceilingKiB`,
// under which the run must succeed.
long LargestFailingLimit(const std::function<bool(long limitKiB)>& succeeds, long ceilingKiB);

// File names as users type them, in several scripts, each with the decoy
// (empty: none) that a look-alike could land on, as Windows' ANSI code page
// maps a character it lacks to a look-alike or '?': a name without its
// extension, '/' separating folders.
struct TypedName {
    std::string stem;
    std::string decoy;
};
const std::vector<TypedName>& NamesInSeveralScripts();

// bmp2grid and grid2bmp as the tests run them.
const Program& Bmp2GridUnderTest();
const Program& Grid2BmpUnderTest();

}  // namespace bmp2grid::test
