// Loading an 8-bit palettized BMP picture into memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "byte_buffer.h"
#include "platform.h"

namespace bmp2grid {

// The loaded input picture, in one of three forms:
// - an uncompressed picture in a regular file stays in the file: `file` is
//   open and its rows are read from offset `bfOffBits` as they are needed;
// - an uncompressed picture from memory, a pipe or a device keeps its bytes
//   in `storage` (the whole file from memory, the pixel block from a stream)
//   and `pixels` addresses its rows in place;
// - an RLE8 picture is decoded into `storage` (one byte per pixel, rows
//   bottom-up, no padding); a regular file's compressed stream is read a
//   window at a time and never held whole, a stream's is released.
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

    // Colour table, as blue, green, red, reserved per entry.
    std::array<std::array<std::uint8_t, 4>, 256> palette{};
    int paletteSize = 0;

    ByteBuffer storage;
    std::shared_ptr<const platform::InputFile> file;

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
    TooLarge,                // more RLE8 pixels than LoadOptions::maxDecodedPixels
    NoMemory,
};

struct LoadResult {
    LoadError error = LoadError::None;
    std::uint32_t compression = 0;  // the code found, for UnsupportedCompression
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

// Loads a picture from `file`, a stream opened and read in sequence whose
// first `taken` bytes, at `head`, have been read from it already (to tell
// its format), as LoadBitmap loads a stream.
LoadResult LoadBitmapFromStream(platform::InputFile& file, const std::uint8_t* head, std::size_t taken,
                                const LoadOptions& options);

}  // namespace bmp2grid
