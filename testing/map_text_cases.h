// Map texts with the outcome the reader must give each: the tests check
// every one, and they seed the map-text fuzzer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map_reader.h"
#include "map_writer.h"

namespace bmp2grid::fuzzing {

struct MapTextCase {
    std::string name;  // also the seed's file name, so no spaces
    std::string text;
    SampleMode mode = SampleMode::TwoToOne;
    std::int64_t line = 0;  // line of the refusal; 0 when the text is accepted
    MapTextError error = MapTextError::None;  // the refusal's; None when accepted
};

std::vector<MapTextCase> MapTextCases();

}  // namespace bmp2grid::fuzzing
