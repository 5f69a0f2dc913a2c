// Test support: a fresh state record and window, as the program owns them.
#pragma once
#include <memory>
#include <vector>

#include "unpack/unpack.h"

namespace korvane::testing {

struct UnpackFixture {
  std::unique_ptr<UnpackState> state = std::make_unique<UnpackState>();
  std::vector<std::uint8_t> window = std::vector<std::uint8_t>(kWindowSize);
  UnpackState& s() { return *state; }
};

}  // namespace korvane::testing
