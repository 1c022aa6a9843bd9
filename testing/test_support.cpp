#include "test_support.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "bmp_format.h"

namespace bmp2grid::test {
namespace {

using bmp::Put16;
using bmp::Put32;

// The bottom-up stored row index of top-based row y.
std::int64_t FromBottom(const IndexedPicture& picture, std::int64_t y) { return picture.rows - 1 - y; }

}  // namespace

IndexedPicture CountingPicture(std::int64_t width, std::int64_t rows, int first) {
    IndexedPicture p{width, rows, {}};
    for (std::int64_t y = 0; y < rows; ++y)
        for (std::int64_t x = 0; x < width; ++x)
            p.pixels.push_back(static_cast<std::uint8_t>(first + y * 10 + x));
    return p;
}

IndexedPicture RandomPicture(std::int64_t width, std::int64_t rows, std::uint32_t seed) {
    std::mt19937 gen(seed);
    IndexedPicture p{width, rows, Bytes(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows))};
    // Mostly a few terrain values in runs, with some noise, so RLE8 sees both
    // runs and literals.
    std::uint8_t value = 0;
    for (auto& px : p.pixels) {
        if (gen() % 5 == 0) value = static_cast<std::uint8_t>(gen() % 256);
        px = value;
    }
    return p;
}

Bytes EncodeRle8(const IndexedPicture& picture, bool useLiterals) {
    Bytes out;
    for (std::int64_t stored = 0; stored < picture.rows; ++stored) {
        const std::int64_t y = FromBottom(picture, stored);
        std::int64_t x = 0;
        while (x < picture.width) {
            std::int64_t run = 1;
            while (x + run < picture.width && run < 255 && picture.at(x + run, y) == picture.at(x, y))
                ++run;
            if (run >= 2 || !useLiterals) {
                out.push_back(static_cast<std::uint8_t>(run));
                out.push_back(picture.at(x, y));
                x += run;
                continue;
            }
            // Collect pixels until the next pair of equal neighbours.
            std::int64_t n = 1;
            while (x + n < picture.width && n < 255 &&
                   !(x + n + 1 < picture.width && picture.at(x + n, y) == picture.at(x + n + 1, y)))
                ++n;
            if (n < bmp::kRleShortestLiteral) {
                for (std::int64_t i = 0; i < n; ++i) {
                    out.push_back(1);
                    out.push_back(picture.at(x + i, y));
                }
            } else {
                out.push_back(bmp::kRleEscape);
                out.push_back(static_cast<std::uint8_t>(n));
                for (std::int64_t i = 0; i < n; ++i) out.push_back(picture.at(x + i, y));
                if (n % 2 == 1) out.push_back(0);
            }
            x += n;
        }
        out.push_back(bmp::kRleEscape);
        out.push_back(bmp::kRleEndOfLine);
    }
    out.push_back(bmp::kRleEscape);
    out.push_back(bmp::kRleEndOfBitmap);
    return out;
}

