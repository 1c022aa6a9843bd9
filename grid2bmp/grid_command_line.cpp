#include "grid_command_line.h"

#include <cstring>

namespace bmp2grid {

ParsedArguments<GridArgs> ParseGridArguments(int argc, const char* const* argv) {
    if (AsksForHelp(argc, argv)) return UsageRequest<GridArgs>(0);
    if (AsksForVersion(argc, argv)) return VersionRequest<GridArgs>();
    ParsedArguments<GridArgs> parsed;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "-1") == 0) {
            parsed.args.mode = SampleMode::OneToOne;
        } else if (std::strcmp(argv[i], "--palette") == 0) {
            if (i + 1 >= argc) return UsageRequest<GridArgs>(1);
            parsed.args.palettePath = argv[++i];
        } else {
            break;
        }
    }
    if (argc - i != 2) return UsageRequest<GridArgs>(1);
    parsed.args.mapPath = argv[i];
    parsed.args.outputPath = argv[i + 1];
    return parsed;
}

std::string GridUsageLine(const char* programName) {
    return "Usage: " + ProgramName(programName, "grid2bmp") +
           " [-1] [--palette PICTURE] <maptext> <outfile>\n";
}

}  // namespace bmp2grid
