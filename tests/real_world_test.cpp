// Files written by real image tools, and the same picture in every layout
// the converter reads, all give the same map text.
#include <gtest/gtest.h>

#include "command_line.h"
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
    LoadResult loaded = LoadBitmap(path, LoadOptions{});
    EXPECT_TRUE(loaded.ok()) << path << ": " << LoadErrorReason(loaded);
    return MapText(loaded.image, mode);
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
                    EXPECT_EQ(MapText(loaded.image, mode), expected)
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
