// Loading an 8-bit palettized BMP picture into memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>

#include "byte_buffer.h"
#include "platform.h"

namespace bmp2grid {

class RowSource;

// The loaded input picture, in one of four forms:
// - an uncompressed picture in a regular file stays in the file: `file` is
//   open and its rows are read from offset `bfOffBits` as they are needed;
// - an uncompressed picture from memory, a pipe or a device keeps its bytes
//   in `storage` (the whole file from memory, the pixel block from a stream)
//   and `pixels` addresses its rows in place;
// - an RLE8 picture is decoded into `storage` (one byte per pixel, rows
//   bottom-up, no padding); a regular file's compressed stream is read a
//   window at a time and never held whole, a stream's is released;
// - a PNG (png_loader.h) gives its rows through `rowSource`, decoded as
//   they are asked for, or (interlaced) is decoded whole into `storage`.
struct BitmapImage {
    // Values as stored in the headers.
    std::uint32_t bfOffBits = 0;
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;

    // The picture as the map sampler sees it.
    std::int64_t width = 0;             // columns, never negative
    std::int64_t rows = 0;              // row count, never negative
    bool topDown = false;               // first stored row is the top row
    std::int64_t stride = 0;            // bytes from one stored row to the next
    std::int64_t pixelBlockLength = 0;  // file size - bfOffBits
    const std::uint8_t* pixels = nullptr;  // first stored row

    // Colour table, as blue, green, red, reserved per entry; the entries
    // from paletteSize on are 0 (black).
    std::array<std::array<std::uint8_t, 4>, 256> palette{};
    int paletteSize = 0;

    ByteBuffer storage;
    std::shared_ptr<const platform::InputFile> file;
    // Set for a picture whose rows are decoded as the map is written.
    std::shared_ptr<RowSource> rowSource;

    // Which stored row holds picture row `y`, counted from the top.
    std::int64_t StoredRow(std::int64_t y) const { return topDown ? y : rows - 1 - y; }

    // The pixels of picture row `y` of a picture held in memory (0 <= y < rows).
    const std::uint8_t* Row(std::int64_t y) const { return pixels + StoredRow(y) * stride; }
};

// Why a picture was not loaded: one value per refusal. The programs'
// command-line code turns each into its message.
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
};

struct LoadResult {
    LoadError error = LoadError::None;
    std::uint32_t compression = 0;  // the code found, for UnsupportedCompression
    int pngColourType = 0;          // for PngWithoutIndices
    int pngBitDepth = 0;
    std::string reason;             // for PngRefused
    BitmapImage image;              // the picture, when `error` is None

    bool ok() const { return error == LoadError::None; }
};

// How much of an RLE8 stream is held at a time.
constexpr std::size_t kRle8WindowBytes = std::size_t{1} << 20;

// Limits the caller sets on what a load may cost.
struct LoadOptions {
    // An RLE8 picture with more pixels than this is refused (TooLarge)
    // before any memory is requested for it.
    std::int64_t maxDecodedPixels = std::numeric_limits<std::int64_t>::max();
    // An RLE8 stream is read this many bytes at a time (at least 2), up to
    // its end-of-bitmap marker; the tests make it small to cross windows.
    std::size_t rle8WindowBytes = kRle8WindowBytes;
    // A non-interlaced PNG is decoded whole into memory too, instead of a
    // row at a time as the map is written (the fuzz harness compares both).
    bool decodePngWhole = false;
};

// Rows handed out one at a time, top row first, as they are decoded.
class RowSource {
public:
    virtual ~RowSource() = default;
    // The `width` pixels of picture row `y`, asked for in increasing order,
    // each once; valid until the next call. nullptr when the row can't be
    // had: Failure() then says why (ReadFailed when the input failed).
    virtual const std::uint8_t* Row(std::int64_t y) = 0;
    virtual LoadResult Failure() const = 0;
};

// Interprets a whole BMP file held in memory. Takes ownership of the bytes.
LoadResult DecodeBitmap(ByteBuffer file, const LoadOptions& options);

// Loads the picture at `path`, with the same results as DecodeBitmap on
// the file's bytes. A regular file is read at offsets: the headers and the
// colour table, then an RLE8 picture's stream a window at a time up to its
// end-of-bitmap marker; an uncompressed picture's rows are left in the file.
// Anything else (a pipe, a device) is read in sequence, dropping the bytes
// the checks don't need; it is refused as soon as its headers fail a check,
// and read to its end only when they pass.
LoadResult LoadBitmap(const std::string& path, const LoadOptions& options);

// LoadBitmap for an input already opened. `taken` holds the bytes already
// read from the start of an input that is read in sequence (to tell its
// format; any number of them); it is empty for a file read at offsets.
LoadResult LoadBitmap(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                      const LoadOptions& options);

}  // namespace bmp2grid
