#include "convert_in_memory.h"

#include <algorithm>
#include <array>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "command_line.h"
#include "diagnostics.h"
#include "map_writer.h"
#include "memory_sink.h"
#include "palette_match.h"
#include "picture_loader.h"
#include "png_loader.h"
#include "test_support.h"

namespace bmp2grid::fuzzing {
namespace {

bool SameColour(const std::array<std::uint8_t, 4>& a, const std::array<std::uint8_t, 4>& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// A reference palette made from the picture's own colours, shuffled, some
// dropped, some repeated, some replaced and some added, as `seed` decides.
ColourTable RandomReference(const Picture& image, std::uint32_t seed, int& size) {
    std::mt19937 random(seed);
    ColourTable table{};
    if (random() % 2 == 0) {
        // Every colour of the picture, in another order.
        size = image.colourCount;
        std::copy_n(image.colours.begin(), size, table.begin());
        std::shuffle(table.begin(), table.begin() + size, random);
        return table;
    }
    size = static_cast<int>(random() % 257);
    for (int i = 0; i < size; ++i) {
        auto& entry = table[static_cast<std::size_t>(i)];
        const std::uint32_t pick = random();
        if (image.colourCount > 0 && pick % 8 != 0) {
            entry = image.colours[pick / 8 % static_cast<std::uint32_t>(image.colourCount)];
        } else {
            entry = {static_cast<std::uint8_t>(pick >> 8), static_cast<std::uint8_t>(pick >> 16),
                     static_cast<std::uint8_t>(pick >> 24), 0};
        }
        entry[3] = static_cast<std::uint8_t>(random());  // the reserved byte is never compared
    }
    return table;
}

// Matches the picture with random reference palettes and checks the result
// pixel by pixel against the matching rules, written plainly here.
// The seed of an input's reference palette: its bytes hashed (FNV-1a).
std::uint32_t SeedOf(const std::uint8_t* data, std::size_t size) {
    std::uint32_t seed = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;
    return seed;
}

bool RemapsLikeThePlainRules(const Picture& image, const IndexedPicture& pixels, std::uint32_t seed) {
    int size = 0;
    const ColourTable reference = RandomReference(image, seed, size);
    // Each used index's value by the rules, or -1 if it has none.
    std::array<int, 256> valueOf{};
    std::array<bool, 256> used{};
    for (std::uint8_t px : pixels.pixels) used[px] = true;
    for (int index = 0; index < 256; ++index) {
        int& value = valueOf[static_cast<std::size_t>(index)];
        value = -1;
        if (!used[static_cast<std::size_t>(index)]) continue;
        if (index >= image.colourCount) continue;
        const auto& colour = image.colours[static_cast<std::size_t>(index)];
        if (index < size && SameColour(reference[static_cast<std::size_t>(index)], colour)) {
            value = index;
            continue;
        }
        for (int j = 0; j < size && value < 0; ++j)
            if (SameColour(reference[static_cast<std::size_t>(j)], colour)) value = j;
    }
    const PaletteMatch match = MatchPalette(image, reference, size);
    // The same check made while the map is written, in one mode or the
    // other as the seed says, must agree with it.
    PaletteMatch whileWriting = MatchColours(image, reference, size);
    PixelCheck check(image, whileWriting);
    MemorySink checked;
    const SampleMode checkedMode = seed % 2 == 0 ? SampleMode::TwoToOne : SampleMode::OneToOne;
    const MapWriteStatus status = WriteMapRows(checked, image, checkedMode, whileWriting.values, &check).status;
    if ((status == MapWriteStatus::Refused) != !match.ok() || whileWriting.error != match.error ||
        whileWriting.column != match.column || whileWriting.row != match.row)
        return false;
    IndexedPicture expected = pixels;
    for (std::int64_t y = 0; y < pixels.rows; ++y)
        for (std::int64_t x = 0; x < pixels.width; ++x) {
            const int value = valueOf[pixels.at(x, y)];
            if (value < 0) {
                // The first pixel without a value, from the top left, is refused.
                const bool past = pixels.at(x, y) >= image.colourCount;
                return match.error ==
                           (past ? PaletteMatchError::IndexPastTable : PaletteMatchError::UnknownColour) &&
                       match.column == x && match.row == y && match.index == pixels.at(x, y);
            }
            expected.pixels[static_cast<std::size_t>(y * pixels.width + x)] = static_cast<std::uint8_t>(value);
        }
    if (!match.ok()) return false;
    // The remapped map text, in the mode the check was made in.
    MemorySink sink;
    if (!WriteMapHeader(sink, image, checkedMode) ||
        WriteMapRows(sink, image, checkedMode, match.values).status != MapWriteStatus::Ok)
        return false;
    const std::string plain = test::ReferenceMap(expected, checkedMode);
    return sink.text() == plain && checked.text() == plain.substr(plain.find('\n') + 1);
}

ByteBuffer Copy(const std::uint8_t* data, std::size_t size) {
    ByteBuffer file;
    if (!file.Reserve(size + 1)) return file;
    if (size > 0) std::memcpy(file.data(), data, size);
    file.SetSize(size);
    return file;
}

// A refusal must carry a reason the program can print, or have a message of
// its own.
bool Printable(const LoadFailure& refused) {
    return !LoadErrorReason(refused).empty() || refused.error == LoadError::NotEightBit;
}

bool TooLargeToCheck(const Picture& image) {
    return image.rows > kMaxMapCells || image.width * image.rows > kMaxMapCells;
}

// A picture whose rows are decoded as they are read (a non-interlaced PNG) can be
// read once: each mode loads it anew. The reference is the same bytes
// decoded whole, which must give the same picture or, where the rows turn
// out faulty, the same refusal.
bool ConvertStreamed(const std::uint8_t* data, std::size_t size, LoadResult loaded, const LoadOptions& options) {
    LoadOptions whole = options;
    whole.decodePngWhole = true;
    const LoadResult reference = DecodePicture(Copy(data, size), whole);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        if (mode == SampleMode::OneToOne) loaded = DecodePicture(Copy(data, size), options);
        if (!loaded.ok() || loaded.picture.Where() != PixelStore::Kept::AsDecoded) return false;
        MemorySink sink;
        if (!WriteMapHeader(sink, loaded.picture, mode)) return false;
        const MapWriteResult written = WriteMapRows(sink, loaded.picture, mode);
        switch (written.status) {
            case MapWriteStatus::Ok:
                if (!reference.ok() || sink.text() != test::ReferenceMap(test::PictureOf(reference.picture), mode))
                    return false;
                break;
            case MapWriteStatus::InputFailed: {
                const LoadFailure& failure = written.input;
                if (reference.ok() || failure.error != reference.error || failure.reason != reference.reason ||
                    !Printable(failure))
                    return false;
                break;
            }
            case MapWriteStatus::OutputFailed:
            case MapWriteStatus::NoMemory:
            case MapWriteStatus::Refused:
                return false;
        }
    }
    if (!reference.ok()) return true;
    // The picture decoded whole, matched with a reference palette.
    return RemapsLikeThePlainRules(reference.picture, test::PictureOf(reference.picture), SeedOf(data, size));
}

}  // namespace

bool ConvertInMemory(const std::uint8_t* data, std::size_t size) {
    ByteBuffer file = Copy(data, size);
    if (file.data() == nullptr) return true;
    LoadOptions options;
    options.maxDecodedPixels = kMaxDecodedPixels;
    LoadResult loaded = DecodePicture(std::move(file), options);
    if (!loaded.ok()) return Printable(loaded);
    if (TooLargeToCheck(loaded.picture)) return true;
    if (loaded.picture.Where() == PixelStore::Kept::AsDecoded) return ConvertStreamed(data, size, std::move(loaded), options);
    const Picture& image = loaded.picture;
    const IndexedPicture pixels = test::PictureOf(image);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        MemorySink sink;
        if (!WriteMapHeader(sink, image, mode) || WriteMapRows(sink, image, mode).status != MapWriteStatus::Ok)
            return false;
        if (sink.text() != test::ReferenceMap(pixels, mode)) return false;
    }
    // A reference palette drawn from the input's bytes.
    return RemapsLikeThePlainRules(image, pixels, SeedOf(data, size));
}

