// Loading an 8-bit palettized BMP picture into memory.
#pragma once

#include <array>
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
//   bottom-up, no padding) and the compressed bytes are released.
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

enum class LoadStatus {
    Ok,
    CantOpen,     // the input can't be opened or read
    NotEightBit,  // the bit count is not 8
    CantConvert,  // any other problem; `reason` says which
};

struct LoadResult {
    LoadStatus status = LoadStatus::Ok;
    std::string reason;  // short lower-case text for CantConvert
    BitmapImage image;
};

// Bytes from row start to row start in an uncompressed 8-bit picture: the
// width rounded up to a multiple of 4.
constexpr std::int64_t RowStride(std::int64_t width) { return (width + 3) / 4 * 4; }

// Interprets a whole BMP file held in memory. Takes ownership of the bytes.
// An RLE8 picture with more than `maxDecodedPixels` pixels is refused before
// any memory is requested for it (fuzzing uses this to stay on small cases).
LoadResult DecodeBitmap(ByteBuffer file, std::int64_t maxDecodedPixels = std::numeric_limits<std::int64_t>::max());

// Loads the picture at `path`, with the same results as DecodeBitmap on
// the file's bytes. A regular file is read at offsets: the headers and the
// colour table, then an RLE8 picture's pixel block; an uncompressed picture's
// rows are left in the file. Anything else (a pipe, a device) is read in
// sequence, dropping the bytes the checks don't need; it is refused as soon
// as its headers fail a check, and read to its end only when they pass.
LoadResult LoadBitmap(const std::string& path);

}  // namespace bmp2grid
