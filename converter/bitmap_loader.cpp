#include "bitmap_loader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "bmp_format.h"
#include "platform.h"

namespace bmp2grid {
namespace {

using namespace bmp;

// The info header's fields are read up to and including the compression.
constexpr std::size_t kInfoFieldsSize = info::kCompression + 4;

LoadResult Refuse(LoadError error) {
    LoadResult result;
    result.error = error;
    return result;
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
        if (count != kRleEscape) {
            if (!put(count, [value](std::uint8_t* to, std::size_t n) { std::memset(to, value, n); }))
                return false;
            continue;
        }
        switch (value) {
            case kRleEndOfLine:
                x = 0;
                ++y;
                break;
            case kRleEndOfBitmap:
                return true;
            case kRleDelta:  // right dx, up dy
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

// How a request for bytes of the input turned out.
enum class Got { Ok, Ended, Failed };

// The three kinds of input, each read through `Read(offset, data, size)`
// (exactly `size` bytes at `offset`) and `Reach(offset)` (does the input
// reach that far?), asked for at increasing offsets.

// A whole file held in memory.
class MemoryInput {
public:
    MemoryInput(const std::uint8_t* bytes, std::uint64_t size) : bytes_(bytes), size_(size) {}

    Got Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) const {
        if (offset > size_ || size > size_ - offset) return Got::Ended;
        if (size > 0) std::memcpy(data, bytes_ + offset, size);
        return Got::Ok;
    }
    Got Reach(std::uint64_t offset) const { return offset <= size_ ? Got::Ok : Got::Ended; }

private:
    const std::uint8_t* bytes_;
    std::uint64_t size_;
};

// A regular file, read at offsets: whatever is not asked for is never read.
class FileInput {
public:
    explicit FileInput(const platform::InputFile& file)
        : file_(file), size_(static_cast<std::uint64_t>(file.Size())) {}

    Got Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) const {
        if (offset > size_ || size > size_ - offset) return Got::Ended;
        return file_.ReadAt(static_cast<std::int64_t>(offset), data, size) ? Got::Ok : Got::Failed;
    }
    Got Reach(std::uint64_t offset) const { return offset <= size_ ? Got::Ok : Got::Ended; }

private:
    const platform::InputFile& file_;
    std::uint64_t size_;
};

// A stream (a pipe, a device), read in sequence: the bytes before an offset
// asked for are read and dropped, never stored.
class StreamInput {
public:
    explicit StreamInput(platform::InputFile& file) : file_(file) {}

    Got Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) {
        const Got reached = Reach(offset);
        if (reached != Got::Ok) return reached;
        return Take(data, size);
    }

    Got Reach(std::uint64_t offset) {
        std::uint8_t dropped[64 * 1024];
        while (position_ < offset) {
            const std::uint64_t size = std::min<std::uint64_t>(offset - position_, sizeof dropped);
            const Got got = Take(dropped, static_cast<std::size_t>(size));
            if (got != Got::Ok) return got;
        }
        return Got::Ok;
    }

private:
    Got Take(std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            const long long n = file_.Read(data, size);
            if (n < 0) return Got::Failed;
            if (n == 0) return Got::Ended;
            data += n;
            size -= static_cast<std::size_t>(n);
            position_ += static_cast<std::uint64_t>(n);
        }
        return Got::Ok;
    }

    platform::InputFile& file_;
    std::uint64_t position_ = 0;
};

