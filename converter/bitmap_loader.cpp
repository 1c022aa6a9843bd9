#include "bitmap_loader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform.h"

namespace bmp2grid {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;  // OS/2 1.x BITMAPCOREHEADER
constexpr std::uint32_t kCompressionNone = 0;
constexpr std::uint32_t kCompressionRle8 = 1;

std::uint16_t ReadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::int32_t ReadI32(const std::uint8_t* p) { return static_cast<std::int32_t>(ReadU32(p)); }

LoadResult Refuse(LoadStatus status, std::string reason = {}) {
    LoadResult result;
    result.status = status;
    result.reason = std::move(reason);
    return result;
}

LoadResult CantConvert(std::string reason) {
    return Refuse(LoadStatus::CantConvert, std::move(reason));
}

// Copies the colour table that follows the info header.
void ReadPalette(const std::uint8_t* info, std::size_t infoLength, BitmapImage& image) {
    const bool core = image.biSize == kCoreHeaderSize;
    const std::size_t entrySize = core ? 3 : 4;
    if (image.biSize >= infoLength) return;
    const std::size_t available = (infoLength - image.biSize) / entrySize;
    const std::uint8_t* entry = info + image.biSize;
    image.paletteSize = static_cast<int>(std::min<std::size_t>(available, 256));
    for (int i = 0; i < image.paletteSize; ++i, entry += entrySize) {
        image.palette[static_cast<std::size_t>(i)] = {entry[0], entry[1], entry[2], 0};
    }
}

// Decodes an RLE8 stream into `pixels` (width x rows, bottom row first).
// Returns false when the stream is corrupt.
bool DecodeRle8(const std::uint8_t* p, const std::uint8_t* end, std::int64_t width,
                std::int64_t rows, std::uint8_t* pixels) {
    std::int64_t x = 0;
    std::int64_t y = 0;
    // Writes `count` pixels at the cursor; those at or past the width are
    // dropped, since encoders commonly run into the row padding.
    auto put = [&](std::int64_t count, auto&& fill) {
        if (y >= rows) return false;
        if (x < width) {
            const std::int64_t kept = std::min(count, width - x);
            fill(pixels + y * width + x, static_cast<std::size_t>(kept));
        }
        x += count;
        return true;
    };
    for (;;) {
        if (end - p < 2) return false;
        const std::uint8_t count = p[0];
        const std::uint8_t value = p[1];
        p += 2;
        if (count > 0) {
            if (!put(count, [value](std::uint8_t* to, std::size_t n) { std::memset(to, value, n); }))
                return false;
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return true;
            case 2:  // delta: right dx, up dy
                if (end - p < 2) return false;
                x += p[0];
                y += p[1];
                p += 2;
                break;
            default: {  // literal run, padded to an even length
                const std::int64_t padded = value + (value & 1);
                if (end - p < padded) return false;
                const std::uint8_t* literal = p;
                if (!put(value, [literal](std::uint8_t* to, std::size_t n) {
                        std::memcpy(to, literal, n);
                    }))
                    return false;
                p += padded;
                break;
            }
        }
    }
}

// Reads and checks the headers. `bytes` holds the start of a file of
// `fileSize` bytes: at least its first 14 bytes when it has them, and
// everything before the pixel data when the file reaches that far. On success
// the image describes the picture but holds no pixels yet.
LoadResult ParseHeaders(const std::uint8_t* bytes, std::uint64_t fileSize) {
    if (fileSize < kFileHeaderSize) return CantConvert("file is shorter than a bitmap file header");
    const std::uint32_t bfOffBits = ReadU32(bytes + 10);
    if (bfOffBits < kFileHeaderSize) return CantConvert("pixel data offset points into the file header");
    if (bfOffBits > fileSize) return CantConvert("file ends before the pixel data");

    const std::uint8_t* info = bytes + kFileHeaderSize;
    const std::size_t infoLength = bfOffBits - kFileHeaderSize;
    if (infoLength < 4) return CantConvert("bitmap info header is too short");

    BitmapImage image;
    image.bfOffBits = bfOffBits;
    image.biSize = ReadU32(info);
    if (image.biSize == kCoreHeaderSize) {
        if (infoLength < 12) return CantConvert("bitmap info header is too short");
        image.biWidth = ReadU16(info + 4);
        image.biHeight = ReadU16(info + 6);
        image.biBitCount = ReadU16(info + 10);
    } else {
        if (infoLength < 16) return CantConvert("bitmap info header is too short");
        image.biWidth = ReadI32(info + 4);
        image.biHeight = ReadI32(info + 8);
        image.biBitCount = ReadU16(info + 14);
        if (image.biSize >= 20 && infoLength >= 20) image.biCompression = ReadU32(info + 16);
    }

    if (image.biBitCount != 8) return Refuse(LoadStatus::NotEightBit);
    if (image.biCompression != kCompressionNone && image.biCompression != kCompressionRle8) {
        return CantConvert("unsupported compression " + std::to_string(image.biCompression));
    }
    if (image.biWidth < 0) return CantConvert("negative width");
    if (image.biHeight == std::numeric_limits<std::int32_t>::min()) {
        return CantConvert("height is out of range");
    }
    if (image.biCompression == kCompressionRle8 && image.biHeight < 0) {
        return CantConvert("RLE8 picture is stored top-down");
    }

    image.width = image.biWidth;
    image.topDown = image.biHeight < 0;
    image.rows = image.topDown ? -static_cast<std::int64_t>(image.biHeight) : image.biHeight;
    image.pixelBlockLength = static_cast<std::int64_t>(fileSize - bfOffBits);
    ReadPalette(info, infoLength, image);

    if (image.biCompression == kCompressionNone) {
        image.stride = RowStride(image.width);
        if (image.width > 0 && image.rows > 0 &&
            image.pixelBlockLength < (image.rows - 1) * image.stride + image.width) {
            return CantConvert("pixel data is truncated");
        }
    }
    return LoadResult{LoadStatus::Ok, {}, std::move(image)};
}

}  // namespace

