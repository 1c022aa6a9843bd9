#include "convert_map.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_writer.h"
#include "builtin_palette.h"
#include "diagnostics.h"
#include "map_reader.h"
#include "output_target.h"
#include "palette_file.h"
#include "platform.h"
#include "png_writer.h"
#include "tile_sheet.h"
#include "tiled_writer.h"

namespace bmp2grid {

namespace {

// Where the map's rows go as they are read. The output is prepared once
// the header line has been read (no temporary file waits beside the target
// while a slow input arrives). An output replaced through a temporary file
// (so that the previous one stays whole until the map has been read to its
// end) gets each row at once (a BMP's at its place, a PNG's in sequence,
// since PNG stores rows top first as the map does); for an output written
// directly the picture is held in memory until the map text has been read
// in full. When the output can't be made, the rows are read and dropped:
// bad map text is still reported first.
class OutputRows final : public MapRowSink {
public:
    OutputRows(OutputTarget& output, MapRowSink& writer, std::int64_t textBytes, SampleMode mode)
        : output_(output), writer_(writer), collector_(mode, textBytes) {}

    void Begin(std::int64_t width, std::int64_t rows) override {
        const OutputTarget::Plan plan = output_.Prepare();
        width_ = width;
        if (plan == OutputTarget::Plan::Replaced) {
            writer_.Begin(width, rows);
        } else if (plan == OutputTarget::Plan::Direct) {
            collector_.Begin(width, rows);
        }
    }
    std::uint8_t* Row(std::int64_t y) override {
        switch (output_.plan()) {
            case OutputTarget::Plan::Replaced:
                return writer_.Row(y);
            case OutputTarget::Plan::Direct:
                return collector_.Row(y);
            case OutputTarget::Plan::CantOpen:
                break;
        }
        try {
            dropped_.resize(static_cast<std::size_t>(width_));
        } catch (const std::exception&) {
            return nullptr;
        }
        return dropped_.data();
    }
    void RowDone(std::int64_t y) override {
        if (output_.plan() == OutputTarget::Plan::Replaced) writer_.RowDone(y);
    }

    const IndexedPicture& picture() const { return collector_.picture; }

private:
    OutputTarget& output_;
    MapRowSink& writer_;
    PictureCollector collector_;
    std::int64_t width_ = 0;
    std::vector<std::uint8_t> dropped_;
};

}  // namespace

bool ConvertMap(const GridArgs& args, MessageLines& lines) {

    // Plan the output: a name that can never work is refused before
    // anything is read; the rest waits until the palette and the map text
    // have been opened.
    OutputTarget output(args.outputPath, &lines);
    const bool tiledMap = args.format == PictureFormat::Tmx || args.format == PictureFormat::Tmj;
    // A Tiled map names its tile sheet, a second file, beside it: standard
    // output has no folder to put it in.
    if (tiledMap && args.outputPath == "-") return output.Fail(TiledMapNeedsAFolderMessage(args.outputPath));
    if (!output.Possible()) return output.Fail(CantOpenMessage(args.outputPath));
    const std::string sheetPath = SheetPathBeside(args.outputPath);
    OutputTarget sheet(sheetPath, &lines);
    if (tiledMap && !sheet.Possible()) return output.Fail(CantOpenMessage(sheetPath));
    // The map is the output the user named and may replace its own map
    // text; the sheet is not, and must never take the map text's place.
    if (tiledMap && platform::SameExistingFile(sheetPath, InputPathToOpen(args.mapPath)))
        return output.Fail(SheetIsTheInputMessage(sheetPath));
    ColourTable palette = BuiltInPalette();
    if (args.palettePath) {
        const std::string& path = *args.palettePath;
        const PaletteResult source = ReadPalette(InputPathToOpen(path), path);
        if (!source.ok()) return output.Fail(PaletteFailureMessage(source, path));
        palette = source.colours;  // entries past the palette's colours are black
    }
    // Closed before the output takes its place: the output may replace the
    // map text itself, which Windows refuses while it is open.
    auto input = std::make_unique<platform::InputFile>();
    if (input->Open(InputPathToOpen(args.mapPath)) != platform::ReadStatus::Ok)
        return output.Fail(CantOpenMessage(args.mapPath));
    // The map text is read in blocks (a smaller one for a small file) and
    // never held whole.
    constexpr std::int64_t kBlockBytes = std::int64_t{1} << 20;
    ByteBuffer block;
    if (!block.Reserve(static_cast<std::size_t>(input->IsRegularFile() ? std::min(input->Size() + 1, kBlockBytes)
                                                                        : kBlockBytes)))
        return output.Fail(NoMemoryMessage(args.mapPath));

    // Read the map text (the load and the check in one): each row goes to a
    // replaced output as it is read.
    const bool png = args.format == PictureFormat::Png;
    const TiledFormat tiledFormat = args.format == PictureFormat::Tmj ? TiledFormat::Tmj : TiledFormat::Tmx;
    BitmapRowWriter bmpWriter(output.replaced(), palette);
    PngRowWriter pngWriter(output.replaced(), palette);
    const std::string sheetName = tiled::SheetFileName(FileNameOf(args.outputPath));
    TiledRowWriter tiledWriter(output.replaced(), tiledFormat, args.mode, sheetName);
    MapRowSink& writer = tiledMap ? static_cast<MapRowSink&>(tiledWriter)
                         : png    ? static_cast<MapRowSink&>(pngWriter)
                                  : static_cast<MapRowSink&>(bmpWriter);
    OutputRows rows(output, writer, input->IsRegularFile() ? input->Size() : -1, args.mode);
    MapTextReader reader(args.mode, rows, png ? PngMaxWidth() : std::numeric_limits<std::int32_t>::max());
    for (;;) {
        const long long n = input->Read(block.data(), block.capacity());
        if (n < 0) return output.Fail(CantOpenMessage(args.mapPath));
        if (n == 0 || !reader.Feed(reinterpret_cast<const char*>(block.data()), static_cast<std::size_t>(n))) break;
    }
    const MapTextSummary map = reader.Finish();
    input.reset();
    // The output is put in place only once the map text has been read in full.
    if (!map.ok()) return output.Fail(MapTextFailureMessage(map, args.mapPath));
    if (!output.Open()) return output.Fail(CantOpenMessage(args.outputPath));

    // A replaced output that failed as its rows came is not written on.
    bool written = tiledMap ? tiledWriter.ok() : png ? pngWriter.ok() : bmpWriter.ok();
    if (!written) return output.Fail(CantWriteMessage(args.outputPath));

    // A Tiled map's tile sheet is put in place before the map that names it.
    if (tiledMap) {
        sheet.Prepare();
        if (!sheet.Open()) return output.Fail(CantOpenMessage(sheetPath));
        if (!WriteTileSheet(sheet.file(), palette, tiled::ShapeFor(args.mode)) || !sheet.Commit())
            return output.Fail(CantWriteMessage(sheetPath));
    }

    // Write what a direct output still lacks, and commit.
    if (output.plan() == OutputTarget::Plan::Direct) {
        written = tiledMap ? WriteTiledMap(output.file(), rows.picture(), tiledFormat, args.mode, sheetName)
                  : png    ? WritePng(output.file(), rows.picture(), palette)
                           : WriteBitmap(output.file(), rows.picture(), palette);
    }
    if (!written || !output.Commit()) return output.Fail(CantWriteMessage(args.outputPath));
    output.Print(MapSizeReport(map));
    if (map.cellsWithExtraValues > 0) output.Print(ExtraValuesNote(map), LineKind::Note);
    return true;
}

}  // namespace bmp2grid
