// The BMP format at byte level: header sizes, field offsets, compression
// codes, RLE8 escape codes, colour table entry sizes, row padding, and
// little-endian reading and writing. The one place that knows them; the
// loader, the BMP writer, the test fixtures, fuzzing and the benchmarks all
// use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace bmp2grid::bmp {

// The file header: "BM", file size, two reserved words, pixel data offset.
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kSignatureOffset = 0;  // 'B', 'M'
constexpr std::size_t kFileSizeOffset = 2;
constexpr std::size_t kPixelOffsetOffset = 10;  // bfOffBits

// Info header sizes (biSize): the OS/2 1.x core header, and the Windows one
// that the 52 to 124 byte headers extend.
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;

// Fields of the info header, counted from its start (file offset 14).
namespace info {
constexpr std::size_t kSize = 0;
constexpr std::size_t kWidth = 4;   // int32
constexpr std::size_t kHeight = 8;  // int32, negative: stored top-down
constexpr std::size_t kPlanes = 12;
constexpr std::size_t kBitCount = 14;
constexpr std::size_t kCompression = 16;  // read when biSize >= 20
constexpr std::size_t kImageSize = 20;
constexpr std::size_t kXPixelsPerMetre = 24;
constexpr std::size_t kYPixelsPerMetre = 28;
constexpr std::size_t kColoursUsed = 32;
constexpr std::size_t kColoursImportant = 36;
}  // namespace info

// Fields of the OS/2 1.x core header: 16-bit width and height, no compression.
namespace core {
constexpr std::size_t kWidth = 4;
constexpr std::size_t kHeight = 6;
constexpr std::size_t kPlanes = 8;
constexpr std::size_t kBitCount = 10;
}  // namespace core

// Compression codes.
constexpr std::uint32_t kCompressionNone = 0;
constexpr std::uint32_t kCompressionRle8 = 1;

// RLE8: a pair (count > 0, value) is a run; (0, code) is an escape.
constexpr std::uint8_t kRleEscape = 0;
constexpr std::uint8_t kRleEndOfLine = 0;
constexpr std::uint8_t kRleEndOfBitmap = 1;
constexpr std::uint8_t kRleDelta = 2;          // followed by right, up
constexpr std::uint8_t kRleShortestLiteral = 3;  // (0, n >= 3): n literal bytes, padded to even

// Colour table entries: blue, green, red (and a reserved byte, except
// after the core header).
constexpr std::size_t kPaletteEntrySize = 4;
constexpr std::size_t kCorePaletteEntrySize = 3;
constexpr std::size_t kMaxPaletteEntries = 256;  // for 8 bits per pixel

// Bytes from row start to row start in an uncompressed 8-bit picture: the
// width rounded up to a multiple of 4.
constexpr std::int64_t RowStride(std::int64_t width) { return (width + 3) / 4 * 4; }

// The BMP files grid2bmp writes: the file header, the 40-byte info header
// and a full colour table, then the rows from the pixel data offset on.
constexpr std::size_t kWrittenPixelOffset = kFileHeaderSize + kInfoHeaderSize + kMaxPaletteEntries * kPaletteEntrySize;

// Whether a BMP file as grid2bmp writes it can hold a picture of this size
// (both non-negative): a BMP stores its width and height as signed 32-bit
// numbers and its file size as an unsigned 32-bit one.
constexpr bool CanHold(std::int64_t width, std::int64_t rows) {
    constexpr std::int64_t kMaxSide = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMaxFileSize = std::numeric_limits<std::uint32_t>::max();
    // With both sides below 2^31 the product stays below 2^63.
    return width <= kMaxSide && rows <= kMaxSide &&
           RowStride(width) * rows <= kMaxFileSize - static_cast<std::int64_t>(kWrittenPixelOffset);
}

// Little-endian fields.
constexpr std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

}  // namespace bmp2grid::bmp
