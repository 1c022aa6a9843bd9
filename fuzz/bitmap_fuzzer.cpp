// libFuzzer target: any bytes as a picture, converted in both modes.
#include <cstdlib>

#include "convert_in_memory.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!bmp2grid::fuzzing::ConvertInMemory(data, size)) std::abort();
    return 0;
}
