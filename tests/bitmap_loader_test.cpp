// Loading: header variants, storage orders, the RLE8 decoder, and every
// refusal with its reason.
#include <gtest/gtest.h>

#include <climits>

#include "bitmap_loader.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The picture the decoder produced, top row first, for comparison.
Bytes TopRowsOf(const BitmapImage& image) {
    Bytes out;
    for (std::int64_t y = 0; y < image.rows; ++y)
        out.insert(out.end(), image.Row(y), image.Row(y) + image.width);
    return out;
}

TEST(BitmapLoader, EveryHeaderVariantAndStorageGivesThePicture) {
    const Picture picture = RandomPicture(13, 9, 42);
    const std::uint32_t headers[] = {12, 16, 40, 52, 56, 64, 108, 124, 200};
    for (std::uint32_t header : headers)
        for (Storage storage : {Storage::BottomUp, Storage::TopDown, Storage::Rle8}) {
            // The core header has no compression field and unsigned heights;
            // a 16-byte header has no compression field either.
            if ((header == 12 || header == 16) && storage != Storage::BottomUp) continue;
            BmpOptions options;
            options.headerSize = header;
            options.storage = storage;
            LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
            ASSERT_EQ(loaded.status, LoadStatus::Ok) << header << ": " << loaded.reason;
            EXPECT_EQ(loaded.image.width, 13);
            EXPECT_EQ(loaded.image.rows, 9);
            EXPECT_EQ(TopRowsOf(loaded.image), picture.pixels)
                << "header " << header << " storage " << static_cast<int>(storage);
        }
}

TEST(BitmapLoader, PaletteIsReadForBothEntrySizes) {
    for (std::uint32_t header : {12u, 40u}) {
        BmpOptions options;
        options.headerSize = header;
        options.paletteEntries = 16;
        LoadResult loaded = DecodeBytes(MakeBmp(CountingPicture(2, 2), options));
        ASSERT_EQ(loaded.status, LoadStatus::Ok);
        EXPECT_EQ(loaded.image.paletteSize, 16);
        const std::array<std::uint8_t, 4> entry5{5, 250, 5 ^ 0x55, 0};
        EXPECT_EQ(loaded.image.palette[5], entry5) << header;
    }
}

TEST(BitmapLoader, AcceptsOddButSoundFiles) {
    const Picture picture = CountingPicture(6, 4);
    BmpOptions gapAndTrailing;
    gapAndTrailing.gapBeforePixels = 37;
    gapAndTrailing.trailing = Bytes(11, 0xAB);
    Bytes file = MakeBmp(picture, gapAndTrailing);
    file[0] = 'X';  // the signature is not examined
    file[1] = 'Y';
    LoadResult loaded = DecodeBytes(file);
    ASSERT_EQ(loaded.status, LoadStatus::Ok) << loaded.reason;
    EXPECT_EQ(TopRowsOf(loaded.image), picture.pixels);
    // Trailing bytes count in the pixel block length: 4 rows of stride 8, plus 11.
    EXPECT_EQ(loaded.image.pixelBlockLength, 4 * 8 + 11);

    // Row padding may be missing after the last row.
    Bytes unpadded = MakeBmp(picture);
    unpadded.resize(unpadded.size() - 2);
    EXPECT_EQ(DecodeBytes(unpadded).status, LoadStatus::Ok);

    // A file that ends at the pixel offset is a sound empty picture when
    // there are no pixels to read.
    LoadResult empty = DecodeBytes(MakeBmpWithPixelBlock(0, 5, 0, {}));
    ASSERT_EQ(empty.status, LoadStatus::Ok);
    EXPECT_EQ(empty.image.pixelBlockLength, 0);
    EXPECT_EQ(MapText(empty.image, SampleMode::OneToOne), "0,5\r\n\r\n\r\n\r\n\r\n\r\n");
}

TEST(BitmapLoader, TopDownPictureUsesThePositiveRowCount) {
    BmpOptions options;
    options.storage = Storage::TopDown;
    const Picture picture = CountingPicture(4, 3);
    LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
    ASSERT_EQ(loaded.status, LoadStatus::Ok);
    EXPECT_EQ(loaded.image.biHeight, -3);
    EXPECT_EQ(MapText(loaded.image, SampleMode::TwoToOne), ReferenceMap(picture, SampleMode::TwoToOne));
}

struct Refusal {
    const char* name;
    Bytes file;
    LoadStatus status;
    std::string reason;
};

