#include "grid_command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace bmp2grid {

ParsedArguments<GridArgs> ParseGridArguments(int argc, const char* const* argv) {
    if (AsksForHelp(argc, argv)) return UsageRequest<GridArgs>(0);
    if (AsksForVersion(argc, argv)) return VersionRequest<GridArgs>();
    ParsedArguments<GridArgs> parsed;
    const char* format = nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "-1") == 0) {
            parsed.args.mode = SampleMode::OneToOne;
        } else if (std::strcmp(argv[i], "--palette") == 0) {
            if (i + 1 >= argc) return UsageRequest<GridArgs>(1);
            parsed.args.palettePath = argv[++i];
        } else if (std::strcmp(argv[i], "--format") == 0) {
            if (i + 1 >= argc) return UsageRequest<GridArgs>(1);
            format = argv[++i];
            if (std::strcmp(format, "png") != 0 && std::strcmp(format, "bmp") != 0) return UsageRequest<GridArgs>(1);
        } else {
            break;
        }
    }
    if (argc - i != 2) return UsageRequest<GridArgs>(1);
    parsed.args.mapPath = argv[i];
    parsed.args.outputPath = argv[i + 1];
    const std::string& out = parsed.args.outputPath;
    const bool pngName = out.size() >= 4 && std::equal(out.end() - 4, out.end(), ".png", [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    const bool png = format != nullptr ? std::strcmp(format, "png") == 0 : pngName;
    parsed.args.format = png ? PictureFormat::Png : PictureFormat::Bmp;
    return parsed;
}

}  // namespace bmp2grid
