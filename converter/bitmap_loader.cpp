#include "bitmap_loader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "bmp_format.h"
#include "platform.h"

namespace bmp2grid {
namespace {

using namespace bmp;

// The info header's fields are read up to and including the compression.
constexpr std::size_t kInfoFieldsSize = info::kCompression + 4;


// What the headers say, as stored, and the layout of the rows they describe.
struct Headers {
    std::uint32_t bfOffBits = 0;
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    bool topDown = false;     // the first stored row is the top row
    std::int64_t stride = 0;  // bytes from one stored row to the next
};

// A header read: the picture as described (no pixels yet), or the refusal.
struct HeaderResult {
    LoadResult result;
    Headers headers;
};

HeaderResult RefuseHeaders(LoadError error) { return {Refused(error), {}}; }

// Where stored row `stored` of a picture starts, counted from the pixel data.
std::int64_t StoredRow(const Headers& headers, std::int64_t rows, std::int64_t y) {
    return headers.topDown ? y : rows - 1 - y;
}

// An uncompressed picture held in memory: its stored rows from `first` on.
std::shared_ptr<const PixelStore> HeldRows(ByteBuffer storage, const std::uint8_t* first, const Headers& headers,
                                           std::int64_t rows) {
    const std::uint8_t* top = first + StoredRow(headers, rows, 0) * headers.stride;
    return std::make_shared<HeldPixels>(std::move(storage), top, headers.topDown ? headers.stride : -headers.stride);
}

// An uncompressed picture kept in its regular file: rows are read from it
// as they are asked for, a window of rows at a time into a buffer that is
// reused, so memory use stays small whatever the picture's size. Rows wider
// than the window are read a window of columns at a time instead.
class FileRows final : public PixelStore {
public:
    FileRows(std::shared_ptr<const platform::InputFile> file, const Headers& headers, std::int64_t width,
             std::int64_t rows)
        : file_(std::move(file)), headers_(headers), width_(width), rows_(rows) {}
    Kept Where() const override { return Kept::InFile; }
    std::unique_ptr<RowReader> ReadRows(std::int64_t windowBytes) const override {
        return std::unique_ptr<RowReader>(new (std::nothrow) Reader(*this, windowBytes));
    }

private:
    class Reader final : public RowReader {
    public:
        Reader(const FileRows& rows, std::int64_t windowBytes) : rows_(rows), windowBytes_(windowBytes) {}
        bool Wide() const override { return rows_.headers_.stride > windowBytes_; }
        std::int64_t WindowBytes() const override { return windowBytes_; }
        const std::uint8_t* Row(std::int64_t y) override {
            const std::int64_t stored = StoredRow(rows_.headers_, rows_.rows_, y);
            if ((stored < first_ || stored >= first_ + count_) && !Load(y)) return nullptr;
            return window_.data() + (stored - first_) * rows_.headers_.stride;
        }
        const std::uint8_t* Columns(std::int64_t y, std::int64_t first, std::int64_t count) override {
            count_ = 0;  // the window no longer holds whole rows
            if (!Room(count)) return nullptr;
            const std::int64_t offset = rows_.headers_.bfOffBits +
                                        StoredRow(rows_.headers_, rows_.rows_, y) * rows_.headers_.stride + first;
            return rows_.file_->ReadAt(offset, window_.data(), static_cast<std::size_t>(count)) ? window_.data()
                                                                                               : nullptr;
        }

    private:
        // Reads picture rows y, y + 1, ... as far as the window holds. They
        // are stored next to each other: in order top-down, in reverse
        // bottom-up.
        bool Load(std::int64_t y) {
            const std::int64_t stride = rows_.headers_.stride;
            count_ = std::min(std::max<std::int64_t>(1, windowBytes_ / stride), rows_.rows_ - y);
            first_ = rows_.headers_.topDown ? y : rows_.rows_ - y - count_;
            const std::int64_t offset = rows_.headers_.bfOffBits + first_ * stride;
            // The last stored row may end at the end of the file, without padding.
            const std::int64_t length = std::min(count_ * stride, rows_.file_->Size() - offset);
            if (!Room(count_ * stride)) {
                count_ = 0;
                return false;
            }
            if (length < (count_ - 1) * stride + rows_.width_ ||
                !rows_.file_->ReadAt(offset, window_.data(), static_cast<std::size_t>(length))) {
                count_ = 0;
                return false;
            }
            return true;
        }

