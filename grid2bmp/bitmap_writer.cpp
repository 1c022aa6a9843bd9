#include "bitmap_writer.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <new>
#include <vector>

#include "bmp_format.h"

namespace bmp2grid {
namespace {

// The file header, the 40-byte info header and the colour table, then the rows.
constexpr std::size_t kInfo = bmp::kFileHeaderSize;
constexpr std::size_t kPalette = kInfo + bmp::kInfoHeaderSize;
constexpr std::size_t kOffBits = bmp::kWrittenPixelOffset;

}  // namespace

namespace {

// The bytes before the rows: file header, info header and colour table.
std::vector<std::uint8_t> BitmapHeader(std::int64_t width, std::int64_t rows, const ColourTable& palette) {
    using namespace bmp;
    const std::int64_t imageSize = RowStride(width) * rows;

    std::vector<std::uint8_t> header(kOffBits, 0);
    std::uint8_t* h = header.data();
    h[kSignatureOffset] = 'B';
    h[kSignatureOffset + 1] = 'M';
    Put32(h + kFileSizeOffset, static_cast<std::uint32_t>(kOffBits + imageSize));
    Put32(h + kPixelOffsetOffset, static_cast<std::uint32_t>(kOffBits));
    Put32(h + kInfo + info::kSize, kInfoHeaderSize);
    Put32(h + kInfo + info::kWidth, static_cast<std::uint32_t>(width));
    Put32(h + kInfo + info::kHeight, static_cast<std::uint32_t>(rows));  // bottom-up
    Put16(h + kInfo + info::kPlanes, 1);
    Put16(h + kInfo + info::kBitCount, 8);
    Put32(h + kInfo + info::kCompression, kCompressionNone);
    Put32(h + kInfo + info::kImageSize, static_cast<std::uint32_t>(imageSize));
    Put32(h + kInfo + info::kXPixelsPerMetre, 2835);  // 72 dots per inch
    Put32(h + kInfo + info::kYPixelsPerMetre, 2835);
    Put32(h + kInfo + info::kColoursUsed, static_cast<std::uint32_t>(kMaxPaletteEntries));
    for (std::size_t i = 0; i < kMaxPaletteEntries; ++i)
        for (std::size_t c = 0; c < kPaletteEntrySize; ++c) h[kPalette + kPaletteEntrySize * i + c] = palette[i][c];
    return header;
}

// Rows are gathered into blocks of about this many bytes.
constexpr std::int64_t kBlockBytes = std::int64_t{1} << 20;

}  // namespace

bool WriteBitmap(OutputSink& output, const IndexedPicture& picture, const ColourTable& palette) {
    const std::int64_t stride = bmp::RowStride(picture.width);
    const std::vector<std::uint8_t> header = BitmapHeader(picture.width, picture.rows, palette);
    if (!output.Write(reinterpret_cast<const char*>(header.data()), header.size())) return false;

    // Rows bottom first, padded, gathered into blocks of about 1 MiB.
    const auto rowBytes = static_cast<std::size_t>(stride);
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, static_cast<std::size_t>(kBlockBytes) / std::max<std::size_t>(rowBytes, 1));
    std::vector<char> block;
    try {
        for (std::int64_t y = picture.rows - 1; y >= 0; --y) {
            const std::uint8_t* row = picture.Row(y);
            block.insert(block.end(), row, row + picture.width);
            block.resize(block.size() + static_cast<std::size_t>(stride - picture.width), 0);
            if (block.size() >= rowsPerBlock * rowBytes || y == 0) {
                if (!output.Write(block.data(), block.size())) return false;
                block.clear();
            }
        }
    } catch (const std::bad_alloc&) {
        return false;  // no room for a block of rows: the output can't be written
    }
    return true;
}

BitmapRowWriter::BitmapRowWriter(SeekableSink& output, const ColourTable& palette, std::int64_t blockBytes)
    : output_(output), palette_(palette), blockBytes_(blockBytes) {}

void BitmapRowWriter::Begin(std::int64_t width, std::int64_t rows) {
    width_ = width;
    rows_ = rows;
    stride_ = bmp::RowStride(width);
    rowsPerBlock_ = std::clamp<std::int64_t>(blockBytes_ / stride_, 1, rows);
    whole_ = rowsPerBlock_ == rows;
    if (whole_) return;
    const std::vector<std::uint8_t> header = BitmapHeader(width, rows, palette_);
    ok_ = output_.SetSize(static_cast<std::int64_t>(kOffBits) + stride_ * rows) &&
          output_.WriteAt(0, reinterpret_cast<const char*>(header.data()), header.size());
}

std::uint8_t* BitmapRowWriter::Row(std::int64_t y) {
    // Asked for with the first row, once its text has been read: memory
    // follows the text, however wide the header says the picture is.
    const std::int64_t front = whole_ ? kOffBits : 0;
    if (block_.empty()) {
        try {
            block_.resize(static_cast<std::size_t>(front + rowsPerBlock_ * stride_), 0);
        } catch (const std::exception&) {
            return nullptr;
        }
        if (whole_) {
            const std::vector<std::uint8_t> header = BitmapHeader(width_, rows_, palette_);
            std::copy(header.begin(), header.end(), block_.begin());
        }
    }
    const std::int64_t blockRows = std::min(rowsPerBlock_, rows_ - blockStart_);
    return reinterpret_cast<std::uint8_t*>(block_.data()) + front + (blockStart_ + blockRows - 1 - y) * stride_;
}

void BitmapRowWriter::RowDone(std::int64_t y) {
    const std::int64_t blockRows = std::min(rowsPerBlock_, rows_ - blockStart_);
    if (y != blockStart_ + blockRows - 1) return;
    // The block's bottom row is picture row rows - 1 - y from the bottom.
    if (whole_) {
        ok_ = ok_ && output_.Write(block_.data(), block_.size());
    } else if (ok_) {
        ok_ = output_.WriteAt(static_cast<std::int64_t>(kOffBits) + (rows_ - 1 - y) * stride_, block_.data(),
                              static_cast<std::size_t>(blockRows * stride_));
    }
    blockStart_ += blockRows;
}

}  // namespace bmp2grid
