#include "diagnostics.h"

#include <cstdio>
#include <string>
#include <vector>

namespace bmp2grid {
namespace {

// argv[0], or `fallback` when the program was started without it.
std::string ProgramName(const char* programName, const char* fallback) {
    return programName != nullptr ? programName : fallback;
}

// "Can't convert <path>: <reason>\n": every refusal of an input's content.
std::string CantConvert(const std::string& path, std::string_view reason) {
    return "Can't convert " + path + ": " + std::string(reason) + "\n";
}

// The same for a refusal at a line of a text input (1 is the first).
std::string CantConvertLine(const std::string& path, std::int64_t line, std::string_view reason) {
    return CantConvert(path, "line " + std::to_string(line) + ": " + std::string(reason));
}

std::string PixelDataUnreadable(const std::string& path) { return CantConvert(path, "pixel data could not be read"); }

// The short lower-case reason a GIMP or JASC palette was refused for.
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

// A name a map gives, as a message shows it: its control characters as
// \xNN, so that the message stays one line of text.
std::string Shown(std::string_view name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            shown += c;
            continue;
        }
        static constexpr char kHex[] = "0123456789ABCDEF";
        const char escaped[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
        shown.append(escaped, sizeof escaped);
    }
    return shown;
}

// "\"a\", \"b\"": names quoted, in their order.
std::string QuotedList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        if (!list.empty()) list += ", ";
        list += '"';
        list += Shown(name);
        list += '"';
    }
    return list;
}

// A Tiled map's tile layers: the names kept, and how many more there are.
std::string LayerList(const LoadFailure& result) {
    std::string list = QuotedList(result.names);
    if (result.value > result.names.size()) list += " and " + std::to_string(result.value - result.names.size()) + " more";
    return list;
}

// " at column C, row R": a tile of a Tiled map's layer.
std::string AtTile(const LoadFailure& failure) {
    return " at column " + std::to_string(failure.column) + ", row " + std::to_string(failure.row);
}

std::string TimesText(std::int64_t a, std::int64_t b) { return std::to_string(a) + " x " + std::to_string(b); }

// Why a Tiled map's shape is not read.
std::string ShapeReason(const MapShapeFacts& shape) {
    const std::string tiles = TimesText(shape.tileWidth, shape.tileHeight);
    if (shape.orientation == "isometric" || shape.orientation == "staggered")
        return Shown(shape.orientation) + " maps are not read; only orthogonal maps of square tiles and brick maps are";
    if (shape.orientation == "orthogonal") return "orthogonal map with " + tiles + " tiles: its tiles must be square";
    if (shape.orientation == "hexagonal")
        return "hexagonal map with " + tiles + " tiles, side length " + std::to_string(shape.hexSideLength) +
               ", stagger axis \"" + Shown(shape.staggerAxis) + "\" and index \"" + Shown(shape.staggerIndex) +
               "\" is not a brick map (tiles twice as wide as high, side length their height, stagger axis \"y\" "
               "and index \"odd\")";
    return "map orientation \"" + Shown(shape.orientation) + "\" is not read";
}

}  // namespace

std::string UsageLine(const char* programName) {
    return "Usage: " + ProgramName(programName, "bmp2grid") + " [-1] <infile> <outfile>\n";
}

namespace {

// The batch and watch forms' lines of a program's help, and their options'.
std::string BatchForms(const std::string& program, const char* inputs, const char* input) {
    return "       " + program + " [options] [--watch] --out-dir DIR " + inputs + "...\n" + "       " + program +
           " [options] --watch " + input + " <outfile>\n";
}

constexpr const char* kBatchOptions =
    "  --out-dir DIR      convert each input into DIR/<its name>.<format> (a folder: the files in it)\n"
    "  -r                 with --out-dir: also the folders in a folder, kept as they are in DIR\n"
    "  -j N               with --out-dir: at most N conversions at once (default: one per processor)\n"
    "  --watch            convert again each time an input is saved, until Ctrl-C\n";

}  // namespace

std::string HelpText(const char* programName) {
    const std::string program = ProgramName(programName, "bmp2grid");
    return UsageLine(programName) + BatchForms(program, "PICTURE", "<infile>") +
           "  -1                 one map cell per picture column, not per two\n"
           "  --palette PALETTE  cells hold each pixel's colour's index in PALETTE (a picture, .gpl or .pal)\n"
           "  --layer NAME       read the Tiled map's tile layer NAME\n" +
           kBatchOptions + "  --version          print the version\n";
}

std::string GridUsageLine(const char* programName) {
    return "Usage: " + ProgramName(programName, "grid2bmp") +
           " [-1] [--palette PALETTE] [--format png|bmp|tmx|tmj] <maptext> <outfile>\n";
}

