// Writes the fuzzer's seed corpus into the folder given as the argument.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "seed_corpus.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("Usage: %s <folder>\n", argv[0]);
        return 1;
    }
    std::filesystem::create_directories(argv[1]);
    for (const auto& [name, bytes] : bmp2grid::fuzzing::SeedCorpus()) {
        std::ofstream out(std::filesystem::path(argv[1]) / (name + ".bmp"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return 0;
}
