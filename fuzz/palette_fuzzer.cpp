// libFuzzer target: any bytes as a GIMP and as a JASC palette, whole and in
// pieces. No line may be dropped or cut: every colour read must be found
// on the line the reader names for it, and every colour line in the text
// must be read.
#include <cstdlib>

#include "palette_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!bmp2grid::fuzzing::PaletteLinesHold(data, size)) std::abort();
    return 0;
}
