#include "command_line.h"

#include <cstring>

namespace bmp2grid {

ParsedCommandLine ParseArguments(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
    if (AsksForHelp(argc, argv)) {
        parsed.action = ParsedCommandLine::Action::ShowHelp;
        return parsed;
    }
    if (AsksForVersion(argc, argv)) return VersionRequest<ConverterArgs>();
    bool oneToOne = false;
    bool palette = false;
    bool layer = false;
    int pathIndex = 1;
    for (; pathIndex < argc; ++pathIndex) {
        if (!oneToOne && std::strcmp(argv[pathIndex], "-1") == 0) {
            oneToOne = true;
        } else if (!palette && std::strcmp(argv[pathIndex], "--palette") == 0 && pathIndex + 1 < argc) {
            palette = true;
            parsed.args.palettePath = argv[++pathIndex];
        } else if (!layer && std::strcmp(argv[pathIndex], "--layer") == 0 && pathIndex + 3 < argc) {
            layer = true;
            parsed.args.layer = argv[++pathIndex];
        } else {
            break;
        }
    }
    if (argc - pathIndex < 2) return UsageRequest<ConverterArgs>(1);
    if (oneToOne) parsed.args.mode = SampleMode::OneToOne;
    parsed.args.inputPath = argv[pathIndex];
    parsed.args.outputPath = argv[pathIndex + 1];
    return parsed;
}

}  // namespace bmp2grid
