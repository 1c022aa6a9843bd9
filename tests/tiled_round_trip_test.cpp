// Every picture the tests know, as map text, written as a Tiled map and
// read back, gives the same map text: the fixtures of real image tools and
// the fuzzers' seeds, in both modes and both Tiled formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics.h"
#include "map_reader.h"
#include "memory_sink.h"
#include "picture_loader.h"
#include "seed_corpus.h"
#include "test_support.h"
#include "tiled_writer.h"

namespace bmp2grid::test {
namespace {

std::vector<std::pair<std::string, Bytes>> EveryPicture() {
    std::vector<std::pair<std::string, Bytes>> pictures;
    for (const auto& entry : std::filesystem::directory_iterator(BMP2GRID_TEST_DATA)) {
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() || (extension != ".bmp" && extension != ".png")) continue;
        const std::string bytes = ReadFile(entry.path().string());
        pictures.emplace_back(entry.path().filename().string(), Bytes(bytes.begin(), bytes.end()));
    }
    for (auto& seed : fuzzing::SeedCorpus()) pictures.push_back(std::move(seed));
    for (auto& seed : fuzzing::PngSeedCorpus()) pictures.push_back(std::move(seed));
    return pictures;
}

TEST(TiledRoundTrip, EveryFixtureAndSeedGivesBackItsMapText) {
    int tried = 0;
    for (const auto& [name, bytes] : EveryPicture()) {
        const LoadResult loaded = DecodeBytes(bytes);
        if (!loaded.ok()) continue;  // the refusals among them
        for (const SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
            const std::string mapText = MapText(loaded.picture, mode);
            const MapReadResult map = ReadMapText(mapText, mode);
            // Maps without cells have no picture (grid2bmp refuses them).
            if (!map.ok()) continue;
            for (const TiledFormat format : {TiledFormat::Tmx, TiledFormat::Tmj}) {
                const char* formatName = format == TiledFormat::Tmx ? "TMX" : "TMJ";
                SCOPED_TRACE(name + (mode == SampleMode::OneToOne ? " -1 " : " ") + formatName);
                MemorySink tiled;
                ASSERT_TRUE(WriteTiledMap(tiled, map.picture, format, mode, "sheet.tiles.png"));
                const std::string_view text = tiled.text();
                ByteBuffer bytes;
                ASSERT_TRUE(bytes.Reserve(text.size()));
                std::copy(text.begin(), text.end(), bytes.data());
                bytes.SetSize(text.size());
                // Told from a picture by its content, as bmp2grid tells it.
                const LoadResult back = DecodePicture(std::move(bytes), LoadOptions{});
                ASSERT_TRUE(back.ok()) << LoadErrorReason(back);
                EXPECT_EQ(MapText(back.picture, mode), mapText);
                ++tried;
            }
        }
    }
    // The fixtures and seeds that load: a few dozen in each mode and format.
    EXPECT_GT(tried, 100);
}

}  // namespace
}  // namespace bmp2grid::test
