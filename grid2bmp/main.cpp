// grid2bmp: turns map text back into an 8-bit BMP picture that any viewer or
// paint program opens; converting that picture with bmp2grid in the same
// mode gives back the same map text.
//
// Exit status 0 when the picture was written, 1 for every failure, each
// failure named by one line on standard output (on standard error from the
// moment the output is opened, if the output is where standard output goes).
#include <cstdio>
#include <string>

#include "bitmap_loader.h"
#include "bitmap_writer.h"
#include "grid_command_line.h"
#include "map_reader.h"
#include "messages.h"
#include "platform.h"

int main(int argc, char** argv) {
    using namespace bmp2grid;
    platform::KeepStandardStreamsOpen();
    platform::ReportWriteFailuresAsErrors();
    Messages messages;
    const ParsedArguments<GridArgs> parsed = ParseGridArguments(argc, argv);
    if (parsed.action == ParsedArguments<GridArgs>::Action::ShowUsage) {
        messages.Print(GridUsageLine(argc > 0 ? argv[0] : nullptr));
        return parsed.exitStatus;
    }
    if (parsed.action == ParsedArguments<GridArgs>::Action::ShowVersion) {
        messages.Print(VersionLine("grid2bmp"));
        return 0;
    }
    const GridArgs& args = parsed.args;
    // An output name that can never work is refused before anything is read.
    if (!platform::OutputPathIsPossible(OutputPathToOpen(args.outputPath))) return messages.Fail("Can't open " + args.outputPath + "\n");

    Palette palette = DistinctPalette();
    if (!args.palettePath.empty()) {
        const LoadResult source = LoadBitmap(InputPathToOpen(args.palettePath), LoadOptions{});
        if (!source.ok()) return messages.Fail(LoadFailureMessage(source, args.palettePath));
        palette = Palette{};
        for (int i = 0; i < source.image.paletteSize; ++i)
            palette[static_cast<std::size_t>(i)] = source.image.palette[static_cast<std::size_t>(i)];
    }

    ByteBuffer text;
    switch (platform::ReadWholeFile(InputPathToOpen(args.mapPath), text)) {
        case platform::ReadStatus::Ok:
            break;
        case platform::ReadStatus::CantOpen:
        case platform::ReadStatus::ReadFailed:
            return messages.Fail("Can't open " + args.mapPath + "\n");
        case platform::ReadStatus::NoMemory:
            return messages.Fail("Can't convert " + args.mapPath + ": not enough memory\n");
    }
    const MapReadResult map =
        ReadMapText(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), args.mode);
    if (!map.ok()) return messages.Fail(MapTextFailureMessage(map, args.mapPath));

    // The output is touched only once the map text has been read in full.
    platform::OutputFile output;
    const platform::OutputFile::OpenStatus opened = output.Open(OutputPathToOpen(args.outputPath));
    messages.Follow(output);
    if (opened != platform::OutputFile::OpenStatus::Ok) return messages.Fail("Can't open " + args.outputPath + "\n");
    if (!WriteBitmap(output, map.picture, palette) || !output.Commit()) {
        return messages.Fail("Can't write " + args.outputPath + "\n");
    }
    char size[96];
    std::snprintf(size, sizeof size, "Size: %lldx%lld\n", static_cast<long long>(map.picture.width),
                  static_cast<long long>(map.picture.rows));
    messages.Print(size);
    if (const std::int64_t cells = map.cellsWithExtraValues; cells > 0) {
        messages.Print("Note: " + std::to_string(cells) + (cells == 1 ? " cell" : " cells") +
                       " carried values other than 0 after the first; the picture keeps only the first\n");
    }
    return 0;
}
