// Replays the fuzzer's seed corpus and every input it ever found through the
// fuzz harness, so a fault once found stays fixed.
#include <gtest/gtest.h>

#include <filesystem>

#include "convert_in_memory.h"
#include "seed_corpus.h"

namespace bmp2grid::test {
namespace {

TEST(FuzzRegressions, ReplayFindingsAndSeeds) {
    std::vector<std::pair<std::string, Bytes>> inputs = fuzzing::SeedCorpus();
    ASSERT_GT(inputs.size(), 20u);
    for (const auto& entry : std::filesystem::directory_iterator(BMP2GRID_TEST_DATA "/fuzz-findings")) {
        if (entry.path().extension() == ".md") continue;
        const std::string bytes = ReadFile(entry.path().string());
        inputs.emplace_back(entry.path().filename().string(), Bytes(bytes.begin(), bytes.end()));
    }
    for (const auto& [name, bytes] : inputs)
        EXPECT_TRUE(fuzzing::ConvertInMemory(bytes.data(), bytes.size())) << name;
}

}  // namespace
}  // namespace bmp2grid::test
