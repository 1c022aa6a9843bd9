#include "command_line.h"

#include <cstdio>
#include <cstring>

namespace bmp2grid {

namespace {

bool AsksForHelp(int argc, const char* const* argv) {
    return argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0);
}

template <class Args>
ParsedArguments<Args> Usage(int status) {
    ParsedArguments<Args> parsed;
    parsed.action = ParsedArguments<Args>::Action::ShowUsage;
    parsed.exitStatus = status;
    return parsed;
}

std::string ProgramName(const char* programName, const char* fallback) {
    return programName != nullptr ? programName : fallback;
}

}  // namespace

ParsedCommandLine ParseArguments(int argc, const char* const* argv) {
    if (AsksForHelp(argc, argv)) return Usage<ConverterArgs>(0);
    if (argc < 3) return Usage<ConverterArgs>(1);
    ParsedCommandLine parsed;
    int pathIndex = 1;
    if (std::strcmp(argv[1], "-1") == 0) {
        if (argc < 4) return Usage<ConverterArgs>(1);
        parsed.args.mode = SampleMode::OneToOne;
        pathIndex = 2;
    }
    parsed.args.inputPath = argv[pathIndex];
    parsed.args.outputPath = argv[pathIndex + 1];
    return parsed;
}

std::string UsageLine(const char* programName) {
    return "Usage: " + ProgramName(programName, "bmp2grid") + " [-1] <infile> <outfile>\n";
}

ParsedArguments<GridArgs> ParseGridArguments(int argc, const char* const* argv) {
    if (AsksForHelp(argc, argv)) return Usage<GridArgs>(0);
    ParsedArguments<GridArgs> parsed;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "-1") == 0) {
            parsed.args.mode = SampleMode::OneToOne;
        } else if (std::strcmp(argv[i], "--palette") == 0) {
            if (i + 1 >= argc) return Usage<GridArgs>(1);
            parsed.args.palettePath = argv[++i];
        } else {
            break;
        }
    }
    if (argc - i != 2) return Usage<GridArgs>(1);
    parsed.args.mapPath = argv[i];
    parsed.args.outputPath = argv[i + 1];
    return parsed;
}

std::string GridUsageLine(const char* programName) {
    return "Usage: " + ProgramName(programName, "grid2bmp") +
           " [-1] [--palette PICTURE] <maptext> <outfile>\n";
}

std::string LoadFailureMessage(const LoadResult& result, const std::string& path) {
    switch (result.status) {
        case LoadStatus::CantOpen:
            return "Can't open " + path + "\n";
        case LoadStatus::NotEightBit:
            return "Only 8bpp bitmaps are supported!\n";
        case LoadStatus::CantConvert:
        case LoadStatus::Ok:
            break;
    }
    return "Can't convert " + path + ": " + result.reason + "\n";
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
