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
// One result is held at a time; each conversion replaces the last. The page
// runs the module in a Web Worker, so a long conversion never blocks it.
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
    std::int64_t mapColumns = 0;        // picture to map: cells per map row
    std::vector<std::uint8_t> cells;    // and each cell's value, top row first
};

Result result;

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
// not given). The page keeps the picture, so its rows are all had at once:
// a PNG's decoded whole, and any other picture whose rows are decoded as
// they are read (a Tiled map's) read into memory here, since such rows can
// be read only once. A fault in them refuses the picture with the line
// bmp2grid prints for it, without the size report before it.
LoadResult DecodeBytes(const std::uint8_t* data, std::size_t size, const char* layer = nullptr) {
    ByteBuffer file;
    if (!CopyBytes(data, size, file)) return Refused(LoadError::NoMemory);
    LoadOptions options;
    options.decodePngWhole = true;
    if (layer != nullptr) options.tileLayer = std::string(layer);
    LoadResult loaded = DecodePicture(std::move(file), options);
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
    result.width = image.width;
    result.rows = image.rows;
    const auto count = static_cast<std::size_t>(image.width * image.rows);
    result.pixels.assign(count, 0);
    for (std::int64_t y = 0; y < image.rows; ++y) {
        if (image.width > 0)
            std::memcpy(result.pixels.data() + y * image.width, image.Row(y), static_cast<std::size_t>(image.width));
    }
    result.palette.assign(256 * 4, 0);
    ToRgba(image.colourCount > 0 ? image.colours : BuiltInPalette(), result.palette.data());
}

// Keeps the map's cells (the value each reads) for the page's preview.
void KeepCells(SampleMode mode) {
    result.mapColumns = MapColumnCount(result.width, mode);
    result.cells.assign(static_cast<std::size_t>(result.mapColumns * result.rows), 0);
    for (std::int64_t y = 0; y < result.rows; ++y) {
        const std::uint8_t* row = result.pixels.data() + y * result.width;
        std::uint8_t* cells = result.cells.data() + y * result.mapColumns;
        for (std::int64_t c = 0; c < result.mapColumns; ++c) cells[c] = row[SampledColumn(c, y, result.width, mode)];
    }
}

void Reset() { result = Result{}; }

bool Refuse(std::string message) {
    result.ok = false;
    result.message = std::move(message);
    return false;
}

// A picture refused: the line bmp2grid prints, and the tile layers a Tiled
// map's refusal names for --layer to pick from.
bool RefusePicture(const LoadFailure& failure, const std::string& message) {
    if (failure.error == LoadError::TiledSeveralLayers || failure.error == LoadError::TiledNoSuchLayer)
        result.layerNames = failure.names;
    return Refuse(message);
}

}  // namespace

