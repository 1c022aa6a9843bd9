// The Windows entry point: the arguments as UTF-16 (wmain; the C runtime
// splits the command line as it does for main), handed on as UTF-8.
#include <string>
#include <vector>

#include "program_entry.h"
#include "windows_text.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) arguments.push_back(bmp2grid::platform::Utf8FromWide(argv[i]));
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return ProgramMain(argc, pointers.data());
}
