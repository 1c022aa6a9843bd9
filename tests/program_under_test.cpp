#include "program_under_test.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace bmp2grid::test {
namespace {

std::vector<std::string> Words(const std::string& command) {
    std::istringstream in(command);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

Program::Program(std::string exe, std::vector<std::string> wrapper)
    : exe_(std::move(exe)), wrapper_(std::move(wrapper)), windows_(EndsWith(exe_, ".exe")) {}

Program Program::Built(std::string exe) { return Program(std::move(exe), Words(BMP2GRID_TEST_EMULATOR)); }

Program Program::Select(const std::string& builtExe, const char* variable) {
    const char* exe = std::getenv(variable);
    if (exe == nullptr) return Built(builtExe);
    const char* wrapper = std::getenv("BMP2GRID_TEST_WRAPPER");
    return Program(exe, Words(wrapper ? wrapper : ""));
}

std::vector<std::string> Program::Command(std::vector<std::string> args) const {
    args.insert(args.begin(), exe_);
    args.insert(args.begin(), wrapper_.begin(), wrapper_.end());
    return args;
}

std::string Program::AsText(const std::string& out) const {
    if (!windows_) return out;
    std::string text;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (!(out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n')) text += out[i];
    return text;
}

std::string Program::WindowsPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

std::vector<std::string> Program::WindowsShellCommand(std::vector<std::string> args, const std::string& file,
                                                      StdoutMode mode) const {
    if (mode != StdoutMode::Truncate && mode != StdoutMode::Append)
        throw std::invalid_argument("cmd redirects standard output only with > and >>");
    args.insert(args.begin(), WindowsPath(exe_));
    args.insert(args.end(), {mode == StdoutMode::Append ? ">>" : ">", file});
    return WindowsShell(std::move(args));
}

std::vector<std::string> Program::WindowsShell(std::vector<std::string> words) const {
    words.insert(words.begin(), {"cmd", "/c"});
    words.insert(words.begin(), wrapper_.begin(), wrapper_.end());
    return words;
}

RunResult RunWithStandardOutputTo(const Program& program, std::vector<std::string> args, const std::string& file,
                                  RunOptions options) {
    RunResult result;
    if (program.windows()) {
        result = RunProgram(program.WindowsShellCommand(std::move(args), file, options.stdoutMode), options);
    } else {
        options.stdoutFile = file;
        result = RunProgram(program.Command(std::move(args)), options);
    }
    result.out = program.AsText(result.out);
    result.err = program.AsText(result.err);
    return result;
}

std::vector<std::string> MemoryLimitedScript(const Program& program, const std::string& script, long limitKiB) {
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit = "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}hard_rss_limit_mb=" +
                              std::to_string(limitKiB / 1024) + "\"";
#else
    const std::string limit = "ulimit -v " + std::to_string(limitKiB);
#endif
    std::vector<std::string> command = program.Command({});
    command.insert(command.begin(), {"/bin/sh", "-c", limit + " && " + script, "sh"});
    return command;
}

long LargestFailingLimit(const std::function<bool(long limitKiB)>& succeeds, long ceilingKiB) {
    long fails = 0;
    while (ceilingKiB - fails > 64) {
        const long middle = (fails + ceilingKiB) / 2;
        (succeeds(middle) ? ceilingKiB : fails) = middle;
    }
    return fails;
}

const std::vector<TypedName>& NamesInSeveralScripts() {
    static const std::vector<TypedName> names{
        {"é", ""},
        {"日本", ""},
        {"\xF0\x9F\x97\xBA", ""},       // an emoji, beyond 16 bits
        {"\xEF\xBD\x98", "x"},           // fullwidth x
        {"sub\xEF\xBC\xBCy", "sub/y"},   // fullwidth backslash
    };
    return names;
}

const Program& Bmp2GridUnderTest() {
    static const Program program = Program::Select(BMP2GRID_EXE, "BMP2GRID_TEST_EXE");
    return program;
}

const Program& Grid2BmpUnderTest() {
    static const Program program = Program::Select(GRID2BMP_EXE, "GRID2BMP_TEST_EXE");
    return program;
}

}  // namespace bmp2grid::test
