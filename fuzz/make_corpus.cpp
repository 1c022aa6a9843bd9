// Writes the fuzzers' seed corpora: the pictures into the first folder given,
// the map texts into the second, the PNGs into the third, and the GIMP and
// JASC palettes into the fourth if one is given.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "map_text_cases.h"
#include "palette_lines.h"
#include "seed_corpus.h"

namespace {

void WriteSeed(const std::filesystem::path& path, const char* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(data, static_cast<std::streamsize>(size));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::printf("Usage: %s <picture folder> <map text folder> <PNG folder> [<palette folder>]\n", argv[0]);
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
    if (argc == 5) {
        const std::filesystem::path palettes = argv[4];
        std::filesystem::create_directories(palettes);
        for (const auto& [name, text] : bmp2grid::fuzzing::PaletteSeeds())
            WriteSeed(palettes / name, text.data(), text.size());
    }
    return 0;
}
