// The picture fuzzers' seed corpora: small pictures in every layout the
// converter reads, and the faults it must refuse.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace bmp2grid::fuzzing {

std::vector<std::pair<std::string, test::Bytes>> SeedCorpus();

// The PNG fuzzer's: indexed PNGs written by grid2bmp's writer, at the edges
// of size. The PNG fixtures in tests/data (every kind read, and refusals)
// join them.
std::vector<std::pair<std::string, test::Bytes>> PngSeedCorpus();

}  // namespace bmp2grid::fuzzing