// Reads and checks the headers, up to and including the check that the
// input reaches the pixel data. Only the bytes the checks and the colour
// table need are read: the 14-byte file header, the info fields (the first
// 20 bytes of the info block at most) and the colour table (at most 256
// entries); the rest of the info block and any gap before the pixel data are
// skipped. On success the image describes the picture but holds no pixels
// yet, and its pixel block has not been measured.
template <class Input>
LoadResult ReadHeaders(Input& input) {
    std::uint8_t fileHeader[kFileHeaderSize];
    switch (input.Read(0, fileHeader, sizeof fileHeader)) {
        case Got::Ok:
            break;
        case Got::Ended:
            return Refuse(LoadError::FileShorterThanHeader);
        case Got::Failed:
            return Refuse(LoadError::ReadFailed);
    }
    const std::uint32_t bfOffBits = Get32(fileHeader + kPixelOffsetOffset);
    if (bfOffBits < kFileHeaderSize) return Refuse(LoadError::OffsetIntoFileHeader);

    // The fields are held in a block of exactly the length read, so that
    // reading a field the info block does not reach is an error the
    // sanitizers report.
    const std::uint64_t infoLength = bfOffBits - kFileHeaderSize;
    const auto fieldsLength = static_cast<std::size_t>(std::min<std::uint64_t>(infoLength, kInfoFieldsSize));
    ByteBuffer fields;
    if (!fields.Reserve(fieldsLength)) return Refuse(LoadError::NoMemory);
    Got got = input.Read(kFileHeaderSize, fields.data(), fieldsLength);

    // The colour table follows the info header and ends before the pixel
    // data; it may begin among the fields already read.
    std::uint32_t biSize = 0;
    std::array<std::uint8_t, kMaxPaletteEntries * kPaletteEntrySize> table;
    std::size_t entrySize = kPaletteEntrySize;
    std::size_t tableLength = 0;
    if (got == Got::Ok && fieldsLength >= info::kSize + 4) {
        biSize = Get32(fields.data() + info::kSize);
        entrySize = biSize == kCoreHeaderSize ? kCorePaletteEntrySize : kPaletteEntrySize;
        if (biSize < infoLength) {
            const std::uint64_t entries = std::min<std::uint64_t>((infoLength - biSize) / entrySize,
                                                                  kMaxPaletteEntries);
            tableLength = static_cast<std::size_t>(entries) * entrySize;
        }
        std::size_t copied = 0;
        for (; copied < tableLength && std::uint64_t{biSize} + copied < fieldsLength; ++copied) {
            table[copied] = fields.data()[biSize + copied];
        }
        if (copied < tableLength) {
            got = input.Read(kFileHeaderSize + std::uint64_t{biSize} + copied, table.data() + copied,
                             tableLength - copied);
        }
    }
    if (got == Got::Ok) got = input.Reach(bfOffBits);
    if (got == Got::Failed) return Refuse(LoadError::ReadFailed);
    if (got == Got::Ended) return Refuse(LoadError::EndsBeforePixelData);

    const std::uint8_t* header = fields.data();
    if (fieldsLength < info::kSize + 4) return Refuse(LoadError::InfoHeaderTooShort);
    BitmapImage image;
    image.bfOffBits = bfOffBits;
    image.biSize = biSize;
    if (image.biSize == kCoreHeaderSize) {
        if (fieldsLength < core::kBitCount + 2) return Refuse(LoadError::InfoHeaderTooShort);
        image.biWidth = Get16(header + core::kWidth);
        image.biHeight = Get16(header + core::kHeight);
        image.biBitCount = Get16(header + core::kBitCount);
    } else {
        if (fieldsLength < info::kBitCount + 2) return Refuse(LoadError::InfoHeaderTooShort);
        image.biWidth = static_cast<std::int32_t>(Get32(header + info::kWidth));
        image.biHeight = static_cast<std::int32_t>(Get32(header + info::kHeight));
        image.biBitCount = Get16(header + info::kBitCount);
        if (image.biSize >= kInfoFieldsSize && fieldsLength >= kInfoFieldsSize)
            image.biCompression = Get32(header + info::kCompression);
    }

    if (image.biBitCount != 8) return Refuse(LoadError::NotEightBit);
    if (image.biCompression != kCompressionNone && image.biCompression != kCompressionRle8) {
        LoadResult refused = Refuse(LoadError::UnsupportedCompression);
        refused.compression = image.biCompression;
        return refused;
    }
    if (image.biWidth < 0) return Refuse(LoadError::NegativeWidth);
    if (image.biHeight == std::numeric_limits<std::int32_t>::min()) {
        return Refuse(LoadError::HeightOutOfRange);
    }
    if (image.biCompression == kCompressionRle8 && image.biHeight < 0) {
        return Refuse(LoadError::Rle8TopDown);
    }

    image.width = image.biWidth;
    image.topDown = image.biHeight < 0;
    image.rows = image.topDown ? -static_cast<std::int64_t>(image.biHeight) : image.biHeight;
    image.stride = image.biCompression == kCompressionNone ? RowStride(image.width) : image.width;
    image.paletteSize = static_cast<int>(tableLength / entrySize);
    for (std::size_t i = 0; i < tableLength / entrySize; ++i) {
        const std::uint8_t* entry = table.data() + i * entrySize;
        image.palette[i] = {entry[0], entry[1], entry[2], 0};
    }
    LoadResult result;
    result.image = std::move(image);
    return result;
}

// The last header check, once the input's size is known: the pixel block
// runs from the pixel data offset to the end, and an uncompressed picture's
// rows must all lie inside it.
bool RowsAreComplete(BitmapImage& image, std::uint64_t fileSize) {
    image.pixelBlockLength = static_cast<std::int64_t>(fileSize - image.bfOffBits);
    return image.biCompression != kCompressionNone || image.width == 0 || image.rows == 0 ||
           image.pixelBlockLength >= (image.rows - 1) * image.stride + image.width;
}