std::string GridHelpText(const char* programName) {
    const std::string program = ProgramName(programName, "grid2bmp");
    return GridUsageLine(programName) + BatchForms(program, "MAP", "<maptext>") +
           "  -1                 the map text has one cell per picture column, not per two\n"
           "  --palette PALETTE  the picture's colours (a picture, .gpl or .pal; default: the built-in palette)\n"
           "  --format FORMAT    png, bmp, tmx or tmj (default: by the output's name; with --out-dir, bmp)\n" +
           kBatchOptions + "  --version          print the version\n";
}

std::string VersionLine(const char* program) {
    return std::string(program) + " " BMP2GRID_VERSION "\n";
}

std::string CantOpenMessage(const std::string& path) { return "Can't open " + path + "\n"; }

std::string CantWriteMessage(const std::string& path) { return "Can't write " + path + "\n"; }

std::string SheetIsTheInputMessage(const std::string& sheetPath) {
    return "Can't write " + sheetPath + ": it is the map text being read; name the map otherwise\n";
}

std::string TiledMapNeedsAFolderMessage(const std::string& path) {
    return "Can't write " + path + ": a Tiled map needs its tile sheet beside it in a folder; name an output file\n";
}

std::string NoMemoryMessage(const std::string& path) { return CantConvert(path, "not enough memory"); }

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
        case LoadError::LayerOfPicture:
            return "--layer picks a tile layer of a Tiled map, and this is a BMP or PNG picture";
        case LoadError::TiledWithPalette:
            return "a Tiled map's tiles are palette indices already: convert it without --palette";
        case LoadError::TiledAsPalette:
            return "a Tiled map holds palette indices, not colours: --palette takes a picture, a .gpl or a .pal file";
        case LoadError::TmjNotBuilt:
            return "this build reads no Tiled JSON maps (it was built without RapidJSON: Debian's rapidjson-dev)";
        case LoadError::TiledNotMap:
            if (result.reason.empty()) return "JSON that is not a Tiled map (no \"type\": \"map\")";
            return "XML that is not a Tiled map (its root element is <" + result.reason + ">)";
        case LoadError::TmxMalformed:
            return "malformed XML at line " + std::to_string(result.row) + ", column " +
                   std::to_string(result.column) + ": " + result.reason;
        case LoadError::TmjMalformed:
            return "malformed JSON at byte " + std::to_string(result.column) + ": " + result.reason;
        case LoadError::TmxEntity:
            return "XML entity \"" + result.reason + "\": entities other than XML's own are not read";
        case LoadError::TiledAttribute:
            return result.names.size() == 2 ? result.names[0] + " has no valid \"" + result.names[1] + "\""
                                            : std::string("map has a faulty attribute");
        case LoadError::TiledShape:
            return ShapeReason(result.shape);
        case LoadError::TiledInfinite:
            return "infinite maps are not read";
        case LoadError::TiledNoTileset:
            return "map has no tileset";
        case LoadError::TiledLateTileset:
            return "a tileset follows the tile layer read";
        case LoadError::TiledNoTileLayer:
            return "map has no tile layer";
        case LoadError::TiledSeveralLayers:
            return "map has several tile layers (" + LayerList(result) + "): pick one with --layer";
        case LoadError::TiledNoSuchLayer:
            return "no tile layer is named \"" + Shown(result.reason) + "\" (the map's tile layers: " + LayerList(result) + ")";
        case LoadError::TiledLayerSize:
            return "layer \"" + (result.names.empty() ? std::string() : Shown(result.names[0])) + "\" is " +
                   TimesText(result.column, result.row) + " tiles, the map " +
                   TimesText(result.shape.width, result.shape.height);
        case LoadError::TiledEncoding:
            return "layer data encoding \"" + Shown(result.reason) + "\" is not read";
        case LoadError::TiledCompression:
            return "layer data compression \"" + Shown(result.reason) + "\" is not read";
        case LoadError::TiledBadData:
            return "layer data is not valid " + (result.names.empty() ? std::string() : result.names[0]) +
                   AtTile(result) + (result.names.size() > 1 ? " (" + result.names[1] + ")" : std::string());
        case LoadError::TiledTileCount: {
            const std::string layer = TimesText(result.column, result.row);
            if (result.value > static_cast<std::uint64_t>(result.column * result.row))
                return "layer data holds more than its " + layer + " tiles";
            return "layer data holds " + std::to_string(result.value) + " tiles, not " + layer;
        }
        case LoadError::TiledEmptyCell:
            return "empty cell" + AtTile(result);
        case LoadError::TiledFlippedTile:
            return "flipped or rotated tile" + AtTile(result);
        case LoadError::TiledValuePast255:
            return "tile " + std::to_string(result.value) + AtTile(result) + " is past 255";
        case LoadError::TiledForeignTile:
            return "tile gid " + std::to_string(result.value) + AtTile(result) + " is not of the map's first tileset";
    }
    return {};
}

