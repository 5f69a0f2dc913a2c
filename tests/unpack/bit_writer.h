// Test support: builds packed streams by hand, fields MSB first as the unpackers read them.
#pragma once
#include <cstdint>
#include <vector>

namespace korvane::testing {

struct BitWriter {
  std::vector<std::uint8_t> Data;
  std::size_t Count = 0;  // bits written

  void Put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i, ++Count) {
      if (Count % 8 == 0) Data.push_back(0);
      if ((value >> i) & 1) Data.back() |= static_cast<std::uint8_t>(0x80 >> (Count % 8));
    }
  }
  // The stream so far, its last byte padded with zero bits, plus padding zero bytes.
  std::vector<std::uint8_t> Bytes(std::size_t padding = 0) const {
    std::vector<std::uint8_t> out = Data;
    out.resize(Data.size() + padding);
    return out;
  }
};

}  // namespace korvane::testing
