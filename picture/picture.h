// The loaded input picture: its size, its colour table and its rows,
// whichever format it came from; why a picture was not loaded; and what a
// load may cost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <optional>
#include <utility>
#include <vector>

#include "byte_buffer.h"
#include "colour_table.h"

namespace bmp2grid {

// Why a picture was not loaded: one value per refusal. The diagnostics
// module turns each into its words.
enum class LoadError {
    None,
    CantOpen,                // the input can't be opened
    ReadFailed,              // the input was opened, but a read failed
    FileShorterThanHeader,   // fewer than 14 bytes
    OffsetIntoFileHeader,    // bfOffBits below 14
    EndsBeforePixelData,     // bfOffBits past the end of the input
    InfoHeaderTooShort,      // fewer info bytes than the fields read need
    NotEightBit,             // the bit count is not 8
    UnsupportedCompression,  // neither none nor RLE8; `compression` holds the code
    NegativeWidth,
    HeightOutOfRange,        // height -2^31
    Rle8TopDown,             // RLE8 with a negative height
    PixelDataTruncated,      // the rows don't all lie inside the pixel block
    CorruptRle,
    TooLarge,                // more RLE8 (or interlaced PNG) pixels than LoadOptions::maxDecodedPixels
    NoMemory,
    PngWithoutIndices,       // a PNG of a colour type and bit depth that hold no palette indices
    PngRefused,              // the PNG library refused the file; `reason` holds its words
    // Tiled maps (TMX, TMJ). `column` and `row` name a tile of the layer
    // (0-based), `value` a tile's gid or value, `names` layer names.
    LayerOfPicture,          // LoadOptions::tileLayer given for a BMP or PNG
    TiledWithPalette,        // a Tiled map with LoadOptions::matchesColours
    TiledAsPalette,          // a Tiled map with LoadOptions::forColours
    TmjNotBuilt,             // a TMJ map, in a build without RapidJSON
    TiledNotMap,             // XML or JSON that is no Tiled map; `reason`: the XML root element
    TmxMalformed,            // `reason`: expat's words; `row`: the line, `column` its column
    TmjMalformed,            // `reason`: RapidJSON's words; `column`: the byte offset
    TmxEntity,               // an XML entity declared or referred to; `reason`: its name
    TiledAttribute,          // `names`: the element and its missing or faulty attribute
    TiledShape,              // an orientation or tile shape not read; `shape` says which
    TiledInfinite,
    TiledNoTileset,
    TiledLateTileset,        // a tileset after the layer's data began
    TiledNoTileLayer,
    TiledSeveralLayers,      // and no tileLayer: `names`, the first few; `value` how many
    TiledNoSuchLayer,        // `reason`: the tileLayer asked for; `names`, `value`: as above
    TiledLayerSize,          // `names[0]`: the layer; `column` x `row` its size; `shape` the map's
    TiledEncoding,           // `reason`: the encoding
    TiledCompression,        // `reason`: the compression
    TiledBadData,            // `names`: what (CSV, base64, zlib, gzip) and its library's words
    TiledTileCount,          // `value` tiles, not `column` x `row`
    TiledEmptyCell,
    TiledFlippedTile,        // `value`: the gid with its flags
    TiledValuePast255,       // `value`: the tile's value
    TiledForeignTile,        // `value`: the gid, of no tileset or not the first
};

// A Tiled map's orientation and tile shape, for TiledShape and
// TiledLayerSize.
struct MapShapeFacts {
    std::string orientation;
    std::int64_t width = 0;  // the map's tiles
    std::int64_t height = 0;
    std::int64_t tileWidth = 0;
    std::int64_t tileHeight = 0;
    std::int64_t hexSideLength = 0;
    std::string staggerAxis;
    std::string staggerIndex;
};

// A refusal: the error and the details its words need.
struct LoadFailure {
    LoadError error = LoadError::None;
    std::uint32_t compression = 0;  // the code found, for UnsupportedCompression
    int pngColourType = 0;          // for PngWithoutIndices
    int pngBitDepth = 0;
    std::string reason;             // for PngRefused: the PNG library's words; see LoadError
    std::int64_t column = 0;        // the Tiled refusals' details: see LoadError
    std::int64_t row = 0;
    std::uint64_t value = 0;
    std::vector<std::string> names;
    MapShapeFacts shape;

