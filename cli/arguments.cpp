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

int TakeBatchOption(int argc, const char* const* argv, int i, int pathsAfter, BatchOptions& options) {
    const char* option = argv[i];
    const int following = argc - i - 1;
    // After "--out-dir DIR" the batch form needs one input, whatever the
    // single form would have needed.
    if (!options.outDir && std::strcmp(option, "--out-dir") == 0 && following >= 2) {
        options.outDir = argv[i + 1];
        return 2;
    }
    if (!options.recursive && std::strcmp(option, "-r") == 0 && following >= pathsAfter) {
        options.recursive = true;
        return 1;
    }
    if (!options.watch && std::strcmp(option, "--watch") == 0 && following >= pathsAfter) {
        options.watch = true;
        return 1;
    }
    if (options.jobs == 0 && std::strcmp(option, "-j") == 0 && following >= 1 + pathsAfter) {
        const char* value = argv[i + 1];
        unsigned jobs = 0;
        for (const char* c = value; *c != '\0'; ++c) {
            if (*c < '0' || *c > '9' || jobs > kMaxJobs) return -1;
            jobs = jobs * 10 + static_cast<unsigned>(*c - '0');
        }
        if (jobs < 1 || jobs > kMaxJobs) return -1;
        options.jobs = jobs;
        return 2;
    }
    return 0;
}

std::string InputPathToOpen(const std::string& argument) {
    return argument == "-" ? platform::StandardInputPath() : argument;
}

std::string OutputPathToOpen(const std::string& argument) {
    return argument == "-" ? platform::StandardOutputPath() : argument;
}

}  // namespace bmp2grid
