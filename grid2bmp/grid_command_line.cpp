#include "grid_command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

namespace bmp2grid {

namespace {

struct FormatName {
    const char* name;  // as --format takes it; the output's name ends in "." and it
    PictureFormat format;
};
constexpr FormatName kFormats[] = {
    {"bmp", PictureFormat::Bmp},
    {"png", PictureFormat::Png},
    {"tmx", PictureFormat::Tmx},
    {"tmj", PictureFormat::Tmj},
};

// Whether `path` ends in "." and `name`, in any case.
bool EndsInExtension(const std::string& path, const char* name) {
    const std::string ending = std::string(".") + name;
    return path.size() >= ending.size() &&
           std::equal(path.end() - static_cast<std::ptrdiff_t>(ending.size()), path.end(), ending.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

ParsedArguments<GridArgs> ParseGridArguments(int argc, const char* const* argv) {
    if (AsksForHelp(argc, argv)) {
        ParsedArguments<GridArgs> help;
        help.action = ParsedArguments<GridArgs>::Action::ShowHelp;
        return help;
    }
    if (AsksForVersion(argc, argv)) return VersionRequest<GridArgs>();
    ParsedArguments<GridArgs> parsed;
    const FormatName* format = nullptr;
    int i = 1;
    BatchOptions& batch = parsed.batch;
    for (; i < argc; ++i) {
        const int taken = TakeBatchOption(argc, argv, i, 1, batch);
        if (taken < 0) return UsageRequest<GridArgs>(1);
        if (taken > 0) {
            i += taken - 1;
        } else if (std::strcmp(argv[i], "-1") == 0) {
            parsed.args.mode = SampleMode::OneToOne;
        } else if (std::strcmp(argv[i], "--palette") == 0) {
            if (i + 1 >= argc) return UsageRequest<GridArgs>(1);
            parsed.args.palettePath = argv[++i];
        } else if (std::strcmp(argv[i], "--format") == 0) {
            if (i + 1 >= argc) return UsageRequest<GridArgs>(1);
            const char* name = argv[++i];
            format = std::find_if(std::begin(kFormats), std::end(kFormats),
                                  [&](const FormatName& f) { return std::strcmp(f.name, name) == 0; });
            if (format == std::end(kFormats)) return UsageRequest<GridArgs>(1);
        } else {
            break;
        }
    }
    if (batch.outDir) {
        if (i == argc) return UsageRequest<GridArgs>(1);
        batch.inputs.assign(argv + i, argv + argc);
        parsed.args.format = format != nullptr ? format->format : PictureFormat::Bmp;
        return parsed;
    }
    // "-r" and "-j" are for the batch form only.
    if (argc - i != 2 || batch.recursive || batch.jobs != 0) return UsageRequest<GridArgs>(1);
    parsed.args.mapPath = argv[i];
    parsed.args.outputPath = argv[i + 1];
    if (format == nullptr) {
        format = std::find_if(std::begin(kFormats), std::end(kFormats), [&](const FormatName& f) {
            return EndsInExtension(parsed.args.outputPath, f.name);
        });
    }
    parsed.args.format = format != std::end(kFormats) ? format->format : PictureFormat::Bmp;
    return parsed;
}

const char* ExtensionOf(PictureFormat format) {
    for (const FormatName& f : kFormats) {
        if (f.format == format) return f.name;
    }
    return "bmp";
}

bool IsMapTextName(const std::string& path) { return EndsInExtension(path, "txt"); }

}  // namespace bmp2grid