std::vector<Refusal> Refusals() {
    const Bytes sound = MakeBmp(CountingPicture(4, 3));
    auto with = [&](std::size_t at, std::uint32_t value) {
        Bytes b = sound;
        Put32(b, at, value);
        return b;
    };
    auto bitCount = [&](std::uint16_t bits) {
        BmpOptions o;
        o.bitCount = bits;
        return MakeBmp(CountingPicture(4, 3), o);
    };
    BmpOptions coreOptions;
    coreOptions.headerSize = 12;
    coreOptions.bitCount = 24;
    Bytes infoTooShort = MakeBmpWithPixelBlock(4, 3, 0, Bytes(12, 1));
    Put32(infoTooShort, 10, 14 + 15);  // 15 info bytes: the bit count is cut off
    Bytes coreTooShort = sound;
    Put32(coreTooShort, 14, 12);
    Put32(coreTooShort, 10, 14 + 11);
    Bytes truncated = sound;
    truncated.resize(truncated.size() - 1);  // last row one byte short
    const Bytes rleCut = MakeBmpWithPixelBlock(4, 1, 1, {4, 7, 0, 0});  // no end-of-bitmap
    const Bytes rleTooManyRows = MakeBmpWithPixelBlock(4, 1, 1, {4, 7, 0, 0, 2, 7, 0, 1});
    const Bytes rleLiteralCut = MakeBmpWithPixelBlock(4, 1, 1, {0, 4, 1, 2, 3});
    const Bytes rleDeltaCut = MakeBmpWithPixelBlock(4, 2, 1, {0, 2, 1});
    const Bytes rleDeltaOut = MakeBmpWithPixelBlock(4, 2, 1, {0, 2, 0, 2, 1, 5, 0, 1});
    const Bytes rleEmpty = MakeBmpWithPixelBlock(4, 1, 1, {});
    const Bytes rleHuge = MakeBmpWithPixelBlock(INT32_MAX, INT32_MAX, 1, {0, 1});

    return {
        {"empty file", {}, LoadStatus::CantConvert, "file is shorter than a bitmap file header"},
        {"13 bytes", Bytes(sound.begin(), sound.begin() + 13), LoadStatus::CantConvert,
         "file is shorter than a bitmap file header"},
        {"offset below 14", with(10, 13), LoadStatus::CantConvert,
         "pixel data offset points into the file header"},
        {"offset past the end", with(10, static_cast<std::uint32_t>(sound.size() + 1)),
         LoadStatus::CantConvert, "file ends before the pixel data"},
        {"offset 2^32-1", with(10, 0xFFFFFFFF), LoadStatus::CantConvert, "file ends before the pixel data"},
        {"no room for biSize", with(10, 17), LoadStatus::CantConvert, "bitmap info header is too short"},
        {"info block too short", infoTooShort, LoadStatus::CantConvert, "bitmap info header is too short"},
        {"core info block too short", coreTooShort, LoadStatus::CantConvert,
         "bitmap info header is too short"},
        {"1 bit", bitCount(1), LoadStatus::NotEightBit, ""},
        {"4 bit", bitCount(4), LoadStatus::NotEightBit, ""},
        {"16 bit", bitCount(16), LoadStatus::NotEightBit, ""},
        {"24 bit", bitCount(24), LoadStatus::NotEightBit, ""},
        {"32 bit", bitCount(32), LoadStatus::NotEightBit, ""},
        {"24 bit core header", MakeBmp(CountingPicture(4, 3), coreOptions), LoadStatus::NotEightBit, ""},
        {"compression 3", with(30, 3), LoadStatus::CantConvert, "unsupported compression 3"},
        {"compression 2", with(30, 2), LoadStatus::CantConvert, "unsupported compression 2"},
        {"negative width", with(18, static_cast<std::uint32_t>(-4)), LoadStatus::CantConvert, "negative width"},
        {"height -2^31", with(22, 0x80000000u), LoadStatus::CantConvert, "height is out of range"},
        {"top-down RLE8", MakeBmpWithPixelBlock(4, -1, 1, {4, 7, 0, 1}), LoadStatus::CantConvert,
         "RLE8 picture is stored top-down"},
        {"truncated rows", truncated, LoadStatus::CantConvert, "pixel data is truncated"},
        {"huge rows, tiny file", with(18, 100000), LoadStatus::CantConvert, "pixel data is truncated"},
        {"RLE8 without end marker", rleCut, LoadStatus::CantConvert, "corrupt RLE data"},
        {"RLE8 empty stream", rleEmpty, LoadStatus::CantConvert, "corrupt RLE data"},
        {"RLE8 row past the last", rleTooManyRows, LoadStatus::CantConvert, "corrupt RLE data"},
        {"RLE8 literal cut short", rleLiteralCut, LoadStatus::CantConvert, "corrupt RLE data"},
        {"RLE8 delta cut short", rleDeltaCut, LoadStatus::CantConvert, "corrupt RLE data"},
        {"RLE8 delta past the last row", rleDeltaOut, LoadStatus::CantConvert, "corrupt RLE data"},
        {"RLE8 beyond memory", rleHuge, LoadStatus::CantConvert, "not enough memory"},
    };
}

