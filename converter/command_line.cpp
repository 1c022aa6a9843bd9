#include "command_line.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform.h"

namespace bmp2grid {

bool AsksForHelp(int argc, const char* const* argv) {
    return argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0);
}

bool AsksForVersion(int argc, const char* const* argv) {
    return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

std::string VersionLine(const char* program) {
    return std::string(program) + " " BMP2GRID_VERSION "\n";
}

std::string InputPathToOpen(const std::string& argument) {
    return argument == "-" ? platform::StandardInputPath() : argument;
}

std::string OutputPathToOpen(const std::string& argument) {
    return argument == "-" ? platform::StandardOutputPath() : argument;
}

std::string ProgramName(const char* programName, const char* fallback) {
    return programName != nullptr ? programName : fallback;
}

ParsedCommandLine ParseArguments(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
    if (AsksForHelp(argc, argv)) {
        parsed.action = ParsedCommandLine::Action::ShowHelp;
        return parsed;
    }
    if (AsksForVersion(argc, argv)) return VersionRequest<ConverterArgs>();
    bool oneToOne = false;
    bool palette = false;
    int pathIndex = 1;
    for (; pathIndex < argc; ++pathIndex) {
        if (!oneToOne && std::strcmp(argv[pathIndex], "-1") == 0) {
            oneToOne = true;
        } else if (!palette && std::strcmp(argv[pathIndex], "--palette") == 0 && pathIndex + 1 < argc) {
            palette = true;
            parsed.args.palettePath = argv[++pathIndex];
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

std::string UsageLine(const char* programName) {
    return "Usage: " + ProgramName(programName, "bmp2grid") + " [-1] <infile> <outfile>\n";
}

std::string HelpText(const char* programName) {
    return UsageLine(programName) +
           "  -1                 one map cell per picture column, not per two\n"
           "  --palette PALETTE  cells hold each pixel's colour's index in PALETTE (a picture, .gpl or .pal)\n"
           "  --version          print the version\n";
}

std::string LoadErrorReason(const LoadFailure& result) {
    switch (result.error) {
        case LoadError::None:
        case LoadError::CantOpen:
        case LoadError::ReadFailed:
        case LoadError::NotEightBit:
            return {};
        case LoadError::FileShorterThanHeader:
            return "file is shorter than a bitmap file header";
        case LoadError::OffsetIntoFileHeader:
            return "pixel data offset points into the file header";
        case LoadError::EndsBeforePixelData:
            return "file ends before the pixel data";
        case LoadError::InfoHeaderTooShort:
            return "bitmap info header is too short";
        case LoadError::UnsupportedCompression:
            return "unsupported compression " + std::to_string(result.compression);
        case LoadError::NegativeWidth:
            return "negative width";
        case LoadError::HeightOutOfRange:
            return "height is out of range";
        case LoadError::Rle8TopDown:
            return "RLE8 picture is stored top-down";
        case LoadError::PixelDataTruncated:
            return "pixel data is truncated";
        case LoadError::CorruptRle:
            return "corrupt RLE data";
        case LoadError::TooLarge:
            return "picture is too large";
        case LoadError::NoMemory:
            return "not enough memory";
        case LoadError::PngWithoutIndices:
            return "PNG colour type " + std::to_string(result.pngColourType) + " bit depth " +
                   std::to_string(result.pngBitDepth) + " carries no palette indices";
        case LoadError::PngRefused:
            return result.reason;
    }
    return {};
}

std::string LoadFailureMessage(const LoadFailure& result, const std::string& path) {
    switch (result.error) {
        case LoadError::CantOpen:
        case LoadError::ReadFailed:
            return "Can't open " + path + "\n";
        case LoadError::NotEightBit:
            return "Only 8bpp bitmaps are supported!\n";
        default:
            break;
    }
    return "Can't convert " + path + ": " + LoadErrorReason(result) + "\n";
}

std::string RowsFailureMessage(const LoadFailure& failure, const std::string& path) {
    if (failure.error != LoadError::ReadFailed && failure.error != LoadError::None)
        return LoadFailureMessage(failure, path);
    return "Can't convert " + path + ": pixel data could not be read\n";
}

namespace {

std::string_view PaletteErrorReason(PaletteError error) {
    switch (error) {
        case PaletteError::None:
        case PaletteError::Picture:
            return {};
        case PaletteError::NotGimpPalette:
            return "not a GIMP palette";
        case PaletteError::NotJascPalette:
            return "not a JASC palette";
        case PaletteError::NotJascVersion:
            return "not JASC palette version 0100";
        case PaletteError::NotColourCount:
            return "not a colour count";
        case PaletteError::NotAColour:
            return "not a colour";
        case PaletteError::ValueOutOfRange:
            return "value out of 0..255";
        case PaletteError::FewerColours:
            return "fewer colours than announced";
        case PaletteError::MoreColours:
            return "more colours than announced";
        case PaletteError::NoColours:
            return "no colours";
    }
    return {};
}

}  // namespace

std::string PaletteFailureMessage(const PaletteResult& result, const std::string& path) {
    if (result.error == PaletteError::Picture) return LoadFailureMessage(result.picture, path);
    return "Can't convert " + path + ": line " + std::to_string(result.line) + ": " +
           std::string(PaletteErrorReason(result.error)) + "\n";
}

std::string PaletteMatchFailureMessage(const PaletteMatch& match, const std::string& inputPath,
                                       const std::string& palettePath) {
    const std::string at = " at column " + std::to_string(match.column) + ", row " + std::to_string(match.row);
    switch (match.error) {
        case PaletteMatchError::None:
            return {};
        case PaletteMatchError::UnknownColour: {
            char colour[8];
            std::snprintf(colour, sizeof colour, "#%02X%02X%02X", match.rgb[0], match.rgb[1], match.rgb[2]);
            return "Can't convert " + inputPath + ": colour " + colour + at + " is not in " + palettePath + "\n";
        }
        case PaletteMatchError::IndexPastTable:
            return "Can't convert " + inputPath + ": index " + std::to_string(match.index) + at +
                   " is past the picture's " + std::to_string(match.pictureColours) + " colours\n";
        case PaletteMatchError::InputFailed:
            return "Can't convert " + inputPath + ": pixel data could not be read\n";
        case PaletteMatchError::NoMemory:
            return "Can't convert " + inputPath + ": not enough memory\n";
    }
    return {};
}

std::string SizeReport(const Picture& image) {
    char line[160];
    std::snprintf(line, sizeof line, "Size: %lldx%lld (should be %lld bytes, is %lld bytes)\n",
                  static_cast<long long>(image.width), static_cast<long long>(image.rows),
                  static_cast<long long>(image.width * image.rows),
                  static_cast<long long>(image.storedBytes));
    return line;
}

}  // namespace bmp2grid
