// Files written by real image tools, and the same picture in every layout
// the converter reads, all give the same map text.
#include <gtest/gtest.h>

#include "command_line.h"
#include "diagnostics.h"
#include "picture_loader.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

const std::string kData = BMP2GRID_TEST_DATA;

// The fixture picture as Pillow reads it back: 37 x 23, top row first.
IndexedPicture FixturePicture() {
    const std::string indices = ReadFile(kData + "/map.indices");
    return IndexedPicture{37, 23, Bytes(indices.begin(), indices.end())};
}

std::string ConvertFile(const std::string& path, SampleMode mode) {
    LoadResult loaded = LoadPicture(path, LoadOptions{});
    EXPECT_TRUE(loaded.ok()) << path << ": " << LoadErrorReason(loaded);
    return MapText(loaded.picture, mode);
}

TEST(RealWorldFiles, EveryToolGivesTheSameMapText) {
    const IndexedPicture picture = FixturePicture();
    ASSERT_EQ(picture.pixels.size(), 37u * 23u);
    const char* files[] = {
        "pillow.bmp",            // uncompressed, 40-byte header
        "imagemagick-bmp3.bmp",  // RLE8 with runs into the row padding
        "imagemagick.bmp",       // RLE8, 124-byte header
        "netpbm-os2.bmp",        // OS/2 1.x core header
    };
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        const std::string expected = ReferenceMap(picture, mode);
        for (const char* file : files)
            EXPECT_EQ(ConvertFile(kData + "/" + file, mode), expected) << file;
    }
}

TEST(RealWorldFiles, EveryPngGivesTheMapTextOfTheBmpOfTheSamePicture) {
    const IndexedPicture picture = FixturePicture();
    IndexedPicture twoColours = picture, fourColours = picture;
    for (auto& pixel : twoColours.pixels) pixel &= 1;
    for (auto& pixel : fourColours.pixels) pixel &= 3;
    struct Case {
        const char* png;
        const char* bmp;                 // the same picture as a BMP
        const IndexedPicture* indices;  // as Pillow reads them, when known
    };
    const Case cases[] = {
        {"pillow-p8.png", "pillow.bmp", &picture},
        {"pillow-p4.png", "pillow.bmp", &picture},
        {"pillow-p2.png", "pillow-p2.bmp", &fourColours},
        {"pillow-p1.png", "pillow-p1.bmp", &twoColours},
        {"pillow-l.png", "pillow.bmp", &picture},  // grey values 0..5
        {"netpbm.png", "pillow.bmp", &picture},
        // ImageMagick orders the palette its own way.
        {"imagemagick-png8.png", "imagemagick-png8.bmp", nullptr},
        {"imagemagick-interlaced.png", "imagemagick-png8.bmp", nullptr},
    };
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
        for (const Case& c : cases) {
            const std::string map = ConvertFile(kData + "/" + c.png, mode);
            EXPECT_EQ(map, ConvertFile(kData + "/" + c.bmp, mode)) << c.png;
            if (c.indices != nullptr) {
                EXPECT_EQ(map, ReferenceMap(*c.indices, mode)) << c.png;
            }
        }
    EXPECT_NE(ConvertFile(kData + "/imagemagick-png8.png", SampleMode::OneToOne),
              ReferenceMap(picture, SampleMode::OneToOne));
}

TEST(RealWorldFiles, EveryLayoutOfTheSamePictureGivesTheSameMapText) {
    const IndexedPicture picture = FixturePicture();
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        const std::string expected = ReferenceMap(picture, mode);
        for (std::uint32_t header : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u})
            for (Storage storage : {Storage::BottomUp, Storage::TopDown, Storage::Rle8})
                for (bool literals : {true, false}) {
                    if ((header == 12 || header == 16) && storage != Storage::BottomUp) continue;
                    BmpOptions options;
                    options.headerSize = header;
                    options.storage = storage;
                    options.rleLiterals = literals;
                    LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
                    ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
                    EXPECT_EQ(MapText(loaded.picture, mode), expected)
                        << "header " << header << " storage " << static_cast<int>(storage);
                }
    }
}

TEST(RealWorldFiles, BundledSampleConvertsToItsMapText) {
    const std::string examples = BMP2GRID_EXAMPLES;
    EXPECT_EQ(ConvertFile(examples + "/sample.bmp", SampleMode::TwoToOne),
              ReadFile(examples + "/sample.txt"));
}

}  // namespace
}  // namespace bmp2grid::test
