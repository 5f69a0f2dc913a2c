#include "engine/checksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace korvane {
namespace {

std::uint32_t Crc(const char* text) {
  return ~UpdateCrc32(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
}

// Bit-at-a-time CRC-32 straight from the polynomial: the reference the sliced tables must match.
std::uint32_t BitwiseCrc(std::uint32_t crc, const std::vector<std::uint8_t>& data) {
  for (std::uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return crc;
}

struct CrcCase {
  const char* text;
  std::uint32_t crc;
};

class Crc32CheckValues : public ::testing::TestWithParam<CrcCase> {};

TEST_P(Crc32CheckValues, MatchesPublishedValue) { EXPECT_EQ(Crc(GetParam().text), GetParam().crc); }

INSTANTIATE_TEST_SUITE_P(Known, Crc32CheckValues,
                         ::testing::Values(CrcCase{"", 0x00000000u}, CrcCase{"a", 0xE8B7BE43u},
                                           CrcCase{"123456789", 0xCBF43926u},
                                           CrcCase{"The quick brown fox jumps over the lazy dog", 0x414FA339u}));

TEST(Crc32, SlicedEqualsBitwiseForEveryLengthAndSplit) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> data(300);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  for (std::size_t len = 0; len <= data.size(); ++len) {
    std::vector<std::uint8_t> part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(len));
    const std::uint32_t expected = BitwiseCrc(0xFFFFFFFFu, part);
    ASSERT_EQ(UpdateCrc32(0xFFFFFFFFu, part.data(), part.size()), expected) << "length " << len;
    // Continuing over two pieces (any split, unaligned starts) gives the same value.
    const std::size_t cut = len / 3;
    std::uint32_t crc = UpdateCrc32(0xFFFFFFFFu, part.data(), cut);
    crc = UpdateCrc32(crc, part.data() + cut, len - cut);
    ASSERT_EQ(crc, expected) << "length " << len << " split at " << cut;
  }
}

TEST(OldChecksum, CheckValueAndRotation) {
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(UpdateOldChecksum(0, abc, 3), 0x0556);
  // The carry out of bit 15 must come back in at bit 0, and the add must wrap at 65536.
  const std::uint8_t one[] = {0x01};
  EXPECT_EQ(UpdateOldChecksum(0x8000, one, 1), 0x0003);
  const std::uint8_t ff[] = {0xFF};
  EXPECT_EQ(UpdateOldChecksum(0xFFFF, ff, 1), 0x01FC);
  // Continuing equals one pass.
  EXPECT_EQ(UpdateOldChecksum(UpdateOldChecksum(0, abc, 1), abc + 1, 2), 0x0556);
}

TEST(UpdateChecksum, KindSelectsAlgorithm) {
  const std::uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(UpdateChecksum(0, abc, 3, kChecksumOld), 0x0556u);
  // Only the low 16 bits of the running value take part in the old sum.
  EXPECT_EQ(UpdateChecksum(0xABCD0000u, abc, 3, kChecksumOld), 0x0556u);
  EXPECT_EQ(UpdateChecksum(0xFFFFFFFFu, abc, 3, kChecksumCrc32), UpdateCrc32(0xFFFFFFFFu, abc, 3));
  EXPECT_EQ(UpdateChecksum(0xFFFFFFFFu, abc, 3, 0), UpdateCrc32(0xFFFFFFFFu, abc, 3));
}

}  // namespace
}  // namespace korvane
