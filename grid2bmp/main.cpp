// grid2bmp: turns map text back into an 8-bit BMP picture, or an 8-bit
// indexed PNG, that any viewer or paint program opens; converting that
// picture with bmp2grid in the same mode gives back the same map text.
//
// Exit status 0 when the picture was written, 1 for every failure, each
// failure named by one line on standard output (on standard error from the
// moment the output is opened, if the output is where standard output goes).
#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "bitmap_writer.h"
#include "builtin_palette.h"
#include "grid_command_line.h"
#include "map_reader.h"
#include "messages.h"
#include "palette_file.h"
#include "platform.h"
#include "program_entry.h"
#include "png_writer.h"

namespace {

using namespace bmp2grid;

// Where the map's rows go as they are read. The output is opened once the
// header line has been read: a file that is replaced (through a temporary
// file, so that the previous one stays whole until the map has been read
// to its end) gets each row at once (a BMP's at its place, a PNG's in
// sequence, since PNG stores rows top first as the map does); a target written
// directly (a device, a FIFO, standard output) is opened only once the map
// text has been read in full, and until then the picture is held in memory.
// When the output can't be opened, the rows are read and dropped: bad map
// text is still reported first.
class OutputRows final : public MapRowSink {
public:
    OutputRows(platform::OutputFile& output, std::string path, const ColourTable& palette, PictureFormat format,
               SampleMode mode, std::int64_t textBytes)
        : output_(output), path_(std::move(path)), bmp_(output, palette), png_(output, palette),
          format_(format), writer_(format == PictureFormat::Png ? static_cast<MapRowSink&>(png_) : bmp_),
          collector_(mode, textBytes) {}

    void Begin(std::int64_t width, std::int64_t rows) override {
        opened_ = output_.Open(path_, platform::OutputFile::Targets::ReplacedOnly);
        width_ = width;
        if (opened_ == platform::OutputFile::OpenStatus::Ok) {
            writer_.Begin(width, rows);
        } else if (opened_ == platform::OutputFile::OpenStatus::Direct) {
            collector_.Begin(width, rows);
        }
    }
    std::uint8_t* Row(std::int64_t y) override {
        switch (opened_) {
            case platform::OutputFile::OpenStatus::Ok:
                return writer_.Row(y);
            case platform::OutputFile::OpenStatus::Direct:
                return collector_.Row(y);
            case platform::OutputFile::OpenStatus::CantOpen:
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
        if (opened_ == platform::OutputFile::OpenStatus::Ok) writer_.RowDone(y);
    }

    platform::OutputFile::OpenStatus opened() const { return opened_; }
    bool written() const { return format_ == PictureFormat::Png ? png_.ok() : bmp_.ok(); }
    const IndexedPicture& picture() const { return collector_.picture; }

private:
    platform::OutputFile& output_;
    std::string path_;
    platform::OutputFile::OpenStatus opened_ = platform::OutputFile::OpenStatus::CantOpen;
    std::int64_t width_ = 0;
    BitmapRowWriter bmp_;
    PngRowWriter png_;
    PictureFormat format_;
    MapRowSink& writer_;  // bmp_ or png_
    PictureCollector collector_;
    std::vector<std::uint8_t> dropped_;
};

}  // namespace

int ProgramMain(int argc, char** argv) {
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

    ColourTable palette = BuiltInPalette();
    if (args.palettePath) {
        const std::string& path = *args.palettePath;
        const PaletteResult source = ReadPalette(InputPathToOpen(path), path);
        if (!source.ok()) return messages.Fail(PaletteFailureMessage(source, path));
        palette = source.colours;  // entries past the palette's colours are black
    }

    // Closed before the output takes its place: the output may replace the
    // map text itself, which Windows refuses while it is open.
    auto input = std::make_unique<platform::InputFile>();
    if (input->Open(InputPathToOpen(args.mapPath)) != platform::ReadStatus::Ok)
        return messages.Fail("Can't open " + args.mapPath + "\n");
    // The map text is read in blocks (a smaller one for a small file) and
    // never held whole.
    constexpr std::int64_t kBlockBytes = std::int64_t{1} << 20;
    ByteBuffer block;
    if (!block.Reserve(static_cast<std::size_t>(input->IsRegularFile() ? std::min(input->Size() + 1, kBlockBytes) : kBlockBytes)))
        return messages.Fail("Can't convert " + args.mapPath + ": not enough memory\n");

    platform::OutputFile output;
    OutputRows rows(output, OutputPathToOpen(args.outputPath), palette, args.format, args.mode,
                    input->IsRegularFile() ? input->Size() : -1);
    MapTextReader reader(args.mode, rows,
                         args.format == PictureFormat::Png ? PngMaxWidth() : std::numeric_limits<std::int32_t>::max());
    for (;;) {
        const long long n = input->Read(block.data(), block.capacity());
        if (n < 0) return messages.Fail("Can't open " + args.mapPath + "\n");
        if (n == 0 || !reader.Feed(reinterpret_cast<const char*>(block.data()), static_cast<std::size_t>(n))) break;
    }
    const MapTextSummary map = reader.Finish();
    input.reset();
    // The output is put in place only once the map text has been read in full.
    if (!map.ok()) return messages.Fail(MapTextFailureMessage(map, args.mapPath));

    if (rows.opened() == platform::OutputFile::OpenStatus::Direct) {
        // Written in sequence, from the picture held in memory.
        platform::OutputFile direct;
        const platform::OutputFile::OpenStatus opened = direct.Open(OutputPathToOpen(args.outputPath));
        messages.Follow(direct);
        if (opened != platform::OutputFile::OpenStatus::Ok) return messages.Fail("Can't open " + args.outputPath + "\n");
        const bool written = args.format == PictureFormat::Png ? WritePng(direct, rows.picture(), palette)
                                                                : WriteBitmap(direct, rows.picture(), palette);
        if (!written || !direct.Commit())
            return messages.Fail("Can't write " + args.outputPath + "\n");
    } else {
        messages.Follow(output);
        if (rows.opened() != platform::OutputFile::OpenStatus::Ok) return messages.Fail("Can't open " + args.outputPath + "\n");
        if (!rows.written() || !output.Commit()) return messages.Fail("Can't write " + args.outputPath + "\n");
    }
    messages.Print(MapSizeReport(map));
    if (map.cellsWithExtraValues > 0) messages.Print(ExtraValuesNote(map));
    return 0;
}
