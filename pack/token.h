// One item of the parsed stream (a literal or one of the match kinds) and the codes that
// carry it: the inverses of the unpacker's value tables, as constexpr lookups proven against
// those tables.
#pragma once
#include <array>
#include <bit>
#include <cstdint>

#include "unpack/format20_codes.h"

namespace korvane::pack {

// Symbol is the main-table symbol: a literal byte, 256 (repeat last), 257..260 (recent
// distance 1..4), 261..268 (short), 270..297 (long match). Value is the distance of a match.
struct Token {
  std::uint32_t Value = 0;
  std::uint16_t Length = 0;
  std::uint16_t Symbol = 0;
};
static_assert(sizeof(Token) == 8);

inline Token LiteralToken(std::uint8_t byte) { return Token{0, 1, byte}; }

namespace detail {

template <std::size_t kValues, typename Base, std::size_t kCodes>
constexpr std::array<std::uint8_t, kValues> InverseOf(const Base (&base)[kCodes]) {
  std::array<std::uint8_t, kValues> code{};
  std::size_t k = 0;
  for (std::size_t v = 0; v < kValues; ++v) {
    while (k + 1 < kCodes && base[k + 1] <= v) ++k;
    code[v] = static_cast<std::uint8_t>(k);
  }
  return code;
}

inline constexpr auto kLengthCodeOf = InverseOf<format20::kLargestLengthValue + 1>(format20::kLengthBase);
inline constexpr auto kShortDistanceCodeOf = InverseOf<256>(format20::kShortDistanceBase);

}  // namespace detail

// Code of a length value (the length less its minimum and bonuses), 0..255.
inline std::uint32_t LengthCode(std::uint32_t value) { return detail::kLengthCodeOf[value]; }

// Code of a distance value (distance - 1), 0..0xFFFFF. Below 0x40000 the codes pair up per
// power of two, as the base table grows; above, each code covers 0x10000.
constexpr std::uint32_t DistanceCode(std::uint32_t value) {
  if (value < 4) return value;
  if (value >= 0x40000) return 36 + ((value - 0x40000) >> 16);
  const std::uint32_t top = 31 - static_cast<std::uint32_t>(std::countl_zero(value));
  return 2 * top + ((value >> (top - 1)) & 1);
}
constexpr bool DistanceCodesMatchBases() {
  for (std::uint32_t k = 0; k < 48; ++k) {
    const std::uint32_t first = format20::kDistanceBase[k];
    const std::uint32_t last = first + (1u << format20::kDistanceExtraBits[k]) - 1;
    if (DistanceCode(first) != k || DistanceCode(last) != k) return false;
  }
  return true;
}
static_assert(DistanceCodesMatchBases());

// Code of a short distance value (distance - 1), 0..255.
inline std::uint32_t ShortDistanceCode(std::uint32_t value) { return detail::kShortDistanceCodeOf[value]; }

// The longest match each kind can express at a distance, and the shortest.
constexpr std::uint32_t LongestLongMatch(std::uint32_t distance) {
  return format20::kLargestLengthValue + format20::kLongMatchMinimum + format20::LongMatchBonus(distance);
}
constexpr std::uint32_t ShortestLongMatch(std::uint32_t distance) {
  return format20::kLongMatchMinimum + format20::LongMatchBonus(distance);
}
constexpr std::uint32_t LongestRecentMatch(std::uint32_t distance) {
  return format20::kLargestLengthValue + format20::kRecentMatchMinimum + format20::RecentMatchBonus(distance);
}
constexpr std::uint32_t ShortestRecentMatch(std::uint32_t distance) {
  return format20::kRecentMatchMinimum + format20::RecentMatchBonus(distance);
}
inline constexpr std::uint32_t kShortMatchLength = 2;
inline constexpr std::uint32_t kShortMatchReach = 256;  // short codes reach distances 1..256
inline constexpr std::uint32_t kMaxMatch = LongestLongMatch(0x100000);
static_assert(kMaxMatch == 260);

inline Token LongMatchToken(std::uint32_t distance, std::uint32_t length) {
  const std::uint32_t code = LengthCode(length - ShortestLongMatch(distance));
  return Token{distance, static_cast<std::uint16_t>(length),
               static_cast<std::uint16_t>(format20::kLongMatchSymbol + code)};
}
// slot 0..3: the most recent distance first.
inline Token RecentMatchToken(std::uint32_t slot, std::uint32_t distance, std::uint32_t length) {
  return Token{distance, static_cast<std::uint16_t>(length),
               static_cast<std::uint16_t>(format20::kRecentDistanceSymbol + slot)};
}
inline Token RepeatLastToken(std::uint32_t distance, std::uint32_t length) {
  return Token{distance, static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(format20::kRepeatLastSymbol)};
}
inline Token ShortMatchToken(std::uint32_t distance) {
  return Token{distance, kShortMatchLength,
               static_cast<std::uint16_t>(format20::kShortMatchSymbol + ShortDistanceCode(distance - 1))};
}

// What the decoder remembers of the matches: the last four distances (slot 0 the most recent)
// and the last match. Every match kind becomes the newest distance and the last match.
struct MatchHistory {
  std::uint32_t Recent[4] = {0, 0, 0, 0};
  std::uint32_t LastDistance = 0;
  std::uint32_t LastLength = 0;

  void Push(std::uint32_t distance, std::uint32_t length) {
    Recent[3] = Recent[2];
    Recent[2] = Recent[1];
    Recent[1] = Recent[0];
    Recent[0] = distance;
    LastDistance = distance;
    LastLength = length;
  }
  void Apply(const Token& t) {
    if (t.Symbol >= 256) Push(t.Value, t.Length);
  }
};

}  // namespace korvane::pack