std::string LoadFailureMessage(const LoadFailure& result, const std::string& path) {
    switch (result.error) {
        case LoadError::CantOpen:
        case LoadError::ReadFailed:
            return CantOpenMessage(path);
        case LoadError::NotEightBit:
            return "Only 8bpp bitmaps are supported!\n";
        default:
            break;
    }
    return CantConvert(path, LoadErrorReason(result));
}

std::string RowsFailureMessage(const LoadFailure& failure, const std::string& path) {
    if (failure.error != LoadError::ReadFailed && failure.error != LoadError::None)
        return LoadFailureMessage(failure, path);
    return PixelDataUnreadable(path);
}

std::string PaletteFailureMessage(const PaletteResult& result, const std::string& path) {
    if (result.error == PaletteError::Picture) return LoadFailureMessage(result.picture, path);
    return CantConvertLine(path, result.line, PaletteErrorReason(result.error));
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
            return CantConvert(inputPath, "colour " + std::string(colour) + at + " is not in " + palettePath);
        }
        case PaletteMatchError::IndexPastTable:
            return CantConvert(inputPath, "index " + std::to_string(match.index) + at + " is past the picture's " +
                                              std::to_string(match.pictureColours) + " colours");
        case PaletteMatchError::InputFailed:
            return PixelDataUnreadable(inputPath);
        case PaletteMatchError::NoMemory:
            return NoMemoryMessage(inputPath);
    }
    return {};
}

std::string SizeReport(const Picture& picture) {
    char line[160];
    std::snprintf(line, sizeof line, "Size: %lldx%lld (should be %lld bytes, is %lld bytes)\n",
                  static_cast<long long>(picture.width), static_cast<long long>(picture.rows),
                  static_cast<long long>(picture.width * picture.rows),
                  static_cast<long long>(picture.storedBytes));
    return line;
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
    return MapTextFailureMessage(result.error, result.line, path);
}

std::string MapTextFailureMessage(MapTextError error, std::int64_t line, const std::string& path) {
    return CantConvertLine(path, line, MapTextErrorReason(error));
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

std::string TooLargeForPageMessage(const std::string& path, std::int64_t mapTextBytes) {
    return "Can't convert " + path + ": its map text could take up to " + std::to_string(mapTextBytes / 1000000) +
           " MB, more than this page holds (the programs convert it)\n";
}

std::string SameOutputMessage(const std::string& input, const std::string& otherInput, const std::string& output) {
    return "Can't convert " + input + " and " + otherInput + ": both would be written to " + output + "\n";
}

std::string OutDirNotAFolderMessage(const std::string& dir) { return "Can't write into " + dir + ": it is not a folder\n"; }

std::string NothingToConvertMessage(const std::string& folders) { return "Nothing to convert in " + folders + "\n"; }

std::string FileNoteLine(const std::string& input, std::string_view note) { return input + ": " + std::string(note); }

std::string BatchSummaryLine(std::int64_t converted, std::int64_t refused) {
    const std::int64_t total = converted + refused;
    return "Converted " + std::to_string(converted) + " of " + std::to_string(total) +
           (total == 1 ? " file" : " files") + ", refused " + std::to_string(refused) + "\n";
}

std::string BatchProgressText(std::int64_t done, std::int64_t total, double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, rate < 10 ? "%.1f" : "%.0f", rate);
    std::string left = "?:??";
    if (done > 0 && rate > 0) {
        const auto s = static_cast<std::int64_t>(static_cast<double>(total - done) / rate + 0.5);
        char clock[48];
        if (s >= 3600) {
            std::snprintf(clock, sizeof clock, "%lld:%02d:%02d", static_cast<long long>(s / 3600),
                          static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
        } else {
            std::snprintf(clock, sizeof clock, "%d:%02d", static_cast<int>(s / 60), static_cast<int>(s % 60));
        }
        left = clock;
    }
    return std::to_string(done) + "/" + std::to_string(total) + " files, " + rateText + " files/s, " + left + " left";
}

std::string CantWatchMessage(const std::string& folder) { return "Can't watch " + folder + "\n"; }

std::string CantWatchStandardInputMessage() { return "Can't watch standard input; name a file\n"; }

std::string WatchConvertedLine(const std::string& clock, const std::string& input, const std::string& output) {
    return clock + " " + input + ": converted into " + output + "\n";
}

std::string WatchLine(const std::string& clock, std::string_view line) { return clock + " " + std::string(line); }

std::string WatchRemovedLine(const std::string& clock, const std::string& input, const std::string& output) {
    return clock + " " + input + ": removed; " + output + " is left as it is\n";
}

}  // namespace bmp2grid
