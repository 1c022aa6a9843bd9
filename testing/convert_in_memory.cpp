#include "convert_in_memory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>

#include "bitmap_loader.h"
#include "command_line.h"
#include "map_writer.h"
#include "palette_match.h"
#include "test_support.h"

namespace bmp2grid::fuzzing {
namespace {

bool SameColour(const std::array<std::uint8_t, 4>& a, const std::array<std::uint8_t, 4>& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// A reference palette made from the picture's own colours, shuffled, some
// dropped, some repeated, some replaced and some added, as `seed` decides.
ColourTable RandomReference(const BitmapImage& image, std::uint32_t seed, int& size) {
    std::mt19937 random(seed);
    ColourTable table{};
    if (random() % 2 == 0) {
        // Every colour of the picture, in another order.
        size = image.paletteSize;
        std::copy_n(image.palette.begin(), size, table.begin());
        std::shuffle(table.begin(), table.begin() + size, random);
        return table;
    }
    size = static_cast<int>(random() % 257);
    for (int i = 0; i < size; ++i) {
        auto& entry = table[static_cast<std::size_t>(i)];
        const std::uint32_t pick = random();
        if (image.paletteSize > 0 && pick % 8 != 0) {
            entry = image.palette[pick / 8 % static_cast<std::uint32_t>(image.paletteSize)];
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
bool RemapsLikeThePlainRules(const BitmapImage& image, const IndexedPicture& pixels, std::uint32_t seed) {
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
        if (index >= image.paletteSize) continue;
        const auto& colour = image.palette[static_cast<std::size_t>(index)];
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
    StringSink checked;
    const SampleMode checkedMode = seed % 2 == 0 ? SampleMode::TwoToOne : SampleMode::OneToOne;
    const MapWriteStatus status = WriteMapRows(checked, image, checkedMode, whileWriting.values, &check);
    if ((status == MapWriteStatus::Refused) != !match.ok() || whileWriting.error != match.error ||
        whileWriting.column != match.column || whileWriting.row != match.row)
        return false;
    IndexedPicture expected = pixels;
    for (std::int64_t y = 0; y < pixels.rows; ++y)
        for (std::int64_t x = 0; x < pixels.width; ++x) {
            const int value = valueOf[pixels.at(x, y)];
            if (value < 0) {
                // The first pixel without a value, from the top left, is refused.
                const bool past = pixels.at(x, y) >= image.paletteSize;
                return match.error ==
                           (past ? PaletteMatchError::IndexPastTable : PaletteMatchError::UnknownColour) &&
                       match.column == x && match.row == y && match.index == pixels.at(x, y);
            }
            expected.pixels[static_cast<std::size_t>(y * pixels.width + x)] = static_cast<std::uint8_t>(value);
        }
    if (!match.ok()) return false;
    // The remapped map text, in the mode the check was made in.
    StringSink sink;
    if (!WriteMapHeader(sink, image, checkedMode) ||
        WriteMapRows(sink, image, checkedMode, match.values) != MapWriteStatus::Ok)
        return false;
    const std::string plain = test::ReferenceMap(expected, checkedMode);
    return sink.text == plain && checked.text == plain.substr(plain.find('\n') + 1);
}

}  // namespace

bool ConvertInMemory(const std::uint8_t* data, std::size_t size) {
    ByteBuffer file;
    if (!file.Reserve(size + 1)) return true;
    if (size > 0) std::memcpy(file.data(), data, size);
    file.SetSize(size);
    LoadOptions options;
    options.maxDecodedPixels = kMaxDecodedPixels;
    const LoadResult loaded = DecodeBitmap(std::move(file), options);
    // A refusal must carry a reason the program can print, or have a message
    // of its own.
    if (!loaded.ok()) return !LoadErrorReason(loaded).empty() || loaded.error == LoadError::NotEightBit;
    const BitmapImage& image = loaded.image;
    if (image.rows > kMaxMapCells || image.width * image.rows > kMaxMapCells) return true;
    const IndexedPicture pixels = test::PictureOf(image);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        StringSink sink;
        if (!WriteMapHeader(sink, image, mode) || WriteMapRows(sink, image, mode) != MapWriteStatus::Ok)
            return false;
        if (sink.text != test::ReferenceMap(pixels, mode)) return false;
    }
    // A reference palette drawn from the input's bytes.
    std::uint32_t seed = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 16777619u;
    return RemapsLikeThePlainRules(image, pixels, seed);
}

}  // namespace bmp2grid::fuzzing
