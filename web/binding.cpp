// The web page's way into the library: the WebAssembly module's exports.
//
// Bytes come in (a picture or a Tiled map, map text, a palette file) in
// memory the page fills through b2g_alloc, and results leave as bytes the
// page reads from the module's memory: the map text, or the BMP and PNG
// files, the TMX and TMJ maps and their tile sheet, exactly as the programs
// write them, the message line the programs would print, and the picture
// for the page to draw. Nothing passes through a file system. Every rule
// (decoding, reading palettes, sampling, formatting, reading map text,
// writing the BMP, the PNG and the Tiled maps) is the library's; this file
// only moves bytes and results.
//
// Each section of the page holds one result at a time, in a slot of its
// own; each conversion replaces the last. The page runs the module in a Web
// Worker, so a long conversion never blocks it.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bitmap_writer.h"
#include "builtin_palette.h"
#include "byte_buffer.h"
#include "diagnostics.h"
#include "map_reader.h"
#include "map_writer.h"
#include "memory_sink.h"
#include "palette_file.h"
#include "picture_loader.h"
#include "png_writer.h"
#include "tile_sheet.h"
#include "tiled_format.h"
#include "tiled_writer.h"

// Tells the page how far a conversion has come (bytes of output written or of
// input read); the worker passes it on to the page.
EM_JS(void, b2g_report_progress, (double done), {
    if (Module["onProgress"]) Module["onProgress"](done);
});

namespace {

using namespace bmp2grid;

// Hands each row the map text gives to the BMP writer and to the others
// from it: the PNG writer, when the picture is one a PNG can hold, and the
// TMX and TMJ writers. Every file in one reading.
class EveryFormat final : public MapRowSink {
public:
    EveryFormat(BitmapRowWriter& bmp, PngRowWriter& png, TiledRowWriter& tmx, TiledRowWriter& tmj)
        : bmp_(bmp), png_(png), tmx_(tmx), tmj_(tmj) {}

    void Begin(std::int64_t width, std::int64_t rows) override {
        width_ = width;
        pngWanted_ = width <= PngMaxWidth();
        bmp_.Begin(width, rows);
        if (pngWanted_) png_.Begin(width, rows);
        tmx_.Begin(width, rows);
        tmj_.Begin(width, rows);
    }
    std::uint8_t* Row(std::int64_t y) override { return bmp_.Row(y); }
    void RowDone(std::int64_t y) override {
        const std::uint8_t* row = bmp_.Row(y);
        if (pngWanted_ && png_.ok() && !Copy(png_, row, y)) pngNoMemory_ = true;
        if (tmx_.ok()) Copy(tmx_, row, y);
        if (tmj_.ok()) Copy(tmj_, row, y);
        bmp_.RowDone(y);
    }

    // False when the picture is wider than a PNG can be (no PNG was begun).
    bool pngWanted() const { return pngWanted_; }
    bool pngWritten() const { return pngWanted_ && png_.ok() && !pngNoMemory_; }

private:
    // False when the writer had no memory for the row.
    bool Copy(MapRowSink& writer, const std::uint8_t* row, std::int64_t y) {
        std::uint8_t* to = writer.Row(y);
        if (to == nullptr) return false;
        std::memcpy(to, row, static_cast<std::size_t>(width_));
        writer.RowDone(y);
        return true;
    }

    BitmapRowWriter& bmp_;
    PngRowWriter& png_;
    TiledRowWriter& tmx_;
    TiledRowWriter& tmj_;
    std::int64_t width_ = 0;
    bool pngWanted_ = false;
    bool pngNoMemory_ = false;
};

// The map text, kept in pieces of kPieceBytes (the last one shorter), so
// that it never has to be moved to grow, however long it gets; progress is
// told as each piece fills. The page reads the pieces where they are.
class PieceSink final : public OutputSink {
public:
    static constexpr std::size_t kPieceBytes = std::size_t{4} << 20;