bool ConvertTiledInMemory(const std::uint8_t* data, std::size_t size) {
    LoadOptions options;
    options.maxDecodedPixels = kMaxDecodedPixels;
    if (SeedOf(data, size) % 3 == 0) options.tileLayer = "map";
    const LoadResult first = DecodePicture(Copy(data, size), options);
    if (!first.ok()) return Printable(first);
    if (TooLargeToCheck(first.picture)) return true;
    // The rows read straight through: the picture, or the refusal.
    IndexedPicture pixels{first.picture.width, first.picture.rows, {}};
    LoadFailure failed;
    {
        const std::unique_ptr<RowReader> rows = first.picture.ReadRows();
        if (rows == nullptr) return false;
        for (std::int64_t y = 0; y < pixels.rows && failed.ok(); ++y) {
            const std::uint8_t* row = rows->Row(y);
            if (row == nullptr) {
                failed = rows->Failure();
                if (failed.ok() || !Printable(failed)) return false;
            } else {
                pixels.pixels.insert(pixels.pixels.end(), row, row + pixels.width);
            }
        }
    }
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        const LoadResult loaded = DecodePicture(Copy(data, size), options);
        if (!loaded.ok() || loaded.picture.width != pixels.width || loaded.picture.rows != pixels.rows) return false;
        MemorySink sink;
        if (!WriteMapHeader(sink, loaded.picture, mode)) return false;
        const MapWriteResult written = WriteMapRows(sink, loaded.picture, mode);
        if (!failed.ok()) {
            if (written.status != MapWriteStatus::InputFailed || written.input.error != failed.error ||
                written.input.column != failed.column || written.input.row != failed.row)
                return false;
        } else if (written.status != MapWriteStatus::Ok || sink.text() != test::ReferenceMap(pixels, mode)) {
            return false;
        }
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
