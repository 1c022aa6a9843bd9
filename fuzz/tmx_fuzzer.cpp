// libFuzzer target: any bytes as a picture, seeded with TMX maps Tiled saved;
// a map that loads is converted in both modes and checked against its rows
// read straight through.
#include <cstdlib>

#include "convert_in_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!bmp2grid::fuzzing::ConvertTiledInMemory(data, size)) std::abort();
    return 0;
}
