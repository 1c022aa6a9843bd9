// libFuzzer target: any bytes as map text, read in both modes; accepted
// maps go through a BMP and back to map text.
#include <cstdlib>

#include "map_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!bmp2grid::fuzzing::MapTextRoundTrip(data, size)) std::abort();
    return 0;
}
