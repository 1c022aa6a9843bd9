// The fuzzer's seed corpus: small pictures in every layout the converter
// reads, and the faults it must refuse.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace bmp2grid::fuzzing {

std::vector<std::pair<std::string, test::Bytes>> SeedCorpus();

}  // namespace bmp2grid::fuzzing
