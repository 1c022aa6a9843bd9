#include "convert_in_memory.h"

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "map_writer.h"
#include "picture_loader.h"
#include "png_loader.h"
#include "test_support.h"

namespace bmp2grid::fuzzing {
namespace {

ByteBuffer Copy(const std::uint8_t* data, std::size_t size) {
    ByteBuffer file;
    if (!file.Reserve(size + 1)) return file;
    if (size > 0) std::memcpy(file.data(), data, size);
    file.SetSize(size);
    return file;
}

// A refusal must carry a reason the program can print, or have a message of
// its own.
bool Printable(const LoadResult& refused) {
    return !LoadErrorReason(refused).empty() || refused.error == LoadError::NotEightBit;
}

bool TooLargeToCheck(const BitmapImage& image) {
    return image.rows > kMaxMapCells || image.width * image.rows > kMaxMapCells;
}

// A picture whose rows come from a row source (a non-interlaced PNG) can be
// read once: each mode loads it anew. The reference is the same bytes
// decoded whole, which must give the same picture or, where the rows turn
// out faulty, the same refusal.
bool ConvertStreamed(const std::uint8_t* data, std::size_t size, LoadResult loaded, const LoadOptions& options) {
    LoadOptions whole = options;
    whole.decodePngWhole = true;
    const LoadResult reference = DecodePicture(Copy(data, size), whole);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        if (mode == SampleMode::OneToOne) loaded = DecodePicture(Copy(data, size), options);
        if (!loaded.ok() || loaded.image.rowSource == nullptr) return false;
        StringSink sink;
        if (!WriteMapHeader(sink, loaded.image, mode)) return false;
        switch (WriteMapRows(sink, loaded.image, mode)) {
            case MapWriteStatus::Ok:
                if (!reference.ok() || sink.text != test::ReferenceMap(test::PictureOf(reference.image), mode))
                    return false;
                break;
            case MapWriteStatus::InputFailed: {
                const LoadResult failure = loaded.image.rowSource->Failure();
                if (reference.ok() || failure.error != reference.error || failure.reason != reference.reason ||
                    !Printable(failure))
                    return false;
                break;
            }
            case MapWriteStatus::OutputFailed:
            case MapWriteStatus::NoMemory:
                return false;
        }
    }
    return true;
}

}  // namespace

bool ConvertInMemory(const std::uint8_t* data, std::size_t size) {
    ByteBuffer file = Copy(data, size);
    if (file.data() == nullptr) return true;
    LoadOptions options;
    options.maxDecodedPixels = kMaxDecodedPixels;
    LoadResult loaded = DecodePicture(std::move(file), options);
    if (!loaded.ok()) return Printable(loaded);
    if (TooLargeToCheck(loaded.image)) return true;
    if (loaded.image.rowSource != nullptr) return ConvertStreamed(data, size, std::move(loaded), options);
    const BitmapImage& image = loaded.image;
    const IndexedPicture pixels = test::PictureOf(image);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        StringSink sink;
        if (!WriteMapHeader(sink, image, mode) || WriteMapRows(sink, image, mode) != MapWriteStatus::Ok)
            return false;
        if (sink.text != test::ReferenceMap(pixels, mode)) return false;
    }
    return true;
}

std::vector<std::uint8_t> WithChunkCrcsMended(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    if (!IsPngSignature(bytes)) return bytes;
    auto get32 = [&bytes](std::size_t at) {
        return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
               std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
    };
    for (std::size_t at = kPngSignatureSize; at + 12 <= bytes.size();) {
        const std::uint32_t length = get32(at);
        if (length > bytes.size() - at - 12) break;
        const std::size_t crcAt = at + 8 + length;
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, bytes.data() + at + 4, static_cast<uInt>(length + 4)));
        for (int i = 0; i < 4; ++i) bytes[crcAt + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        at = crcAt + 4;
    }
    return bytes;
}

bool ConvertPngInMemory(const std::uint8_t* data, std::size_t size) {
    if (!ConvertInMemory(data, size)) return false;
    const std::vector<std::uint8_t> mended = WithChunkCrcsMended(data, size);
    if (mended == std::vector<std::uint8_t>(data, data + size)) return true;
    return ConvertInMemory(mended.data(), mended.size());
}

}  // namespace bmp2grid::fuzzing
