#include "arguments.h"

#include <cstring>

#include "platform.h"

namespace bmp2grid {

bool AsksForHelp(int argc, const char* const* argv) {
    return argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0);
}

bool AsksForVersion(int argc, const char* const* argv) {
    return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

std::string InputPathToOpen(const std::string& argument) {
    return argument == "-" ? platform::StandardInputPath() : argument;
}

std::string OutputPathToOpen(const std::string& argument) {
    return argument == "-" ? platform::StandardOutputPath() : argument;
}

}  // namespace bmp2grid
