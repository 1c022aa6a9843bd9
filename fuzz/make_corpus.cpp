// Writes the fuzzers' seed corpora: the pictures into the first folder given,
// the map texts into the second, the PNGs into the third.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "map_text_cases.h"
#include "seed_corpus.h"

namespace {

void WriteSeed(const std::filesystem::path& path, const char* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(data, static_cast<std::streamsize>(size));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::printf("Usage: %s <picture folder> <map text folder> <PNG folder>\n", argv[0]);
        return 1;
    }
    const std::filesystem::path pictures = argv[1];
    const std::filesystem::path maps = argv[2];
    const std::filesystem::path pngs = argv[3];
    std::filesystem::create_directories(pictures);
    std::filesystem::create_directories(maps);
    std::filesystem::create_directories(pngs);
    for (const auto& [name, bytes] : bmp2grid::fuzzing::PngSeedCorpus())
        WriteSeed(pngs / (name + ".png"), reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (const auto& [name, bytes] : bmp2grid::fuzzing::SeedCorpus())
        WriteSeed(pictures / (name + ".bmp"), reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (const bmp2grid::fuzzing::MapTextCase& c : bmp2grid::fuzzing::MapTextCases())
        WriteSeed(maps / (c.name + ".txt"), c.text.data(), c.text.size());
    return 0;
}
