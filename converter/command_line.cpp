#include "command_line.h"

#include <cstdio>
#include <cstring>

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
    if (AsksForHelp(argc, argv)) return UsageRequest<ConverterArgs>(0);
    if (AsksForVersion(argc, argv)) return VersionRequest<ConverterArgs>();
    if (argc < 3) return UsageRequest<ConverterArgs>(1);
    ParsedCommandLine parsed;
    int pathIndex = 1;
    if (std::strcmp(argv[1], "-1") == 0) {
        if (argc < 4) return UsageRequest<ConverterArgs>(1);
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

std::string LoadErrorReason(const LoadResult& result) {
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

std::string LoadFailureMessage(const LoadResult& result, const std::string& path) {
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

std::string RowsFailureMessage(const BitmapImage& image, const std::string& path) {
    if (image.rowSource != nullptr) {
        const LoadResult failure = image.rowSource->Failure();
        if (failure.error != LoadError::ReadFailed && failure.error != LoadError::None)
            return LoadFailureMessage(failure, path);
    }
    return "Can't convert " + path + ": pixel data could not be read\n";
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