    bool Write(const char* data, std::size_t size) override {
        if (!ok_) return false;
        while (size > 0) {
            if (pieces_.empty() || pieces_.back().size() == kPieceBytes) {
                if (!pieces_.empty()) b2g_report_progress(static_cast<double>(this->size()));
                pieces_.emplace_back();
                if (!pieces_.back().Reserve(kPieceBytes)) return ok_ = false;
            }
            ByteBuffer& piece = pieces_.back();
            const std::size_t take = std::min(size, kPieceBytes - piece.size());
            std::memcpy(piece.data() + piece.size(), data, take);
            piece.SetSize(piece.size() + take);
            data += take;
            size -= take;
        }
        return true;
    }
    bool ok() const { return ok_; }
    std::size_t size() const { return pieces_.empty() ? 0 : (pieces_.size() - 1) * kPieceBytes + pieces_.back().size(); }
    const std::vector<ByteBuffer>& pieces() const { return pieces_; }

private:
    std::vector<ByteBuffer> pieces_;
    bool ok_ = true;
};

// The most map text the page makes for one picture: the pieces are held in
// the browser's memory until the page is done with them.
constexpr std::int64_t kPageMapTextLimit = std::int64_t{1} << 30;

// The longest map text a picture `width` x `rows` can give.
std::int64_t LongestMapText(std::int64_t width, std::int64_t rows, SampleMode mode) {
    const auto record = static_cast<std::int64_t>(map_text::kMaxRecordLength);
    const auto lineEnd = static_cast<std::int64_t>(map_text::kLineEnd.size());
    return 48 + rows * (MapColumnCount(width, mode) * record + lineEnd);
}

// The output's progress is told every 1 MiB written.
constexpr std::size_t kProgressStep = std::size_t{1} << 20;
void ReportProgress(std::size_t written) { b2g_report_progress(static_cast<double>(written)); }

// What the last conversion gave.
struct Result {
    bool ok = false;
    std::string message;   // the line the program would print: the failure, or the size report
    std::string note;      // grid2bmp's note about cells with extra values, if any
    MemorySink output{kProgressStep, ReportProgress};  // the map text or the BMP file
    MemorySink png;        // map to picture: the PNG file, when one was written
    std::string pngMessage;  // otherwise the line grid2bmp would print for a PNG output
    MemorySink tmx;        // map to picture: the Tiled maps
    MemorySink tmj;
    MemorySink sheet;      // and the tile sheet both name
    std::string sheetName;
    std::vector<std::string> layerNames;  // picture to map: a refused Tiled map's tile layers
    std::int64_t width = 0;
    std::int64_t rows = 0;
    std::vector<std::uint8_t> pixels;   // the picture's palette indices, top row first
    std::vector<std::uint8_t> palette;  // its colours, as red, green, blue, alpha
    PieceSink mapText;                  // picture to map: the map text
    std::int64_t mapColumns = 0;        // picture to map: cells per map row
    std::vector<std::uint8_t> cells;    // and each cell's value, top row first
};

// Each section of the page keeps its last result here until its next
// conversion (slot 0: picture to map, 1: map to picture, 2: the file of a
// batch under way), so that its downloads are made from it, where it lies.
Result results[3];
int slot = 0;
Result& Current() { return results[slot]; }

SampleMode ModeOf(int oneToOne) { return oneToOne ? SampleMode::OneToOne : SampleMode::TwoToOne; }

// The bytes as the decoder takes them (a copy it owns).
bool CopyBytes(const std::uint8_t* data, std::size_t size, ByteBuffer& file) {
    if (!file.Reserve(size + 1)) return false;
    if (size > 0) std::memcpy(file.data(), data, size);
    file.SetSize(size);
    return true;
}

// Decodes a picture's bytes with the library's loader, which picks the
// format by its content (a PNG, a Tiled map, or else a BMP): the one place
// the page's pictures are decoded. `layer` is bmp2grid's --layer (null when
// not given). Only the picture's header is read here: a BMP's rows are its
// bytes, a PNG's or a Tiled map's are decoded by HoldRows.
LoadResult OpenBytes(const std::uint8_t* data, std::size_t size, const char* layer = nullptr) {
    ByteBuffer file;
    if (!CopyBytes(data, size, file)) return Refused(LoadError::NoMemory);
    LoadOptions options;
    if (layer != nullptr) options.tileLayer = std::string(layer);
    return DecodePicture(std::move(file), options);
}

// The page keeps the picture, so its rows are all had at once: a picture
// whose rows are decoded as they are read (a PNG's, a Tiled map's) is read
// into memory here, since such rows can be read only once. A fault in them
// refuses the picture with the line bmp2grid prints for it, without the
// size report before it.
LoadResult HoldRows(LoadResult loaded) {
    if (!loaded.ok() || loaded.picture.Where() != PixelStore::Kept::AsDecoded) return loaded;
    const Picture& streamed = loaded.picture;
    std::unique_ptr<RowReader> rows = streamed.ReadRows();
    ByteBuffer held;
    const auto count = static_cast<std::size_t>(streamed.width * streamed.rows);
    if (rows == nullptr || !held.Reserve(count + 1)) return Refused(LoadError::NoMemory);
    held.SetSize(count);
    for (std::int64_t y = 0; y < streamed.rows; ++y) {
        const std::uint8_t* row = rows->Row(y);
        if (row == nullptr) return Refused(rows->Failure());
        if (streamed.width > 0) std::memcpy(held.data() + y * streamed.width, row, static_cast<std::size_t>(streamed.width));
    }
    rows.reset();  // before the store it reads goes
    Picture picture = streamed;
    const std::uint8_t* top = held.data();
    picture.pixels = std::make_shared<HeldPixels>(std::move(held), top, streamed.width);
    loaded.picture = std::move(picture);
    return loaded;
}

LoadResult DecodeBytes(const std::uint8_t* data, std::size_t size) { return HoldRows(OpenBytes(data, size)); }

// A palette as red, green, blue, alpha (1024 bytes), as the page draws.
void ToRgba(const ColourTable& palette, std::uint8_t* rgba) {
    for (std::size_t i = 0; i < 256; ++i) {
        rgba[i * 4 + 0] = palette[i][2];
        rgba[i * 4 + 1] = palette[i][1];
        rgba[i * 4 + 2] = palette[i][0];
        rgba[i * 4 + 3] = 255;
    }
}

// Keeps a decoded picture's indices and colours for the page to draw; a
// picture without colours of its own (a Tiled map, whose tiles are palette
// indices) is drawn in grid2bmp's built-in colours.
void KeepPicture(const Picture& image) {
    Current().width = image.width;
    Current().rows = image.rows;
    const auto count = static_cast<std::size_t>(image.width * image.rows);
    Current().pixels.assign(count, 0);
    for (std::int64_t y = 0; y < image.rows; ++y) {
        if (image.width > 0)
            std::memcpy(Current().pixels.data() + y * image.width, image.Row(y), static_cast<std::size_t>(image.width));
    }
    Current().palette.assign(256 * 4, 0);
    ToRgba(image.colourCount > 0 ? image.colours : BuiltInPalette(), Current().palette.data());
}

// Keeps the map's cells (the value each reads) for the page's preview.
void KeepCells(SampleMode mode) {
    Current().mapColumns = MapColumnCount(Current().width, mode);
    Current().cells.assign(static_cast<std::size_t>(Current().mapColumns * Current().rows), 0);
    for (std::int64_t y = 0; y < Current().rows; ++y) {
        const std::uint8_t* row = Current().pixels.data() + y * Current().width;
        std::uint8_t* cells = Current().cells.data() + y * Current().mapColumns;
        // Cell by cell, a step further right each, wrapping at the right
        // edge: what SampledColumn gives, without a division per cell.
        std::int64_t x = Current().mapColumns > 0 ? SampledColumn(0, y, Current().width, mode) : 0;
        for (std::int64_t c = 0; c < Current().mapColumns; ++c) {
            cells[c] = row[x];
            x += ColumnStep(mode);
            if (x >= Current().width) x -= Current().width;
        }
    }
}

void Reset() { Current() = Result{}; }

bool Refuse(std::string message) {
    Current().ok = false;
    Current().message = std::move(message);
    return false;
}

// A picture refused: the line bmp2grid prints, and the tile layers a Tiled
// map's refusal names for --layer to pick from.
bool RefusePicture(const LoadFailure& failure, const std::string& message) {
    if (failure.error == LoadError::TiledSeveralLayers || failure.error == LoadError::TiledNoSuchLayer)
        Current().layerNames = failure.names;
    return Refuse(message);
}

}  // namespace

