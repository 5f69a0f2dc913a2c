// Format 2.0's fixed parts, shared by the unpacker and the packer: the value tables behind the
// length and distance codes, the symbols with a meaning of their own, and the length bonuses
// that far distances earn. Both sides read them from here so that they cannot drift apart.
#pragma once
#include <cstddef>
#include <cstdint>

#include "unpack/format20_tables.h"

namespace korvane::format20 {

// Each base is the previous base plus 2^(previous extra bits): contiguous value ranges.
inline constexpr std::uint8_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                                 24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr std::uint8_t kLengthExtraBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                                      2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
inline constexpr std::uint32_t kDistanceBase[48] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
inline constexpr std::uint8_t kDistanceExtraBits[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                                        7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
                                                        15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
inline constexpr std::uint8_t kShortDistanceBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
inline constexpr std::uint8_t kShortDistanceExtraBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

template <typename Base, typename Extra, std::size_t kCount>
constexpr bool Contiguous(const Base (&base)[kCount], const Extra (&extra)[kCount]) {
  for (std::size_t k = 1; k < kCount; ++k)
    if (base[k] != base[k - 1] + (std::uint32_t{1} << extra[k - 1])) return false;
  return true;
}
static_assert(Contiguous(kLengthBase, kLengthExtraBits));
static_assert(Contiguous(kDistanceBase, kDistanceExtraBits));
static_assert(Contiguous(kShortDistanceBase, kShortDistanceExtraBits));
static_assert(std::size(kLengthBase) == kRepeatLengthAlphabet && std::size(kDistanceBase) == kDistanceAlphabet);

// Symbols of the main table.
inline constexpr std::uint32_t kRepeatLastSymbol = 256;      // the last match again
inline constexpr std::uint32_t kRecentDistanceSymbol = 257;  // 257..260: recent distances 1..4
inline constexpr std::uint32_t kShortMatchSymbol = 261;      // 261..268: length 2, short distance code
inline constexpr std::uint32_t kTableBlockSymbol = 269;
inline constexpr std::uint32_t kLongMatchSymbol = 270;  // 270..297: long match, length code
// A multimedia table's symbol that announces the next table block.
inline constexpr std::uint32_t kAudioTableBlockSymbol = 256;
static_assert(kLongMatchSymbol + std::size(kLengthBase) == kMainAlphabet);
static_assert(kShortMatchSymbol + std::size(kShortDistanceBase) == kTableBlockSymbol);

// Pre-code symbols of a table block beyond the 16 length values: repeat the previous length,
// a short and a long run of zeros, each with its count in extra bits.
inline constexpr std::uint32_t kRepeatPreviousLength = 16;
inline constexpr std::uint32_t kShortZeroRun = 17;
inline constexpr std::uint32_t kLongZeroRun = 18;

// Far distances make matches longer than their length code says: a long match gains one byte
// from 0x2000 on and another from 0x40000 on; a match at a recent distance also gains one from
// 257 on.
inline constexpr std::uint32_t LongMatchBonus(std::uint32_t distance) {
  return (distance >= 0x2000 ? 1u : 0u) + (distance >= 0x40000 ? 1u : 0u);
}
inline constexpr std::uint32_t RecentMatchBonus(std::uint32_t distance) {
  return LongMatchBonus(distance) + (distance >= 257 ? 1u : 0u);
}
inline constexpr std::uint32_t kLongMatchMinimum = 3;  // length code 0 with no bonus
inline constexpr std::uint32_t kRecentMatchMinimum = 2;

// The longest matches: length code 27 with all extra bits, plus the bonuses.
inline constexpr std::uint32_t kLargestLengthValue = kLengthBase[27] + (1u << kLengthExtraBits[27]) - 1;
static_assert(kLargestLengthValue == 255);
// The farthest distance: code 47 with all 16 extra bits.
static_assert(kDistanceBase[47] + 0xFFFF + 1 == kWindowSize);

}  // namespace korvane::format20