        // Makes the window hold at least `bytes`; false (Failure() then
        // says NoMemory) when memory ran out.
        bool Room(std::int64_t bytes) {
            failure_ = LoadError::ReadFailed;
            if (window_.size() >= static_cast<std::size_t>(bytes)) return true;
            try {
                window_.resize(static_cast<std::size_t>(bytes));
                return true;
            } catch (const std::bad_alloc&) {
                failure_ = LoadError::NoMemory;
                return false;
            }
        }
        LoadFailure Failure() const override { return bmp2grid::Failure(failure_); }

        const FileRows& rows_;
        const std::int64_t windowBytes_;
        LoadError failure_ = LoadError::ReadFailed;
        std::vector<std::uint8_t> window_;
        std::int64_t first_ = 0;  // first stored row in the window
        std::int64_t count_ = 0;  // rows in the window
    };

    std::shared_ptr<const platform::InputFile> file_;
    Headers headers_;
    std::int64_t width_;
    std::int64_t rows_;
};

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
// asked for are read and dropped, never stored. Its first bytes may have
// been taken already (to look at its signature): they come first.
class StreamInput {
public:
    StreamInput(platform::InputFile& file, std::span<const std::uint8_t> taken)
        : file_(file), head_(taken.data()), headLeft_(taken.size()) {}

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

    // Puts the bytes read ahead that the headers did not take before the
    // rest of the stream, read into `block`. False when memory ran out.
    bool PutBackHead(ByteBuffer& block) const {
        if (headLeft_ == 0) return true;
        ByteBuffer joined;
        if (!joined.Reserve(headLeft_ + block.size() + 1)) return false;
        std::memcpy(joined.data(), head_, headLeft_);
        if (block.size() > 0) std::memcpy(joined.data() + headLeft_, block.data(), block.size());
        joined.SetSize(headLeft_ + block.size());
        block = std::move(joined);
        return true;
    }

private:
    Got Take(std::uint8_t* data, std::size_t size) {
        if (headLeft_ > 0 && size > 0) {
            const std::size_t n = std::min(size, headLeft_);
            std::memcpy(data, head_, n);
            head_ += n;
            headLeft_ -= n;
            data += n;
            size -= n;
            position_ += n;
        }
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
    const std::uint8_t* head_;
    std::size_t headLeft_;
    std::uint64_t position_ = 0;
};

// An RLE8 stream read a window at a time from bytes `begin` to `end` of an
// input: only the window is held, never the whole stream, and nothing past
// the last window the decoder asks for is read.
template <class Input>
class RleWindow {
public:
    RleWindow(Input& input, std::uint64_t begin, std::uint64_t end, ByteBuffer& window)
        : input_(input), next_(begin), end_(end), window_(window) {}

    // Makes at least `count` bytes (1 or 2) available at Data(). False when
    // the stream ends first or a read fails (then Failed() is true).
    bool Ensure(std::size_t count) {
        if (last_ - first_ >= count) return true;
        return Refill(count);
    }
    const std::uint8_t* Data() const { return window_.data() + first_; }
    std::size_t Available() const { return last_ - first_; }
    void Skip(std::size_t count) { first_ += count; }
    bool Failed() const { return failed_; }

private:
    bool Refill(std::size_t count) {
        // Move what is left to the front and fill the rest of the window.
        const std::size_t left = last_ - first_;
        if (left > 0) std::memmove(window_.data(), window_.data() + first_, left);
        first_ = 0;
        last_ = left;
        const auto size = static_cast<std::size_t>(
            std::min<std::uint64_t>(window_.capacity() - left, end_ - next_));
        if (size == 0) return false;
        if (input_.Read(next_, window_.data() + left, size) != Got::Ok) {
            failed_ = true;
            return false;
        }
        next_ += size;
        last_ += size;
        return last_ >= count;
    }

