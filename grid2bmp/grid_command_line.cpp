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

std::string GridUsageLine(const char* programName) {
    return "Usage: " + ProgramName(programName, "grid2bmp") +
           " [-1] [--palette PICTURE] [--format png|bmp] <maptext> <outfile>\n";
}

std::string_view MapTextErrorReason(MapTextError error) {
    switch (error) {
        case MapTextError::None:
            return {};
        case MapTextError::MissingHeader:
            return "missing header";
        case MapTextError::TooLarge:
            return "picture would be too large";
        case MapTextError::NoCells:
            return "no cells to draw";
        case MapTextError::WrongCellCount:
            return "wrong cell count";
        case MapTextError::NotANumber:
            return "not a number";
        case MapTextError::ValueOutOfRange:
            return "value out of 0..255";
        case MapTextError::NeedsFiveValues:
            return "a cell needs five values";
        case MapTextError::FewerRows:
            return "fewer rows than announced";
        case MapTextError::MoreRows:
            return "more rows than announced";
        case MapTextError::NoMemory:
            return "not enough memory";
    }
    return {};
}

std::string MapTextFailureMessage(const MapTextSummary& result, const std::string& path) {
    return "Can't convert " + path + ": line " + std::to_string(result.line) + ": " +
           std::string(MapTextErrorReason(result.error)) + "\n";
}

std::string MapSizeReport(const MapTextSummary& result) {
    return "Size: " + std::to_string(result.width) + "x" + std::to_string(result.rows) + "\n";
}

std::string ExtraValuesNote(const MapTextSummary& result) {
    const std::int64_t cells = result.cellsWithExtraValues;
    if (cells <= 0) return {};
    return "Note: " + std::to_string(cells) + (cells == 1 ? " cell" : " cells") +
           " carried values other than 0 after the first; the picture keeps only the first\n";
}

}  // namespace bmp2grid
