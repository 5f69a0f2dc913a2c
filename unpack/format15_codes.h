// Format 1.5's fixed parts: the seven threshold codes, the short-code sets and the order
// lists' promotion and rescale. Internal to the unpacker; tests use it to build streams.
#pragma once
#include <cstdint>
#include <cstring>

#include "unpack/bit_input.h"
#include "unpack/unpack_state.h"

namespace korvane::format15 {

// A fixed code: the width grows by one bit for every limit the input reaches; the value is
// the offset past the last limit reached plus the base for that width.
struct ThresholdCode {
  std::uint32_t StartWidth;
  std::uint16_t Limits[12];  // ends in 0xFFFF, which no input (masked to 0xFFF0) reaches
  std::uint16_t Bases[13];   // by code width
};

inline constexpr ThresholdCode kLengthCodeA{
    2,
    {0x8000, 0xA000, 0xC000, 0xD000, 0xE000, 0xEA00, 0xEE00, 0xF000, 0xF200, 0xF200, 0xFFFF, 0xFFFF},
    {0, 0, 0, 2, 3, 5, 7, 11, 16, 20, 24, 32, 32}};
inline constexpr ThresholdCode kLengthCodeB{
    3,
    {0xA000, 0xC000, 0xD000, 0xE000, 0xEA00, 0xEE00, 0xF000, 0xF200, 0xF240, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 5, 7, 9, 13, 18, 22, 26, 34, 36}};
inline constexpr ThresholdCode kPlaceCodeA{
    4,
    {0x8000, 0xC000, 0xE000, 0xF200, 0xF200, 0xF200, 0xF200, 0xF200, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 8, 16, 24, 33, 33, 33, 33, 33}};
inline constexpr ThresholdCode kPlaceCodeB{
    5,
    {0x2000, 0xC000, 0xE000, 0xF000, 0xF200, 0xF200, 0xF7E0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 4, 44, 60, 76, 80, 80, 127}};
inline constexpr ThresholdCode kPlaceCodeC{
    5,
    {0x1000, 0x2400, 0x8000, 0xC000, 0xFA00, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 2, 7, 53, 117, 233, 0, 0}};
inline constexpr ThresholdCode kPlaceCodeD{
    6,
    {0x0800, 0x2400, 0xEE00, 0xFE80, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 0, 2, 16, 218, 251, 0, 0}};
inline constexpr ThresholdCode kPlaceCodeE{
    8,
    {0xFF00, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0}};

// The widest code any input can select, and its largest value. Widths stay within the 13
// bases and below 16 bits; lengths stay within 0..255 and places within 0..256.
inline constexpr std::uint32_t MaxWidth(const ThresholdCode& c) {
  std::uint32_t i = 0;
  while (c.Limits[i] <= 0xFFF0) ++i;
  return c.StartWidth + i;
}
inline constexpr std::uint32_t MaxValue(const ThresholdCode& c) {
  const std::uint32_t width = MaxWidth(c);
  const std::uint32_t below = width == c.StartWidth ? 0 : c.Limits[width - c.StartWidth - 1];
  return ((0xFFF0 - below) >> (16 - width)) + c.Bases[width];
}
static_assert(MaxWidth(kLengthCodeA) <= 12 && MaxValue(kLengthCodeA) == 255);
static_assert(MaxWidth(kLengthCodeB) <= 12 && MaxValue(kLengthCodeB) == 255);
static_assert(MaxWidth(kPlaceCodeA) <= 12 && MaxValue(kPlaceCodeA) == 256);
static_assert(MaxWidth(kPlaceCodeB) <= 12 && MaxValue(kPlaceCodeB) == 256);
static_assert(MaxWidth(kPlaceCodeC) <= 12 && MaxValue(kPlaceCodeC) == 256);
static_assert(MaxWidth(kPlaceCodeD) <= 12 && MaxValue(kPlaceCodeD) == 256);
static_assert(MaxWidth(kPlaceCodeE) <= 12 && MaxValue(kPlaceCodeE) == 256);
// Longest match: long length value 255 + 3 + 8 at a near distance.
static_assert(255 + 3 + 8 <= kWindowReserve);

// The written rule: walk the limits while they are at most the input.
inline std::uint32_t DecodeThresholdCodeByWalk(UnpackState& s, std::uint32_t bits, const ThresholdCode& code) {
  const std::uint32_t n = bits & 0xFFF0;
  std::uint32_t width = code.StartWidth;
  std::uint32_t i = 0;
  while (code.Limits[i] <= n) {
    ++width;
    ++i;
  }
  SkipBits(s, width);
  const std::uint32_t below = i == 0 ? 0 : code.Limits[i - 1];
  return ((n - below) >> (16 - width)) + code.Bases[width];
}

// The walk only looks at bits 4 to 15 of its input, so 4096 answers per code hold its result
// for every input: value | width << 9 (values reach 256, widths 12).
struct ThresholdTable {
  std::uint16_t Entry[4096];
};
inline constexpr ThresholdTable MakeThresholdTable(const ThresholdCode& code) {
  ThresholdTable table{};
  for (std::uint32_t top = 0; top < 4096; ++top) {
    const std::uint32_t n = top << 4;
    std::uint32_t width = code.StartWidth;
    std::uint32_t i = 0;
    while (code.Limits[i] <= n) {
      ++width;
      ++i;
    }
    const std::uint32_t below = i == 0 ? 0 : code.Limits[i - 1];
    const std::uint32_t value = ((n - below) >> (16 - width)) + code.Bases[width];
    table.Entry[top] = static_cast<std::uint16_t>(value | (width << 9));
  }
  return table;
}
inline constexpr ThresholdTable kLengthTableA = MakeThresholdTable(kLengthCodeA);
inline constexpr ThresholdTable kLengthTableB = MakeThresholdTable(kLengthCodeB);
inline constexpr ThresholdTable kPlaceTableA = MakeThresholdTable(kPlaceCodeA);
inline constexpr ThresholdTable kPlaceTableB = MakeThresholdTable(kPlaceCodeB);
inline constexpr ThresholdTable kPlaceTableC = MakeThresholdTable(kPlaceCodeC);
inline constexpr ThresholdTable kPlaceTableD = MakeThresholdTable(kPlaceCodeD);
inline constexpr ThresholdTable kPlaceTableE = MakeThresholdTable(kPlaceCodeE);

inline std::uint32_t DecodeThresholdCode(BitCursor& in, std::uint32_t bits, const ThresholdTable& table) {
  const std::uint32_t entry = table.Entry[(bits >> 4) & 0xFFF];
  in.Skip(entry >> 9);
  return entry & 0x1FF;
}
inline std::uint32_t DecodeThresholdCode(UnpackState& s, std::uint32_t bits, const ThresholdTable& table) {
  BitCursor in = BitCursor::Load(s);
  const std::uint32_t value = DecodeThresholdCode(in, bits, table);
  in.Store(s);
  return value;
}

// The list places are 0..255; the all-ones place code (256) has no meaning there and is
// taken modulo 256.
inline constexpr std::uint32_t kPlaceMask = 0xFF;

// Short codes: 15 codes as lengths and left-justified patterns, first match in order wins.
inline constexpr std::uint8_t kShortLengthsA[15] = {1, 3, 4, 4, 5, 6, 7, 8, 8, 4, 4, 5, 6, 6, 4};
inline constexpr std::uint8_t kShortPatternsA[15] = {0x00, 0xA0, 0xD0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE,
                                              0xFF, 0xC0, 0x80, 0x90, 0x98, 0x9C, 0xB0};
inline constexpr std::uint8_t kShortLengthsB[15] = {2, 3, 3, 3, 4, 4, 5, 6, 6, 4, 4, 5, 6, 6, 4};
inline constexpr std::uint8_t kShortPatternsB[15] = {0x00, 0x40, 0x60, 0xA0, 0xD0, 0xE0, 0xF0, 0xF8,
                                              0xFC, 0xC0, 0x80, 0x90, 0x98, 0x9C, 0xB0};

// The search done once at compile time for every set, toggle and input byte:
// entry = (code length << 4) | k.
struct ShortCodeLookup {
  std::uint8_t Entry[2][2][256];
};
inline constexpr ShortCodeLookup MakeShortCodeLookup() {
  ShortCodeLookup lookup{};
  for (int set = 0; set < 2; ++set) {
    for (int toggle = 0; toggle < 2; ++toggle) {
      std::uint8_t lengths[15];
      const std::uint8_t* patterns = set == 0 ? kShortPatternsA : kShortPatternsB;
      for (int k = 0; k < 15; ++k) lengths[k] = set == 0 ? kShortLengthsA[k] : kShortLengthsB[k];
      lengths[set == 0 ? 1 : 3] = static_cast<std::uint8_t>(3 + toggle);
      for (int byte = 0; byte < 256; ++byte) {
        int winner = -1;
        for (int k = 0; k < 15 && winner < 0; ++k) {
          const int mask = (0xFF << (8 - lengths[k])) & 0xFF;
          if (((byte ^ patterns[k]) & mask) == 0) winner = k;
        }
        if (winner < 0) return ShortCodeLookup{};  // both sets cover every byte: never here
        lookup.Entry[set][toggle][byte] = static_cast<std::uint8_t>((lengths[winner] << 4) | winner);
      }
    }
  }
  return lookup;
}
inline constexpr ShortCodeLookup kShortCodes = MakeShortCodeLookup();
static_assert(kShortCodes.Entry[0][0][0xFF] == ((8 << 4) | 8) && kShortCodes.Entry[1][1][0xB0] == ((4 << 4) | 14));
static_assert(kShortCodes.Entry[0][0][0xB0] == ((3 << 4) | 1), "with the toggle off, 101 hides code 14");

enum class CounterLimit { Literal, Wrap };

// Sets the counters by place (7 for places 0-31 down to 0 for 224-255) and the slots to match.
void RescaleOrderList(std::uint32_t* list, std::uint32_t* slots);

// Moves the entry at place to the front of its counter group and returns it with the counter
// increased; an overflowing counter rescales the list first (Literal: above 0xA1; Wrap: back
// to 0).
std::uint32_t PromoteOrderEntry(std::uint32_t* list, std::uint32_t* slots, std::uint32_t place, CounterLimit limit);

}  // namespace korvane::format15
