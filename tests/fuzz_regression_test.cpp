// Replays the fuzzers' seed corpora and every input they ever found through
// the fuzz harnesses, so a fault once found stays fixed.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert_in_memory.h"
#include "map_round_trip.h"
#include "map_text_cases.h"
#include "seed_corpus.h"

namespace bmp2grid::test {
namespace {

// Every file in a findings folder but its README.
void AddFindings(const std::string& folder, std::vector<std::pair<std::string, Bytes>>& inputs) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".md") continue;
        const std::string bytes = ReadFile(entry.path().string());
        inputs.emplace_back(entry.path().filename().string(), Bytes(bytes.begin(), bytes.end()));
    }
}

TEST(FuzzRegressions, ReplayFindingsAndSeeds) {
    std::vector<std::pair<std::string, Bytes>> inputs = fuzzing::SeedCorpus();
    ASSERT_GT(inputs.size(), 20u);
    AddFindings(BMP2GRID_TEST_DATA "/fuzz-findings", inputs);
    for (const auto& [name, bytes] : inputs)
        EXPECT_TRUE(fuzzing::ConvertInMemory(bytes.data(), bytes.size())) << name;
}

TEST(FuzzRegressions, ReplayPngFindingsAndSeeds) {
    std::vector<std::pair<std::string, Bytes>> inputs = fuzzing::PngSeedCorpus();
    ASSERT_GT(inputs.size(), 5u);
    for (const auto& entry : std::filesystem::directory_iterator(BMP2GRID_TEST_DATA)) {
        if (entry.path().extension() != ".png") continue;
        const std::string bytes = ReadFile(entry.path().string());
        inputs.emplace_back(entry.path().filename().string(), Bytes(bytes.begin(), bytes.end()));
    }
    AddFindings(BMP2GRID_TEST_DATA "/png-fuzz-findings", inputs);
    for (const auto& [name, bytes] : inputs)
        EXPECT_TRUE(fuzzing::ConvertPngInMemory(bytes.data(), bytes.size())) << name;
}

TEST(FuzzRegressions, ReplayMapTextFindingsAndSeeds) {
    std::vector<std::pair<std::string, Bytes>> inputs;
    for (const fuzzing::MapTextCase& c : fuzzing::MapTextCases())
        inputs.emplace_back(c.name, Bytes(c.text.begin(), c.text.end()));
    ASSERT_GT(inputs.size(), 20u);
    AddFindings(BMP2GRID_TEST_DATA "/map-fuzz-findings", inputs);
    for (const auto& [name, bytes] : inputs)
        EXPECT_TRUE(fuzzing::MapTextRoundTrip(bytes.data(), bytes.size())) << name;
}

}  // namespace
}  // namespace bmp2grid::test
