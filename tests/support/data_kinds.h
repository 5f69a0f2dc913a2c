// Test support: the kinds of data on which every level must pack at least as small as the one
// below it, for the level-order test and the benchmark's full table.
#pragma once
#include <cstddef>
#include <vector>

#include "tests/support/round_trip.h"

namespace korvane::testing {

struct DataKind {
  const char* Name;
  Bytes Data;
};

// Each about `size` bytes: the corpus's modules and pictures as they lie, decimal numbers a
// line each, CSV rows, random words, 16-bit stereo PCM, binary records, zeros, random bytes.
std::vector<DataKind> DataKinds(std::size_t size);

}  // namespace korvane::testing