extern "C" {

// Memory for bytes the page hands over (null when there is none).
EMSCRIPTEN_KEEPALIVE void* b2g_alloc(std::size_t size) { return std::malloc(size > 0 ? size : 1); }
EMSCRIPTEN_KEEPALIVE void b2g_free(void* data) { std::free(data); }

// bmp2grid [-1] [--layer <layer>] <name> <name>.txt on the picture's bytes
// (a picture or a Tiled map; `layer` null for no --layer). Returns 1 when
// the map text was written (b2g_output_size its length, b2g_piece_count,
// b2g_piece and b2g_piece_size its pieces, kept until the slot's next
// conversion); with `keep`, b2g_width and b2g_rows then describe the
// picture and b2g_map_cell_columns and b2g_cells the map's cells, kept for
// b2g_paint and the page's tooltip. Returns 0 when the picture was refused (b2g_message holds
// the program's line; b2g_layer_name lists the tile layers a Tiled map's
// refusal names), or when its map text would be more than the page holds
// (refused before its rows are decoded).
EMSCRIPTEN_KEEPALIVE int b2g_picture_to_map(const std::uint8_t* data, std::size_t size, int oneToOne,
                                            const char* name, const char* layer, int keep) {
    Reset();
    const SampleMode mode = ModeOf(oneToOne);
    LoadResult opened = OpenBytes(data, size, layer);
    if (opened.ok()) {
        const std::int64_t longest = LongestMapText(opened.picture.width, opened.picture.rows, mode);
        if (longest > kPageMapTextLimit) return Refuse(TooLargeForPageMessage(name, longest));
    }
    const LoadResult loaded = HoldRows(std::move(opened));
    if (!loaded.ok()) return RefusePicture(loaded, LoadFailureMessage(loaded, name));
    const Picture& image = loaded.picture;
    const std::string noMemory = NoMemoryMessage(name);
    PieceSink& output = Current().mapText;
    if (!WriteMapHeader(output, image, mode)) return Refuse(noMemory);
    const MapWriteResult written = WriteMapRows(output, image, mode);
    switch (written.status) {
        case MapWriteStatus::Ok:
            break;
        case MapWriteStatus::InputFailed:
            return RefusePicture(written.input, RowsFailureMessage(written.input, name));
        case MapWriteStatus::Refused:  // only a row check refuses, and none is made here
        case MapWriteStatus::OutputFailed:
        case MapWriteStatus::NoMemory:
            return Refuse(noMemory);
    }
    if (!output.ok()) return Refuse(noMemory);
    if (keep) {
        KeepPicture(image);
        KeepCells(mode);
    }
    Current().message = SizeReport(image);
    Current().ok = true;
    return 1;
}

// grid2bmp [-1] [--palette <paletteName>] <name> <picture>.bmp, and the same
// to <picture>.png, to `tmxName` and to `tmjName` (Tiled maps, each naming
// its tile sheet as grid2bmp names it beside a map so named), on the map
// text's bytes (and the palette file's: a picture, a GIMP or a JASC
// palette, told by its name and first line as --palette tells them; size 0
// and no name for the built-in palette). Returns 1 when the BMP file was
// written (b2g_output; with `keep`, b2g_width and b2g_rows describe it,
// kept for b2g_paint), the TMX and TMJ maps (b2g_tmx_output, b2g_tmj_output) and
// the TMX map's sheet (b2g_sheet_output, named b2g_sheet_name), and then
// the PNG file too (b2g_png_output, empty when none could be written:
// b2g_png_message holds grid2bmp's line for it), 0 when refused
// (b2g_message). Without `keep` the picture is not kept for drawing.
EMSCRIPTEN_KEEPALIVE int b2g_map_to_picture(const char* text, std::size_t size, int oneToOne, const char* name,
                                            const std::uint8_t* paletteData, std::size_t paletteSize,
                                            const char* paletteName, const char* tmxName, const char* tmjName,
                                            int keep) {
    Reset();
    const SampleMode mode = ModeOf(oneToOne);
    ColourTable palette = BuiltInPalette();
    if (paletteName != nullptr && paletteName[0] != '\0') {
        ByteBuffer file;
        if (!CopyBytes(paletteData, paletteSize, file)) return Refuse(NoMemoryMessage(paletteName));
        const PaletteResult source = DecodePalette(std::move(file), paletteName);
        if (!source.ok()) return Refuse(PaletteFailureMessage(source, paletteName));
        palette = source.colours;  // entries past its colours are 0
    }
    BitmapRowWriter writer(Current().output, palette);
    PngRowWriter pngWriter(Current().png, palette);
    Current().sheetName = tiled::SheetFileName(FileNameOf(tmxName));
    TiledRowWriter tmxWriter(Current().tmx, TiledFormat::Tmx, mode, Current().sheetName);
    TiledRowWriter tmjWriter(Current().tmj, TiledFormat::Tmj, mode, tiled::SheetFileName(FileNameOf(tmjName)));
    EveryFormat every(writer, pngWriter, tmxWriter, tmjWriter);
    MapTextReader reader(mode, every);
    // Read in blocks, as grid2bmp reads a file, so that progress can be told.
    constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
    for (std::size_t at = 0; at < size; at += kBlockBytes) {
        if (!reader.Feed(text + at, std::min(kBlockBytes, size - at))) break;
        if (size > kBlockBytes) b2g_report_progress(static_cast<double>(std::min(size, at + kBlockBytes)));
    }
    const MapTextSummary map = reader.Finish();
    if (!map.ok()) return Refuse(MapTextFailureMessage(map, name));
    if (!writer.ok() || !tmxWriter.ok() || !tmjWriter.ok()) return Refuse(NoMemoryMessage(name));
    if (!WriteTileSheet(Current().sheet, palette, tiled::ShapeFor(mode))) return Refuse(NoMemoryMessage(name));
    if (!every.pngWanted()) {
        // grid2bmp reads no map text wider than a PNG can be into a PNG.
        Current().pngMessage = MapTextFailureMessage(MapTextError::TooLarge, 1, name);
    } else if (!every.pngWritten()) {
        Current().pngMessage = NoMemoryMessage(name);
    }
    if (!Current().pngMessage.empty()) Current().png = MemorySink();
    if (keep) {
        // The picture the page shows is the BMP file written, decoded again.
        const LoadResult written = DecodeBytes(Current().output.data(), Current().output.size());
        if (!written.ok()) return Refuse(NoMemoryMessage(name));
        KeepPicture(written.picture);
    }
    Current().message = MapSizeReport(map);
    Current().note = ExtraValuesNote(map);
    Current().ok = true;
    return 1;
}

EMSCRIPTEN_KEEPALIVE const char* b2g_message() { return Current().message.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* b2g_note() { return Current().note.c_str(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_output() { return Current().output.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_output_size() {
    return static_cast<double>(Current().mapText.size() > 0 ? Current().mapText.size() : Current().output.size());
}
// Picture to map: the map text's pieces, how many, and each one's bytes.
EMSCRIPTEN_KEEPALIVE int b2g_piece_count() { return static_cast<int>(Current().mapText.pieces().size()); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_piece(int i) { return Current().mapText.pieces()[static_cast<std::size_t>(i)].data(); }
EMSCRIPTEN_KEEPALIVE double b2g_piece_size(int i) {
    return static_cast<double>(Current().mapText.pieces()[static_cast<std::size_t>(i)].size());
}
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_png_output() { return Current().png.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_png_output_size() { return static_cast<double>(Current().png.size()); }
EMSCRIPTEN_KEEPALIVE const char* b2g_png_message() { return Current().pngMessage.c_str(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_tmx_output() { return Current().tmx.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_tmx_output_size() { return static_cast<double>(Current().tmx.size()); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_tmj_output() { return Current().tmj.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_tmj_output_size() { return static_cast<double>(Current().tmj.size()); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_sheet_output() { return Current().sheet.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_sheet_output_size() { return static_cast<double>(Current().sheet.size()); }
EMSCRIPTEN_KEEPALIVE const char* b2g_sheet_name() { return Current().sheetName.c_str(); }
// The tile layers a refused Tiled map's line names: how many, and each.
EMSCRIPTEN_KEEPALIVE int b2g_layer_count() { return static_cast<int>(Current().layerNames.size()); }
EMSCRIPTEN_KEEPALIVE const char* b2g_layer_name(int i) { return Current().layerNames[static_cast<std::size_t>(i)].c_str(); }
EMSCRIPTEN_KEEPALIVE double b2g_width() { return static_cast<double>(Current().width); }
EMSCRIPTEN_KEEPALIVE double b2g_rows() { return static_cast<double>(Current().rows); }
EMSCRIPTEN_KEEPALIVE double b2g_map_cell_columns() { return static_cast<double>(Current().mapColumns); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_cells() { return Current().cells.data(); }

// Paints rows `first` to `end` (exclusive) of the last result's picture
// (`what` 0) or of its map's cells (1) as red, green, blue, alpha into
// `rgba`, in the picture's colours or in grid2bmp's built-in ones; each
// `step`-th row and column only, for a preview smaller than the picture.
// Returns the painted width.
EMSCRIPTEN_KEEPALIVE double b2g_paint(int what, double step, double first, double end, std::uint32_t* rgba) {
    const bool cells = what == 1;
    const std::int64_t width = cells ? Current().mapColumns : Current().width;
    const std::uint8_t* values = cells ? Current().cells.data() : Current().pixels.data();
    std::uint8_t colours[256 * 4];
    if (cells) ToRgba(BuiltInPalette(), colours);
    else std::memcpy(colours, Current().palette.data(), sizeof colours);
    std::uint32_t table[256];
    std::memcpy(table, colours, sizeof table);  // each colour's four bytes, moved whole
    const auto by = static_cast<std::int64_t>(step);
    const std::int64_t painted = (width + by - 1) / by;
    for (auto y = static_cast<std::int64_t>(first); y < static_cast<std::int64_t>(end); ++y) {
        const std::uint8_t* row = values + y * by * width;
        std::uint32_t* to = rgba + (y - static_cast<std::int64_t>(first)) * painted;
        for (std::int64_t x = 0; x < painted; ++x) to[x] = table[row[x * by]];
    }
    return static_cast<double>(painted);
}

// The lines of a batch of files in the page, in the programs' words: the
// summary, and two files' refusal for one output.
EMSCRIPTEN_KEEPALIVE const char* b2g_batch_summary(double converted, double refused) {
    Current().message = BatchSummaryLine(static_cast<std::int64_t>(converted), static_cast<std::int64_t>(refused));
    return Current().message.c_str();
}
EMSCRIPTEN_KEEPALIVE const char* b2g_same_output(const char* input, const char* otherInput, const char* output) {
    Current().message = SameOutputMessage(input, otherInput, output);
    return Current().message.c_str();
}

// "Can't open <input>": a file the browser could not read whole (it
// changed, or went, after it was given).
EMSCRIPTEN_KEEPALIVE const char* b2g_cant_open(const char* input) {
    Current().message = CantOpenMessage(input);
    return Current().message.c_str();
}

// "Can't convert <input>: not enough memory": a file larger than the
// module's memory can take.
EMSCRIPTEN_KEEPALIVE const char* b2g_no_memory(const char* input) {
    Current().message = NoMemoryMessage(input);
    return Current().message.c_str();
}

// "<input>: <note>": the line a batch prints for a file's note.
EMSCRIPTEN_KEEPALIVE const char* b2g_file_note(const char* input, const char* note) {
    Current().message = FileNoteLine(input, note);
    return Current().message.c_str();
}

// Releases the last result's memory once the page has copied it.
EMSCRIPTEN_KEEPALIVE void b2g_release() { Reset(); }

// Picks the slot the next calls work in (0 to 2).
EMSCRIPTEN_KEEPALIVE void b2g_use_slot(int which) { slot = std::clamp(which, 0, 2); }

// The number of map cells in a row for a picture `width` wide.
EMSCRIPTEN_KEEPALIVE double b2g_map_columns(double width, int oneToOne) {
    return static_cast<double>(MapColumnCount(static_cast<std::int64_t>(width), ModeOf(oneToOne)));
}

// Fills `columns` with the picture column each cell of map row `y` reads,
// for a picture `width` wide (at least 1): the marks over the picture, the
// map preview and the tooltip all come from this.
EMSCRIPTEN_KEEPALIVE void b2g_sampled_columns(double width, double y, int oneToOne, std::int32_t* columns) {
    const auto w = static_cast<std::int64_t>(width);
    const SampleMode mode = ModeOf(oneToOne);
    const std::int64_t cells = MapColumnCount(w, mode);
    for (std::int64_t c = 0; c < cells; ++c)
        columns[c] = static_cast<std::int32_t>(SampledColumn(c, static_cast<std::int64_t>(y), w, mode));
}

// How many picture columns one map cell spans (2 in the two-to-one mode).
EMSCRIPTEN_KEEPALIVE int b2g_column_step(int oneToOne) { return static_cast<int>(ColumnStep(ModeOf(oneToOne))); }

}  // extern "C"