    Input& input_;
    std::uint64_t next_;  // input offset of the byte after the window
    std::uint64_t end_;
    ByteBuffer& window_;
    std::size_t first_ = 0;  // the bytes not yet taken: [first_, last_)
    std::size_t last_ = 0;
    bool failed_ = false;
};

enum class Rle8Status { Ok, Corrupt, ReadFailed };

// Decodes an RLE8 stream into `pixels` (width x rows, bottom row first),
// stopping at its end-of-bitmap marker: nothing after it is asked for.
template <class Stream>
Rle8Status DecodeRle8(Stream& in, std::int64_t width, std::int64_t rows, std::uint8_t* pixels) {
    const auto ended = [&in] { return in.Failed() ? Rle8Status::ReadFailed : Rle8Status::Corrupt; };
    std::int64_t x = 0;
    std::int64_t y = 0;
    for (;;) {
        if (!in.Ensure(2)) return ended();
        const std::uint8_t count = in.Data()[0];
        const std::uint8_t value = in.Data()[1];
        in.Skip(2);
        if (count != kRleEscape) {
            // Pixels at or past the width are dropped, since encoders
            // commonly run into the row padding.
            if (y >= rows) return Rle8Status::Corrupt;
            if (x < width) {
                const std::int64_t kept = std::min<std::int64_t>(count, width - x);
                std::memset(pixels + y * width + x, value, static_cast<std::size_t>(kept));
            }
            x += count;
            continue;
        }
        switch (value) {
            case kRleEndOfLine:
                x = 0;
                ++y;
                break;
            case kRleEndOfBitmap:
                return Rle8Status::Ok;
            case kRleDelta:  // right dx, up dy
                if (!in.Ensure(2)) return ended();
                x += in.Data()[0];
                y += in.Data()[1];
                in.Skip(2);
                break;
            default: {  // literal run, padded to an even length
                if (y >= rows) return Rle8Status::Corrupt;
                const std::int64_t padded = value + (value & 1);
                // Taken in pieces, as much as the window holds at a time.
                for (std::int64_t done = 0; done < padded;) {
                    if (!in.Ensure(1)) return ended();
                    const std::int64_t piece =
                        std::min<std::int64_t>(padded - done, static_cast<std::int64_t>(in.Available()));
                    // The piece's pixels, without the pad byte and those past the width.
                    const std::int64_t kept = std::min({piece, value - done, width - (x + done)});
                    if (kept > 0) {
                        std::memcpy(pixels + y * width + x + done, in.Data(), static_cast<std::size_t>(kept));
                    }
                    in.Skip(static_cast<std::size_t>(piece));
                    done += piece;
                }
                x += value;
                break;
            }
        }
    }
}

// Reads and checks the headers, up to and including the check that the
// input reaches the pixel data. Only the bytes the checks and the colour
// table need are read: the 14-byte file header, the info fields (the first
// 20 bytes of the info block at most) and the colour table (at most 256
// entries); the rest of the info block and any gap before the pixel data are
// skipped. On success the image describes the picture but holds no pixels
// yet, and its pixel block has not been measured.
template <class Input>
HeaderResult ReadHeaders(Input& input) {
    std::uint8_t fileHeader[kFileHeaderSize];
    switch (input.Read(0, fileHeader, sizeof fileHeader)) {
        case Got::Ok:
            break;
        case Got::Ended:
            return RefuseHeaders(LoadError::FileShorterThanHeader);
        case Got::Failed:
            return RefuseHeaders(LoadError::ReadFailed);
    }
    const std::uint32_t bfOffBits = Get32(fileHeader + kPixelOffsetOffset);
    if (bfOffBits < kFileHeaderSize) return RefuseHeaders(LoadError::OffsetIntoFileHeader);

    // The fields are held in a block of exactly the length read, so that
    // reading a field the info block does not reach is an error the
    // sanitizers report.
    const std::uint64_t infoLength = bfOffBits - kFileHeaderSize;
    const auto fieldsLength = static_cast<std::size_t>(std::min<std::uint64_t>(infoLength, kInfoFieldsSize));
    ByteBuffer fields;
    if (!fields.Reserve(fieldsLength)) return RefuseHeaders(LoadError::NoMemory);
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
    if (got == Got::Failed) return RefuseHeaders(LoadError::ReadFailed);
    if (got == Got::Ended) return RefuseHeaders(LoadError::EndsBeforePixelData);

    const std::uint8_t* header = fields.data();
    if (fieldsLength < info::kSize + 4) return RefuseHeaders(LoadError::InfoHeaderTooShort);
    HeaderResult read;
    Headers& h = read.headers;
    h.bfOffBits = bfOffBits;
    h.biSize = biSize;
    if (h.biSize == kCoreHeaderSize) {
        if (fieldsLength < core::kBitCount + 2) return RefuseHeaders(LoadError::InfoHeaderTooShort);
        h.biWidth = Get16(header + core::kWidth);
        h.biHeight = Get16(header + core::kHeight);
        h.biBitCount = Get16(header + core::kBitCount);
    } else {
        if (fieldsLength < info::kBitCount + 2) return RefuseHeaders(LoadError::InfoHeaderTooShort);
        h.biWidth = static_cast<std::int32_t>(Get32(header + info::kWidth));
        h.biHeight = static_cast<std::int32_t>(Get32(header + info::kHeight));
        h.biBitCount = Get16(header + info::kBitCount);
        if (h.biSize >= kInfoFieldsSize && fieldsLength >= kInfoFieldsSize)
            h.biCompression = Get32(header + info::kCompression);
    }

    if (h.biBitCount != 8) return RefuseHeaders(LoadError::NotEightBit);
    if (h.biCompression != kCompressionNone && h.biCompression != kCompressionRle8) {
        HeaderResult refused = RefuseHeaders(LoadError::UnsupportedCompression);
        refused.result.compression = h.biCompression;
        return refused;
    }
    if (h.biWidth < 0) return RefuseHeaders(LoadError::NegativeWidth);
    if (h.biHeight == std::numeric_limits<std::int32_t>::min()) {
        return RefuseHeaders(LoadError::HeightOutOfRange);
    }
    if (h.biCompression == kCompressionRle8 && h.biHeight < 0) {
        return RefuseHeaders(LoadError::Rle8TopDown);
    }

    Picture& picture = read.result.picture;
    picture.width = h.biWidth;
    h.topDown = h.biHeight < 0;
    picture.rows = h.topDown ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
    h.stride = h.biCompression == kCompressionNone ? RowStride(picture.width) : picture.width;
    picture.colourCount = static_cast<int>(tableLength / entrySize);
    for (std::size_t i = 0; i < tableLength / entrySize; ++i) {
        const std::uint8_t* entry = table.data() + i * entrySize;
        picture.colours[i] = {entry[0], entry[1], entry[2], 0};
    }
    return read;
}

// The last header check, once the input's size is known: the pixel block
// runs from the pixel data offset to the end, and an uncompressed picture's
// rows must all lie inside it.
bool RowsAreComplete(HeaderResult& read, std::uint64_t fileSize) {
    Picture& picture = read.result.picture;
    const Headers& h = read.headers;
    picture.storedBytes = static_cast<std::int64_t>(fileSize - h.bfOffBits);
    return h.biCompression != kCompressionNone || picture.width == 0 || picture.rows == 0 ||
           picture.storedBytes >= (picture.rows - 1) * h.stride + picture.width;
}

// Decodes a checked RLE8 picture whose stream is bytes `begin` to `end` of
// `input`, read through a window of at most LoadOptions::rle8WindowBytes.
template <class Input>
LoadResult DecodeRle8Picture(HeaderResult read, Input& input, std::uint64_t begin, std::uint64_t end,
                             const LoadOptions& options) {
    Picture& picture = read.result.picture;
    const std::int64_t pixelCount = picture.width * picture.rows;  // below 2^62
    if (pixelCount > options.maxDecodedPixels) return Refused(LoadError::TooLarge);
    ByteBuffer decoded;
    if (static_cast<std::uint64_t>(pixelCount) > SIZE_MAX ||
        !decoded.AllocateZeroed(static_cast<std::size_t>(pixelCount))) {
        return Refused(LoadError::NoMemory);
    }
    const std::uint64_t windowBytes =
        std::max<std::uint64_t>(std::min<std::uint64_t>(options.rle8WindowBytes, end - begin), 2);
    ByteBuffer window;
    if (!window.Reserve(static_cast<std::size_t>(windowBytes))) return Refused(LoadError::NoMemory);
    RleWindow<Input> stream(input, begin, end, window);
    switch (DecodeRle8(stream, picture.width, picture.rows, decoded.data())) {
        case Rle8Status::Ok:
            break;
        case Rle8Status::Corrupt:
            return Refused(LoadError::CorruptRle);
        case Rle8Status::ReadFailed:
            return Refused(LoadError::ReadFailed);
    }
    // Decoded one byte per pixel, rows bottom first, no padding.
    const std::uint8_t* first = decoded.data();
    picture.pixels = HeldRows(std::move(decoded), first, read.headers, picture.rows);
    return std::move(read.result);
}

// Gives a checked picture its pixels from `block`, whose bytes from `start`
// to its end are the pixel block: an uncompressed picture keeps the block
// and addresses its rows in place; an RLE8 picture is decoded and the block
// released.
LoadResult TakePixels(HeaderResult read, ByteBuffer block, std::size_t start, const LoadOptions& options) {
    if (read.headers.biCompression == kCompressionNone) {
        const std::uint8_t* first = block.data() + start;
        read.result.picture.pixels = HeldRows(std::move(block), first, read.headers, read.result.picture.rows);
        return std::move(read.result);
    }
    MemoryInput input(block.data(), block.size());
    return DecodeRle8Picture(std::move(read), input, start, block.size(), options);
}

// An input opened as a regular file. An uncompressed picture stays in its
// file and its rows are read as the map is written; an RLE8 picture is
// decoded from its file a window at a time, up to its end-of-bitmap marker.
LoadResult LoadFromFile(std::shared_ptr<platform::InputFile> file, const LoadOptions& options) {
    FileInput input(*file);
    HeaderResult read = ReadHeaders(input);
    if (!read.result.ok()) return std::move(read.result);
    const auto size = static_cast<std::uint64_t>(file->Size());
    if (!RowsAreComplete(read, size)) return Refused(LoadError::PixelDataTruncated);
    if (read.headers.biCompression == kCompressionNone) {
        Picture& picture = read.result.picture;
        picture.pixels = std::make_shared<FileRows>(std::move(file), read.headers, picture.width, picture.rows);
        return std::move(read.result);
    }
    const std::uint64_t begin = read.headers.bfOffBits;
    return DecodeRle8Picture(std::move(read), input, begin, size, options);
}

// An input read in sequence (a pipe, a device). It is refused as soon as
// the headers fail a check; only a stream with sound headers is read on to
// its end, and its size is the number of bytes read.
LoadResult LoadFromStream(platform::InputFile& file, std::span<const std::uint8_t> taken,
                          const LoadOptions& options) {
    StreamInput input(file, taken);
    HeaderResult read = ReadHeaders(input);
    if (!read.result.ok()) return std::move(read.result);
    ByteBuffer block;
    switch (file.ReadToEnd(block)) {
        case platform::ReadStatus::Ok:
            break;
        case platform::ReadStatus::CantOpen:
        case platform::ReadStatus::ReadFailed:
            return Refused(LoadError::ReadFailed);
        case platform::ReadStatus::NoMemory:
            return Refused(LoadError::NoMemory);
    }
    if (!input.PutBackHead(block)) return Refused(LoadError::NoMemory);
    if (!RowsAreComplete(read, std::uint64_t{read.headers.bfOffBits} + block.size())) {
        return Refused(LoadError::PixelDataTruncated);
    }
    return TakePixels(std::move(read), std::move(block), 0, options);
}

}  // namespace

LoadResult DecodeBitmap(ByteBuffer file, const LoadOptions& options) {
    MemoryInput input(file.data(), file.size());
    HeaderResult read = ReadHeaders(input);
    if (!read.result.ok()) return std::move(read.result);
    if (!RowsAreComplete(read, file.size())) return Refused(LoadError::PixelDataTruncated);
    const std::size_t start = read.headers.bfOffBits;
    return TakePixels(std::move(read), std::move(file), start, options);
}

LoadResult LoadBitmap(const std::string& path, const LoadOptions& options) {
    auto file = std::make_shared<platform::InputFile>();
    if (file->Open(path) != platform::ReadStatus::Ok) return Refused(LoadError::CantOpen);
    return LoadBitmap(std::move(file), {}, options);
}

LoadResult LoadBitmap(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                      const LoadOptions& options) {
    // A file whose size is given as under 14 bytes (some system files report
    // 0) is read in sequence, so that its actual bytes count.
    if (taken.empty() && file->IsRegularFile() && file->Size() >= static_cast<std::int64_t>(kFileHeaderSize)) {
        return LoadFromFile(std::move(file), options);
    }
    return LoadFromStream(*file, taken, options);
}

bool IsBmpStart(std::span<const std::uint8_t> first) {
    if (first.size() < 2 || first[0] != 'B' || first[1] != 'M') return false;
    if (first.size() < kFileHeaderSize + 4) return true;
    const std::uint32_t infoSize = static_cast<std::uint32_t>(first[kFileHeaderSize]) |
                                   static_cast<std::uint32_t>(first[kFileHeaderSize + 1]) << 8 |
                                   static_cast<std::uint32_t>(first[kFileHeaderSize + 2]) << 16 |
                                   static_cast<std::uint32_t>(first[kFileHeaderSize + 3]) << 24;
    for (const std::uint32_t size : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        if (infoSize == size) return true;
    }
    return false;
}

}  // namespace bmp2grid
