// CRC-32 on both of its paths; the old layout's 16-bit sum, which has only one, is checked by
// the corpus proofs on every entry of an old-layout archive.
#include "engine/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace korvane {
namespace {

// Both paths (the folding one where this processor has it, and the tables) against a
// bit-at-a-time CRC straight from the polynomial for every short length, whole and continued
// over two pieces; then long buffers from every start alignment, whole and fed in pieces of
// awkward sizes from an arbitrary running value, where folding must agree with the tables.
TEST(Crc32, BothPathsEqualBitwiseAndEachOtherWholeAndPiecewise) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> data((1 << 20) + 64);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  std::uint32_t bitwise = 0xFFFFFFFFu;  // over data[0, len)
  for (std::size_t len = 0; len <= 300; ++len) {
    const std::size_t cut = len / 3;
    ASSERT_EQ(UpdateCrc32Table(0xFFFFFFFFu, data.data(), len), bitwise) << "length " << len;
    ASSERT_EQ(UpdateCrc32(0xFFFFFFFFu, data.data(), len), bitwise) << "length " << len;
    ASSERT_EQ(UpdateCrc32(UpdateCrc32(0xFFFFFFFFu, data.data(), cut), data.data() + cut, len - cut), bitwise)
        << "length " << len << " split at " << cut;
    bitwise ^= data[len];
    for (int i = 0; i < 8; ++i) bitwise = (bitwise & 1) ? (bitwise >> 1) ^ 0xEDB88320u : bitwise >> 1;
  }
  const struct {
    std::size_t length, piece;  // piece 0: in one call
  } cases[] = {{64, 0},   {65, 0},        {127, 0},    {128, 0},  {4096, 0},  {4096 + 15, 0}, {(1 << 20) + 13, 0},
               {5000, 1}, {5000, 63},     {5000, 64},  {5000, 65}, {70000, 4096}, {(1 << 20), 100003}};
  for (const auto& c : cases) {
    for (std::size_t offset = 0; offset < 16; ++offset) {
      const std::uint8_t* p = data.data() + offset;
      const std::uint32_t start = 0x12345678u + static_cast<std::uint32_t>(offset);
      const std::uint32_t expected = UpdateCrc32Table(start, p, c.length);
      std::uint32_t crc = start;
      for (std::size_t done = 0; done < c.length;) {
        const std::size_t n = c.piece == 0 ? c.length : std::min(c.piece, c.length - done);
        crc = UpdateCrc32(crc, p + done, n);
        done += n;
      }
      ASSERT_EQ(crc, expected) << "length " << c.length << " piece " << c.piece << " offset " << offset;
    }
  }
}

}  // namespace
}  // namespace korvane