extern "C" {

// Memory for bytes the page hands over (null when there is none).
EMSCRIPTEN_KEEPALIVE void* b2g_alloc(std::size_t size) { return std::malloc(size > 0 ? size : 1); }
EMSCRIPTEN_KEEPALIVE void b2g_free(void* data) { std::free(data); }

// bmp2grid [-1] [--layer <layer>] <name> <name>.txt on the picture's bytes
// (a picture or a Tiled map; `layer` null for no --layer). Returns 1 when
// the map text was written (b2g_output; b2g_width, b2g_rows, b2g_pixels and
// b2g_palette describe the picture, b2g_map_cell_columns and b2g_cells the
// map's cells), 0 when the picture was refused (b2g_message holds the
// program's line; b2g_layer_name lists the tile layers a Tiled map's
// refusal names).
EMSCRIPTEN_KEEPALIVE int b2g_picture_to_map(const std::uint8_t* data, std::size_t size, int oneToOne,
                                            const char* name, const char* layer) {
    Reset();
    const SampleMode mode = ModeOf(oneToOne);
    const LoadResult loaded = DecodeBytes(data, size, layer);
    if (!loaded.ok()) return RefusePicture(loaded, LoadFailureMessage(loaded, name));
    const Picture& image = loaded.picture;
    const std::string noMemory = NoMemoryMessage(name);
    if (!WriteMapHeader(result.output, image, mode)) return Refuse(noMemory);
    const MapWriteResult written = WriteMapRows(result.output, image, mode);
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
    KeepPicture(image);
    KeepCells(mode);
    result.message = SizeReport(image);
    result.ok = true;
    return 1;
}

// grid2bmp [-1] [--palette <paletteName>] <name> <picture>.bmp, and the same
// to <picture>.png, to `tmxName` and to `tmjName` (Tiled maps, each naming
// its tile sheet as grid2bmp names it beside a map so named), on the map
// text's bytes (and the palette file's: a picture, a GIMP or a JASC
// palette, told by its name and first line as --palette tells them; size 0
// and no name for the built-in palette). Returns 1 when the BMP file was
// written (b2g_output; b2g_width, b2g_rows, b2g_pixels and b2g_palette
// describe it), the TMX and TMJ maps (b2g_tmx_output, b2g_tmj_output) and
// the TMX map's sheet (b2g_sheet_output, named b2g_sheet_name), and then
// the PNG file too (b2g_png_output, empty when none could be written:
// b2g_png_message holds grid2bmp's line for it), 0 when refused
// (b2g_message).
EMSCRIPTEN_KEEPALIVE int b2g_map_to_picture(const char* text, std::size_t size, int oneToOne, const char* name,
                                            const std::uint8_t* paletteData, std::size_t paletteSize,
                                            const char* paletteName, const char* tmxName, const char* tmjName) {
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
    BitmapRowWriter writer(result.output, palette);
    PngRowWriter pngWriter(result.png, palette);
    result.sheetName = tiled::SheetFileName(FileNameOf(tmxName));
    TiledRowWriter tmxWriter(result.tmx, TiledFormat::Tmx, mode, result.sheetName);
    TiledRowWriter tmjWriter(result.tmj, TiledFormat::Tmj, mode, tiled::SheetFileName(FileNameOf(tmjName)));
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
    if (!WriteTileSheet(result.sheet, palette, tiled::ShapeFor(mode))) return Refuse(NoMemoryMessage(name));
    if (!every.pngWanted()) {
        // grid2bmp reads no map text wider than a PNG can be into a PNG.
        result.pngMessage = MapTextFailureMessage(MapTextError::TooLarge, 1, name);
    } else if (!every.pngWritten()) {
        result.pngMessage = NoMemoryMessage(name);
    }
    if (!result.pngMessage.empty()) result.png = MemorySink();
    // The picture the page shows is the BMP file written, decoded again.
    const LoadResult written = DecodeBytes(result.output.data(), result.output.size());
    if (!written.ok()) return Refuse(NoMemoryMessage(name));
    KeepPicture(written.picture);
    result.message = MapSizeReport(map);
    result.note = ExtraValuesNote(map);
    result.ok = true;
    return 1;
}

EMSCRIPTEN_KEEPALIVE const char* b2g_message() { return result.message.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* b2g_note() { return result.note.c_str(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_output() { return result.output.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_output_size() { return static_cast<double>(result.output.size()); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_png_output() { return result.png.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_png_output_size() { return static_cast<double>(result.png.size()); }
EMSCRIPTEN_KEEPALIVE const char* b2g_png_message() { return result.pngMessage.c_str(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_tmx_output() { return result.tmx.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_tmx_output_size() { return static_cast<double>(result.tmx.size()); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_tmj_output() { return result.tmj.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_tmj_output_size() { return static_cast<double>(result.tmj.size()); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_sheet_output() { return result.sheet.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_sheet_output_size() { return static_cast<double>(result.sheet.size()); }
EMSCRIPTEN_KEEPALIVE const char* b2g_sheet_name() { return result.sheetName.c_str(); }
// The tile layers a refused Tiled map's line names: how many, and each.
EMSCRIPTEN_KEEPALIVE int b2g_layer_count() { return static_cast<int>(result.layerNames.size()); }
EMSCRIPTEN_KEEPALIVE const char* b2g_layer_name(int i) { return result.layerNames[static_cast<std::size_t>(i)].c_str(); }
EMSCRIPTEN_KEEPALIVE double b2g_width() { return static_cast<double>(result.width); }
EMSCRIPTEN_KEEPALIVE double b2g_rows() { return static_cast<double>(result.rows); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_pixels() { return result.pixels.data(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_palette() { return result.palette.data(); }
EMSCRIPTEN_KEEPALIVE double b2g_map_cell_columns() { return static_cast<double>(result.mapColumns); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* b2g_cells() { return result.cells.data(); }

// Releases the last result's memory once the page has copied it.
EMSCRIPTEN_KEEPALIVE void b2g_release() { Reset(); }

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

// grid2bmp's built-in palette, as red, green, blue, alpha (1024 bytes).
EMSCRIPTEN_KEEPALIVE void b2g_builtin_palette(std::uint8_t* rgba) {
    ToRgba(BuiltInPalette(), rgba);
}

}  // extern "C"
