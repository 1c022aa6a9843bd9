// libFuzzer target: any bytes as a picture (seeded with PNGs), converted in
// both modes, as they are and with their PNG chunk CRCs mended.
#include <cstdlib>

#include "convert_in_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!bmp2grid::fuzzing::ConvertPngInMemory(data, size)) std::abort();
    return 0;
}
