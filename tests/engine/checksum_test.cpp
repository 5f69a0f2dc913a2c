#include "engine/checksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace korvane {
namespace {

TEST(Crc32, PublishedCheckValues) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"", 0x00000000u}, {"a", 0xE8B7BE43u}, {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u}};
  for (const auto& [text, crc] : cases)
    EXPECT_EQ(~UpdateCrc32(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)), crc) << text;
}

// The sliced tables against a bit-at-a-time CRC straight from the polynomial, for every length
// (all tail and alignment cases) and continued over two pieces.
TEST(Crc32, SlicedEqualsBitwiseForEveryLengthAndSplit) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> data(300);
  for (auto& b : data) b = static_cast<std::uint8_t>(rng());
  std::uint32_t bitwise = 0xFFFFFFFFu;  // over data[0, len)
  for (std::size_t len = 0; len <= data.size(); ++len) {
    ASSERT_EQ(UpdateCrc32(0xFFFFFFFFu, data.data(), len), bitwise) << "length " << len;
    const std::size_t cut = len / 3;
    ASSERT_EQ(UpdateCrc32(UpdateCrc32(0xFFFFFFFFu, data.data(), cut), data.data() + cut, len - cut), bitwise)
        << "length " << len << " split at " << cut;
    if (len == data.size()) break;
    bitwise ^= data[len];
    for (int i = 0; i < 8; ++i) bitwise = (bitwise & 1) ? (bitwise >> 1) ^ 0xEDB88320u : bitwise >> 1;
  }
}

TEST(OldChecksum, CheckValueRotationAndKindSelection) {
  const std::uint8_t abc[] = {'a', 'b', 'c'}, one[] = {0x01}, ff[] = {0xFF};
  EXPECT_EQ(UpdateOldChecksum(0, abc, 3), 0x0556);
  EXPECT_EQ(UpdateOldChecksum(UpdateOldChecksum(0, abc, 1), abc + 1, 2), 0x0556);
  // The carry out of bit 15 comes back in at bit 0, and the add wraps at 65536.
  EXPECT_EQ(UpdateOldChecksum(0x8000, one, 1), 0x0003);
  EXPECT_EQ(UpdateOldChecksum(0xFFFF, ff, 1), 0x01FC);
  // Only the low 16 bits of the running value take part in the old sum; any other kind is CRC-32.
  EXPECT_EQ(UpdateChecksum(0xABCD0000u, abc, 3, ChecksumKind::kOld), 0x0556u);
  EXPECT_EQ(UpdateChecksum(0xFFFFFFFFu, abc, 3, ChecksumKind::kCrc32), 0xCADBBE3Du);
}

}  // namespace
}  // namespace korvane