    bool ok() const { return error == LoadError::None; }
};

// A failure of `error` with no details.
inline LoadFailure Failure(LoadError error) {
    LoadFailure failure;
    failure.error = error;
    return failure;
}

// Reads a picture's rows top to bottom: in place for a picture held in
// memory, a window at a time for one kept in its file, decoded one at a
// time for a stream. Running out of memory is a row that can't be had
// (Failure() says NoMemory), never an exception.
class RowReader {
public:
    virtual ~RowReader() = default;
    // Whether rows are too wide for the window, so that they must be read
    // in pieces with Columns instead of whole with Row.
    virtual bool Wide() const { return false; }
    // The window's size in bytes, for Columns.
    virtual std::int64_t WindowBytes() const { return std::numeric_limits<std::int64_t>::max(); }
    // Whether every row must be asked for, even where the map has no cells:
    // rows decoded as they are read show faults in the picture only then.
    virtual bool Decodes() const { return false; }
    // The pixels of picture row `y`, asked for in increasing order, each
    // once; valid until the next call. nullptr when the row can't be had:
    // Failure() then says why.
    virtual const std::uint8_t* Row(std::int64_t y) = 0;
    // Pixels `first` to `first + count - 1` of picture row `y`, when Wide()
    // (0 < count <= WindowBytes(), first + count <= width); nullptr when
    // they can't be had.
    virtual const std::uint8_t* Columns(std::int64_t y, std::int64_t first, std::int64_t count) {
        (void)y;
        (void)first;
        (void)count;
        return nullptr;
    }
    // Why the last row could not be had: ReadFailed when the input failed.
    virtual LoadFailure Failure() const { return bmp2grid::Failure(LoadError::ReadFailed); }
};

// Where a picture's pixels are; each input format keeps them its own way.
class PixelStore {
public:
    enum class Kept {
        InMemory,   // the whole picture, one byte per pixel
        InFile,     // rows read from the input file as they are needed
        AsDecoded,  // rows decoded from the input as they are read, once
    };
    virtual ~PixelStore() = default;
    virtual Kept Where() const = 0;
    // A reader of the rows; a picture kept in its file is read
    // `windowBytes` (at least 1) at a time. Null when memory ran out. The
    // reader refers to this store: it must not outlive it. Rows kept
    // AsDecoded can be read once, by one reader.
    virtual std::unique_ptr<RowReader> ReadRows(std::int64_t windowBytes) const = 0;
    // The pixels of row `y` of a picture kept in memory (0 <= y < rows);
    // nullptr for any other.
    virtual const std::uint8_t* HeldRow(std::int64_t y) const {
        (void)y;
        return nullptr;
    }
};

// How much of a picture kept in its file is read at a time: as many whole
// rows as fit, and a row wider than this in pieces of this size.
constexpr std::int64_t kRowWindowBytes = std::int64_t{1} << 20;

struct Picture {
    std::int64_t width = 0;  // columns, never negative
    std::int64_t rows = 0;   // row count, never negative
    ColourTable colours{};   // the first `colourCount` entries are the picture's; the rest are 0
    int colourCount = 0;
    // The bytes the input stores its pixels in, for the size report: a
    // BMP's pixel block (its file's size past the pixel data offset), a
    // PNG's rows at its bit depth.
    std::int64_t storedBytes = 0;
    std::shared_ptr<const PixelStore> pixels;

    PixelStore::Kept Where() const { return pixels->Where(); }
    std::unique_ptr<RowReader> ReadRows(std::int64_t windowBytes = kRowWindowBytes) const {
        return pixels->ReadRows(windowBytes);
    }
    // Row `y` of a picture kept in memory; nullptr for any other.
    const std::uint8_t* Row(std::int64_t y) const { return pixels->HeldRow(y); }
};

// A load's outcome: the picture, when `error` is None.
struct LoadResult : LoadFailure {
    Picture picture;
};

// A load refused with `failure`, or with `error` and no details.
inline LoadResult Refused(LoadFailure failure) {
    LoadResult result;
    static_cast<LoadFailure&>(result) = std::move(failure);
    return result;
}
inline LoadResult Refused(LoadError error) { return Refused(Failure(error)); }

// A picture held in memory: `rows` rows of `width` bytes, the top one at
// `top` (inside `storage`) and each next one `step` bytes on (negative when
// the rows are stored bottom first).
class HeldPixels final : public PixelStore {
public:
    HeldPixels(ByteBuffer storage, const std::uint8_t* top, std::int64_t step)
        : storage_(std::move(storage)), top_(top), step_(step) {}
    Kept Where() const override { return Kept::InMemory; }
    std::unique_ptr<RowReader> ReadRows(std::int64_t windowBytes) const override;
    const std::uint8_t* HeldRow(std::int64_t y) const override { return top_ + y * step_; }

private:
    ByteBuffer storage_;
    const std::uint8_t* top_;
    std::int64_t step_;
};

// How much of an RLE8 stream is held at a time.
constexpr std::size_t kRle8WindowBytes = std::size_t{1} << 20;

// Limits the caller sets on what a load may cost.
struct LoadOptions {
    // A picture that must be decoded whole (RLE8, an interlaced PNG) with
    // more pixels than this is refused (TooLarge) before any memory is
    // requested for it.
    std::int64_t maxDecodedPixels = std::numeric_limits<std::int64_t>::max();
    // An RLE8 stream is read this many bytes at a time (at least 2), up to
    // its end-of-bitmap marker; the tests make it small to cross windows.
    std::size_t rle8WindowBytes = kRle8WindowBytes;
    // A non-interlaced PNG is decoded whole into memory too, instead of a
    // row at a time as the map is written.
    bool decodePngWhole = false;
    // The tile layer of a Tiled map to read, by its name; without it a map
    // must have one tile layer. Given for a BMP or PNG: LayerOfPicture.
    std::optional<std::string> tileLayer;
    // The picture's colours will be matched with a palette: a Tiled map,
    // whose tiles are palette indices already, is refused (TiledWithPalette).
    bool matchesColours = false;
    // The picture is read for its colours (a --palette file): a Tiled map,
    // which holds none, is refused (TiledAsPalette).
    bool forColours = false;
};

}  // namespace bmp2grid
