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
    BatchOptions& batch = parsed.batch;
    for (; pathIndex < argc; ++pathIndex) {
        // Paths still to come after an option: an input for the batch
        // form, an input and an output for the single one.
        const int pathsAfter = batch.outDir ? 1 : 2;
        const int taken = TakeBatchOption(argc, argv, pathIndex, pathsAfter, batch);
        if (taken < 0) return UsageRequest<ConverterArgs>(1);
        if (taken > 0) {
            pathIndex += taken - 1;
        } else if (!oneToOne && std::strcmp(argv[pathIndex], "-1") == 0) {
            oneToOne = true;
        } else if (!palette && std::strcmp(argv[pathIndex], "--palette") == 0 && pathIndex + 1 < argc) {
            palette = true;
            parsed.args.palettePath = argv[++pathIndex];
        } else if (!layer && std::strcmp(argv[pathIndex], "--layer") == 0 && pathIndex + 1 + pathsAfter < argc) {
            layer = true;
            parsed.args.layer = argv[++pathIndex];
        } else {
            break;
        }
    }
    if (oneToOne) parsed.args.mode = SampleMode::OneToOne;
    if (batch.outDir) {
        if (pathIndex == argc) return UsageRequest<ConverterArgs>(1);
        batch.inputs.assign(argv + pathIndex, argv + argc);
        return parsed;
    }
    // "-r" and "-j" are for the batch form only.
    if (argc - pathIndex < 2 || batch.recursive || batch.jobs != 0) return UsageRequest<ConverterArgs>(1);
    parsed.args.inputPath = argv[pathIndex];
    parsed.args.outputPath = argv[pathIndex + 1];
    return parsed;
}

}  // namespace bmp2grid
