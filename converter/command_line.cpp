#include "command_line.h"

#include <cstdio>
#include <cstring>

namespace bmp2grid {

ParsedCommandLine ParseArguments(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
    auto usage = [&parsed](int status) {
        parsed.action = ParsedCommandLine::Action::ShowUsage;
        parsed.exitStatus = status;
        return parsed;
    };
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        return usage(0);
    }
    if (argc < 3) return usage(1);
    int pathIndex = 1;
    if (std::strcmp(argv[1], "-1") == 0) {
        if (argc < 4) return usage(1);
        parsed.args.mode = SampleMode::OneToOne;
        pathIndex = 2;
    }
    parsed.args.inputPath = argv[pathIndex];
    parsed.args.outputPath = argv[pathIndex + 1];
    return parsed;
}

std::string UsageLine(const char* programName) {
    return std::string("Usage: ") + (programName != nullptr ? programName : "bmp2grid") +
           " [-1] <infile> <outfile>\n";
}

std::string SizeReport(const BitmapImage& image) {
    char line[160];
    std::snprintf(line, sizeof line, "Size: %lldx%lld (should be %lld bytes, is %lld bytes)\n",
                  static_cast<long long>(image.width), static_cast<long long>(image.rows),
                  static_cast<long long>(image.width * image.rows),
                  static_cast<long long>(image.pixelBlockLength));
    return line;
}

}  // namespace bmp2grid