LoadResult DecodeBitmap(ByteBuffer file, std::int64_t maxDecodedPixels) {
    const std::uint8_t* bytes = file.data();
    const std::size_t fileSize = file.size();
    LoadResult result = ParseHeaders(bytes, fileSize);
    if (result.status != LoadStatus::Ok) return result;
    BitmapImage& image = result.image;

    if (image.biCompression == kCompressionNone) {
        image.storage = std::move(file);
        image.pixels = image.storage.data() + image.bfOffBits;
        return result;
    }

    // RLE8: decode into plain rows and let the compressed file go.
    const std::int64_t pixelCount = image.width * image.rows;  // below 2^62
    if (pixelCount > maxDecodedPixels) return CantConvert("picture is too large");
    ByteBuffer decoded;
    if (static_cast<std::uint64_t>(pixelCount) > SIZE_MAX ||
        !decoded.AllocateZeroed(static_cast<std::size_t>(pixelCount))) {
        return CantConvert("not enough memory");
    }
    if (!DecodeRle8(bytes + image.bfOffBits, bytes + fileSize, image.width, image.rows, decoded.data())) {
        return CantConvert("corrupt RLE data");
    }
    image.stride = image.width;
    image.storage = std::move(decoded);
    image.pixels = image.storage.data();
    return result;
}

LoadResult LoadBitmap(const std::string& path) {
    auto file = std::make_shared<platform::InputFile>();
    if (file->Open(path) != platform::ReadStatus::Ok) return Refuse(LoadStatus::CantOpen);

    // An uncompressed picture in a regular file is not read into memory:
    // only its headers are read here, and its rows as the map is written.
    if (file->IsRegularFile() && file->Size() >= static_cast<std::int64_t>(kFileHeaderSize)) {
        std::uint8_t fileHeader[kFileHeaderSize];
        if (!file->ReadAt(0, fileHeader, sizeof fileHeader)) return Refuse(LoadStatus::CantOpen);
        const std::uint32_t bfOffBits = ReadU32(fileHeader + 10);
        if (bfOffBits >= kFileHeaderSize && bfOffBits <= file->Size()) {
            ByteBuffer headers;
            if (!headers.Reserve(bfOffBits)) return CantConvert("not enough memory");
            if (!file->ReadAt(0, headers.data(), bfOffBits)) return Refuse(LoadStatus::CantOpen);
            LoadResult result = ParseHeaders(headers.data(), static_cast<std::uint64_t>(file->Size()));
            if (result.status != LoadStatus::Ok) return result;
            if (result.image.biCompression == kCompressionNone) {
                result.image.file = std::move(file);
                return result;
            }
        }
    }

    // Everything else is read whole: RLE8 streams, pipes, devices, and files
    // too short to hold their headers (which are then refused).
    ByteBuffer contents;
    switch (file->ReadToEnd(contents)) {
        case platform::ReadStatus::Ok:
            break;
        case platform::ReadStatus::CantOpen:
            return Refuse(LoadStatus::CantOpen);
        case platform::ReadStatus::NoMemory:
            return CantConvert("not enough memory");
    }
    return DecodeBitmap(std::move(contents));
}

}  // namespace bmp2grid