Bytes MakeBmp(const IndexedPicture& picture, const BmpOptions& o) {
    const bool core = o.headerSize == bmp::kCoreHeaderSize;
    const std::size_t entrySize = core ? bmp::kCorePaletteEntrySize : bmp::kPaletteEntrySize;
    const std::size_t paletteBytes = static_cast<std::size_t>(o.paletteEntries) * entrySize;
    const std::size_t offBits = bmp::kFileHeaderSize + o.headerSize + paletteBytes + o.gapBeforePixels;

    Bytes pixels;
    if (o.storage == Storage::Rle8) {
        pixels = EncodeRle8(picture, o.rleLiterals);
    } else {
        const std::size_t stride = static_cast<std::size_t>(bmp::RowStride(picture.width));
        pixels.assign(stride * static_cast<std::size_t>(picture.rows), 0);
        for (std::int64_t stored = 0; stored < picture.rows; ++stored) {
            const std::int64_t y = o.storage == Storage::TopDown ? stored : FromBottom(picture, stored);
            for (std::int64_t x = 0; x < picture.width; ++x)
                pixels[static_cast<std::size_t>(stored) * stride + static_cast<std::size_t>(x)] =
                    picture.at(x, y);
        }
    }

    Bytes file(offBits, 0);
    std::uint8_t* info = file.data() + bmp::kFileHeaderSize;
    file[bmp::kSignatureOffset] = 'B';
    file[bmp::kSignatureOffset + 1] = 'M';
    Put32(file.data() + bmp::kFileSizeOffset,
          static_cast<std::uint32_t>(offBits + pixels.size() + o.trailing.size()));
    Put32(file.data() + bmp::kPixelOffsetOffset, static_cast<std::uint32_t>(offBits));
    Put32(info + bmp::info::kSize, o.headerSize);
    if (core) {
        Put16(info + bmp::core::kWidth, static_cast<std::uint32_t>(picture.width));
        Put16(info + bmp::core::kHeight, static_cast<std::uint32_t>(picture.rows));
        Put16(info + bmp::core::kPlanes, 1);
        Put16(info + bmp::core::kBitCount, o.bitCount);
    } else {
        // Only the fields that fit in the chosen header size are written.
        auto fits = [&o](std::size_t field) { return o.headerSize >= field + 4; };
        const std::int64_t height = o.storage == Storage::TopDown ? -picture.rows : picture.rows;
        Put32(info + bmp::info::kWidth, static_cast<std::uint32_t>(picture.width));
        Put32(info + bmp::info::kHeight, static_cast<std::uint32_t>(height));
        Put16(info + bmp::info::kPlanes, 1);
        Put16(info + bmp::info::kBitCount, o.bitCount);
        if (fits(bmp::info::kCompression))
            Put32(info + bmp::info::kCompression,
                  o.storage == Storage::Rle8 ? bmp::kCompressionRle8 : bmp::kCompressionNone);
        if (fits(bmp::info::kImageSize))
            Put32(info + bmp::info::kImageSize, static_cast<std::uint32_t>(pixels.size()));
        if (fits(bmp::info::kColoursUsed))
            Put32(info + bmp::info::kColoursUsed, static_cast<std::uint32_t>(o.paletteEntries));
    }
    std::size_t at = bmp::kFileHeaderSize + o.headerSize;
    for (int i = 0; i < o.paletteEntries; ++i, at += entrySize) {
        file[at] = static_cast<std::uint8_t>(i);
        file[at + 1] = static_cast<std::uint8_t>(255 - i);
        file[at + 2] = static_cast<std::uint8_t>(i ^ 0x55);
    }
    file.insert(file.end(), pixels.begin(), pixels.end());
    file.insert(file.end(), o.trailing.begin(), o.trailing.end());
    return file;
}

Bytes MakeBmpWithPixelBlock(std::int32_t width, std::int32_t height, std::uint32_t compression,
                            const Bytes& pixelBlock) {
    Bytes file = MakeBmp(IndexedPicture{0, 0, {}}, BmpOptions{});
    std::uint8_t* info = file.data() + bmp::kFileHeaderSize;
    Put32(info + bmp::info::kWidth, static_cast<std::uint32_t>(width));
    Put32(info + bmp::info::kHeight, static_cast<std::uint32_t>(height));
    Put32(info + bmp::info::kCompression, compression);
    file.insert(file.end(), pixelBlock.begin(), pixelBlock.end());
    return file;
}

Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes chunk;
    chunk.reserve(12 + data.size());
    const auto length = static_cast<std::uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<std::uint8_t>(length >> (24 - 8 * i)));
    for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<std::uint8_t>(type[i]));
    for (const std::uint8_t byte : data) chunk.push_back(byte);
    const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(data.size() + 4));
    for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<std::uint8_t>(crc >> (24 - 8 * i)));
    return chunk;
}

PngChunkPlace FindPngChunk(const Bytes& png, const char* type) {
    for (std::size_t at = 8; at + 8 <= png.size();) {
        const std::size_t length = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                                   std::size_t{png[at + 2]} << 8 | png[at + 3];
        if (std::memcmp(&png[at + 4], type, 4) == 0) return {at, length};
        at += 12 + length;
    }
    throw std::runtime_error(std::string("no ") + type + " chunk");
}