TEST(BitmapLoader, RefusesWithTheMatchingReason) {
    for (const Refusal& r : Refusals()) {
        LoadResult loaded = DecodeBytes(r.file);
        EXPECT_EQ(loaded.status, r.status) << r.name;
        EXPECT_EQ(loaded.reason, r.reason) << r.name;
    }
}

TEST(BitmapLoader, ChecksComeInTheDocumentedOrder) {
    // A 24-bit picture with an unsupported compression and a negative width
    // is refused for its bit count first.
    BmpOptions options;
    options.bitCount = 24;
    Bytes file = MakeBmp(CountingPicture(4, 3), options);
    Put32(file, 30, 7);
    Put32(file, 18, static_cast<std::uint32_t>(-4));
    EXPECT_EQ(DecodeBytes(file).status, LoadStatus::NotEightBit);
    // Compression comes before the width.
    file[28] = 8;
    EXPECT_EQ(DecodeBytes(file).reason, "unsupported compression 7");
}

TEST(Rle8Decoder, HandlesEveryCode) {
    struct Case {
        const char* name;
        std::int32_t width, height;
        Bytes stream;
        Bytes topRows;
    };
    const Case cases[] = {
        {"runs and end of line", 3, 2, {3, 1, 0, 0, 2, 2, 1, 3, 0, 0, 0, 1}, {2, 2, 3, 1, 1, 1}},
        {"odd literal with pad byte", 3, 1, {0, 3, 7, 8, 9, 0, 0, 1}, {7, 8, 9}},
        {"even literal", 4, 1, {0, 4, 1, 2, 3, 4, 0, 1}, {1, 2, 3, 4}},
        {"delta skips pixels, which stay 0", 3, 2, {1, 5, 0, 2, 1, 1, 1, 6, 0, 1}, {0, 0, 6, 5, 0, 0}},
        {"early end of bitmap", 2, 2, {2, 9, 0, 1}, {0, 0, 9, 9}},
        {"early end of line", 3, 2, {1, 4, 0, 0, 1, 5, 0, 1}, {5, 0, 0, 4, 0, 0}},
        {"run into the row padding", 3, 2, {4, 1, 0, 0, 4, 2, 0, 0, 0, 1}, {2, 2, 2, 1, 1, 1}},
        {"literal into the row padding", 3, 1, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}, {1, 2, 3}},
        {"bytes after the end are ignored", 1, 1, {1, 3, 0, 1, 9, 9, 9}, {3}},
        {"no final end of line", 2, 1, {2, 8, 0, 1}, {8, 8}},
        {"end of line on the last row", 1, 1, {1, 8, 0, 0, 0, 0, 0, 1}, {8}},
    };
    for (const Case& c : cases) {
        LoadResult loaded = DecodeBytes(MakeBmpWithPixelBlock(c.width, c.height, 1, c.stream));
        ASSERT_EQ(loaded.status, LoadStatus::Ok) << c.name << ": " << loaded.reason;
        EXPECT_EQ(TopRowsOf(loaded.image), c.topRows) << c.name;
    }
}

TEST(Rle8Decoder, KeepsTheCompressedLengthForTheSizeReport) {
    const Bytes stream = {3, 1, 0, 0, 3, 2, 0, 1, 0xAA};
    LoadResult loaded = DecodeBytes(MakeBmpWithPixelBlock(3, 2, 1, stream));
    ASSERT_EQ(loaded.status, LoadStatus::Ok);
    EXPECT_EQ(loaded.image.pixelBlockLength, 9);
}

TEST(Rle8Decoder, RefusesPicturesOverTheCallersLimit) {
    Bytes file = MakeBmpWithPixelBlock(100, 100, 1, {0, 1});
    ByteBuffer buffer;
    ASSERT_TRUE(buffer.Reserve(file.size()));
    std::copy(file.begin(), file.end(), buffer.data());
    buffer.SetSize(file.size());
    EXPECT_EQ(DecodeBitmap(std::move(buffer), 9999).reason, "picture is too large");
}

}  // namespace
}  // namespace bmp2grid::test