// Gives a checked picture its pixels from `block`, whose bytes from `start`
// to its end are the pixel block: an uncompressed picture keeps the block
// and addresses its rows in place; an RLE8 picture is decoded and the block
// released.
LoadResult TakePixels(LoadResult result, ByteBuffer block, std::size_t start, const LoadOptions& options) {
    BitmapImage& image = result.image;
    if (image.biCompression == kCompressionNone) {
        image.storage = std::move(block);
        image.pixels = image.storage.data() + start;
        return result;
    }
    const std::int64_t pixelCount = image.width * image.rows;  // below 2^62
    if (pixelCount > options.maxDecodedPixels) return Refuse(LoadError::TooLarge);
    ByteBuffer decoded;
    if (static_cast<std::uint64_t>(pixelCount) > SIZE_MAX ||
        !decoded.AllocateZeroed(static_cast<std::size_t>(pixelCount))) {
        return Refuse(LoadError::NoMemory);
    }
    const std::uint8_t* stream = block.data() + start;
    if (!DecodeRle8(stream, block.data() + block.size(), image.width, image.rows, decoded.data())) {
        return Refuse(LoadError::CorruptRle);
    }
    image.storage = std::move(decoded);
    image.pixels = image.storage.data();
    return result;
}

// An input opened as a regular file. An uncompressed picture stays in its
// file and its rows are read as the map is written; an RLE8 picture's pixel
// block is read and decoded.
LoadResult LoadFromFile(std::shared_ptr<platform::InputFile> file, const LoadOptions& options) {
    FileInput input(*file);
    LoadResult result = ReadHeaders(input);
    if (!result.ok()) return result;
    BitmapImage& image = result.image;
    if (!RowsAreComplete(image, static_cast<std::uint64_t>(file->Size()))) {
        return Refuse(LoadError::PixelDataTruncated);
    }
    if (image.biCompression == kCompressionNone) {
        image.file = std::move(file);
        return result;
    }
    const auto length = static_cast<std::uint64_t>(image.pixelBlockLength);
    ByteBuffer block;
    if (length >= SIZE_MAX || !block.Reserve(static_cast<std::size_t>(length) + 1)) {
        return Refuse(LoadError::NoMemory);
    }
    if (!file->ReadAt(image.bfOffBits, block.data(), static_cast<std::size_t>(length))) {
        return Refuse(LoadError::ReadFailed);
    }
    block.SetSize(static_cast<std::size_t>(length));
    return TakePixels(std::move(result), std::move(block), 0, options);
}

// An input read in sequence (a pipe, a device). It is refused as soon as
// the headers fail a check; only a stream with sound headers is read on to
// its end, and its size is the number of bytes read.
LoadResult LoadFromStream(platform::InputFile& file, const LoadOptions& options) {
    StreamInput input(file);
    LoadResult result = ReadHeaders(input);
    if (!result.ok()) return result;
    ByteBuffer block;
    switch (file.ReadToEnd(block)) {
        case platform::ReadStatus::Ok:
            break;
        case platform::ReadStatus::CantOpen:
        case platform::ReadStatus::ReadFailed:
            return Refuse(LoadError::ReadFailed);
        case platform::ReadStatus::NoMemory:
            return Refuse(LoadError::NoMemory);
    }
    if (!RowsAreComplete(result.image, std::uint64_t{result.image.bfOffBits} + block.size())) {
        return Refuse(LoadError::PixelDataTruncated);
    }
    return TakePixels(std::move(result), std::move(block), 0, options);
}

}  // namespace

LoadResult DecodeBitmap(ByteBuffer file, const LoadOptions& options) {
    MemoryInput input(file.data(), file.size());
    LoadResult result = ReadHeaders(input);
    if (!result.ok()) return result;
    if (!RowsAreComplete(result.image, file.size())) return Refuse(LoadError::PixelDataTruncated);
    const std::size_t start = result.image.bfOffBits;
    return TakePixels(std::move(result), std::move(file), start, options);
}

LoadResult LoadBitmap(const std::string& path, const LoadOptions& options) {
    auto file = std::make_shared<platform::InputFile>();
    if (file->Open(path) != platform::ReadStatus::Ok) return Refuse(LoadError::CantOpen);
    // A file whose size is given as under 14 bytes (some system files report
    // 0) is read in sequence, so that its actual bytes count.
    if (file->IsRegularFile() && file->Size() >= static_cast<std::int64_t>(kFileHeaderSize)) {
        return LoadFromFile(std::move(file), options);
    }
    return LoadFromStream(*file, options);
}

}  // namespace bmp2grid