Bytes MakePng(const IndexedPicture& picture, const PngOptions& o) {
    const int channels = o.colourType == 2 ? 3 : o.colourType == 4 ? 2 : o.colourType == 6 ? 4 : 1;
    const std::int64_t bits = picture.width * channels * o.bitDepth;
    const auto rowBytes = static_cast<std::size_t>((bits + 7) / 8);
    Bytes raw;
    raw.reserve((rowBytes + 1) * static_cast<std::size_t>(picture.rows));
    for (std::int64_t y = 0; y < picture.rows; ++y) {
        raw.push_back(0);  // filter: none
        const std::size_t start = raw.size();
        raw.resize(start + rowBytes, 0);
        if (channels != 1 || o.bitDepth > 8) continue;
        for (std::int64_t x = 0; x < picture.width; ++x) {
            const std::int64_t bit = x * o.bitDepth;  // packed from the high bits down
            const int shift = 8 - o.bitDepth - static_cast<int>(bit % 8);
            raw[start + static_cast<std::size_t>(bit / 8)] |= static_cast<std::uint8_t>(picture.at(x, y) << shift);
        }
    }
    Bytes compressed(compressBound(static_cast<uLong>(raw.size())));
    uLongf size = compressed.size();
    if (compress2(compressed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
        throw std::runtime_error("zlib failed");
    compressed.resize(size);

    Bytes header(13, 0);
    for (int i = 0; i < 4; ++i) {
        header[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(picture.width >> (24 - 8 * i));
        header[static_cast<std::size_t>(4 + i)] = static_cast<std::uint8_t>(picture.rows >> (24 - 8 * i));
    }
    header[8] = static_cast<std::uint8_t>(o.bitDepth);
    header[9] = static_cast<std::uint8_t>(o.colourType);
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto append = [&file](const Bytes& chunk) { file.insert(file.end(), chunk.begin(), chunk.end()); };
    append(PngChunk("IHDR", header));
    if (o.colourType == 3) {
        Bytes palette;
        for (int i = 0; i < o.paletteEntries; ++i)
            palette.insert(palette.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                           static_cast<std::uint8_t>(i ^ 0x55)});
        append(PngChunk("PLTE", palette));
    }
    append(PngChunk("IDAT", compressed));
    append(PngChunk("IEND", {}));
    return file;
}

// Written from the rules of the map text alone, not from the library's
// sampling helpers, so that a fault in those shows up as a difference.
std::string ReferenceMap(const IndexedPicture& picture, SampleMode mode) {
    const bool twoToOne = mode == SampleMode::TwoToOne;
    const std::int64_t columns = twoToOne ? picture.width / 2 : picture.width;
    std::string text;
    char cell[32];
    std::snprintf(cell, sizeof cell, "%lld,%lld\r\n", static_cast<long long>(columns), static_cast<long long>(picture.rows));
    text += cell;
    for (std::int64_t y = 0; y < picture.rows; ++y) {
        for (std::int64_t c = 0; c < columns; ++c) {
            const std::int64_t shift = twoToOne ? y : y / 2;
            const std::int64_t step = twoToOne ? 2 : 1;
            std::snprintf(cell, sizeof cell, "%d,0,0,0,0\t",
                          picture.at((c * step + shift) % picture.width, y));
            text += cell;
        }
        text += "\r\n";
    }
    return text;
}

IndexedPicture PictureOf(const Picture& image) {
    IndexedPicture picture{image.width, image.rows, {}};
    picture.pixels.reserve(static_cast<std::size_t>(image.width * image.rows));
    for (std::int64_t y = 0; y < image.rows; ++y)
        picture.pixels.insert(picture.pixels.end(), image.Row(y), image.Row(y) + image.width);
    return picture;
}

LoadResult DecodeBytes(const Bytes& file) {
    ByteBuffer buffer;
    if (!buffer.Reserve(file.size() + 1)) throw std::runtime_error("out of memory");
    if (!file.empty()) std::memcpy(buffer.data(), file.data(), file.size());
    buffer.SetSize(file.size());
    return DecodeBitmap(std::move(buffer), LoadOptions{});
}

std::string MapText(const Picture& image, SampleMode mode, bool overlapped, std::int64_t windowBytes) {
    class Sink final : public OutputSink {
    public:
        explicit Sink(bool overlapped) : overlapped_(overlapped) {}
        bool Write(const char* data, std::size_t size) override {
            text.append(data, size);
            return true;
        }
        bool OverlapsWork() const override { return overlapped_; }
        std::string text;

    private:
        bool overlapped_;
    } sink(overlapped);
    if (!WriteMapHeader(sink, image, mode) || WriteMapRows(sink, image, mode, windowBytes).status != MapWriteStatus::Ok)
        throw std::runtime_error("writing map text failed");
    return sink.text;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

void WriteFile(const std::string& path, const Bytes& contents) {
    WriteFile(path, std::string(contents.begin(), contents.end()));
}

}  // namespace bmp2grid::test
