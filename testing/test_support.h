// Fixtures shared by the tests, fuzz targets and benchmarks: pictures, the
// BMP writer and RLE8 encoder for them, and a per-cell reference rendering
// of the map text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bitmap_loader.h"
#include "indexed_picture.h"
#include "map_writer.h"

namespace bmp2grid::test {

using Bytes = std::vector<std::uint8_t>;

// A picture whose pixel at (x, y) is `first + y * 10 + x` (mod 256), like the
// rows 10 11 12 13 / 20 21 22 23 / ... of the documented example.
IndexedPicture CountingPicture(std::int64_t width, std::int64_t rows, int first = 10);
IndexedPicture RandomPicture(std::int64_t width, std::int64_t rows, std::uint32_t seed);

// A picture loaded in memory (not kept in its file), top row first.
IndexedPicture PictureOf(const Picture& image);

enum class Storage { BottomUp, TopDown, Rle8 };

struct BmpOptions {
    std::uint32_t headerSize = 40;  // 12 is the OS/2 1.x core header
    Storage storage = Storage::BottomUp;
    std::uint16_t bitCount = 8;
    int paletteEntries = 256;
    std::size_t gapBeforePixels = 0;  // unused bytes between palette and pixels
    Bytes trailing;                   // bytes after the pixel data
    bool rleLiterals = true;          // let the RLE8 encoder use literal runs
};

// Writes `picture` as a BMP file. Palette entry i is (i, 255 - i, i ^ 0x55).
Bytes MakeBmp(const IndexedPicture& picture, const BmpOptions& options = {});

// Wraps an arbitrary pixel block in an 8-bit BMP with a 40-byte header.
Bytes MakeBmpWithPixelBlock(std::int32_t width, std::int32_t height, std::uint32_t compression,
                            const Bytes& pixelBlock);

// RLE8-encodes rows bottom first; every row ends with end-of-line and the
// stream with end-of-bitmap.
Bytes EncodeRle8(const IndexedPicture& picture, bool useLiterals);

struct PngOptions {
    int bitDepth = 8;
    int colourType = 3;  // 3 indexed, 0 grey; others get pixels of zeros
    int paletteEntries = 256;  // indexed only
};

// Writes `picture` as a non-interlaced PNG whose rows hold its indices (or
// grey values) packed at the bit depth, with zlib and without libpng, so
// that the loader is checked against a writer of its own. Palette entry i
// is (i, 255 - i, i ^ 0x55).
Bytes MakePng(const IndexedPicture& picture, const PngOptions& options = {});

// A PNG chunk: length, type, data and CRC.
Bytes PngChunk(const char* type, const Bytes& data);

// Where `png`'s first chunk of type `type` starts (its length field), and
// its data length. Throws when there is none.
struct PngChunkPlace {
    std::size_t at;
    std::size_t length;
};
PngChunkPlace FindPngChunk(const Bytes& png, const char* type);

// The map text rendered cell by cell from the rules of the map text alone,
// independently of the library's sampling helpers.
std::string ReferenceMap(const IndexedPicture& picture, SampleMode mode);

// Decodes bytes in memory, as the program does for a file, with no limits.
LoadResult DecodeBytes(const Bytes& file);

// Map text of a decoded picture, written through the library. With
// `overlapped`, the sink asks for formatting to overlap with writing, as a
// file does, so big maps take the two-thread path. A picture kept in its
// file is read `windowBytes` at a time.
std::string MapText(const Picture& image, SampleMode mode, bool overlapped = false,
                    std::int64_t windowBytes = kRowWindowBytes);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);
void WriteFile(const std::string& path, const Bytes& contents);

}  // namespace bmp2grid::test
