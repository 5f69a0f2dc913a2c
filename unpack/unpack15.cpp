// Format 1.5: LZ77 over the same window with no transmitted tables. Fixed threshold codes
// pick places in self-ordering lists (literals, distance high parts, short distances, flag
// bytes); the lists, running averages and two competing weights adapt as items decode.
#include <bit>
#include <cstring>

#include "unpack/bit_input.h"
#include "unpack/unpack.h"

namespace korvane {
namespace {

// A fixed code: the width grows by one bit for every limit the input reaches; the value is
// the offset past the last limit reached plus the base for that width.
struct ThresholdCode {
  std::uint32_t StartWidth;
  std::uint16_t Limits[12];  // ends in 0xFFFF, which no input (masked to 0xFFF0) reaches
  std::uint16_t Bases[13];   // by code width
};

constexpr ThresholdCode kLengthCodeA{
    2,
    {0x8000, 0xA000, 0xC000, 0xD000, 0xE000, 0xEA00, 0xEE00, 0xF000, 0xF200, 0xF200, 0xFFFF, 0xFFFF},
    {0, 0, 0, 2, 3, 5, 7, 11, 16, 20, 24, 32, 32}};
constexpr ThresholdCode kLengthCodeB{
    3,
    {0xA000, 0xC000, 0xD000, 0xE000, 0xEA00, 0xEE00, 0xF000, 0xF200, 0xF240, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 5, 7, 9, 13, 18, 22, 26, 34, 36}};
constexpr ThresholdCode kPlaceCodeA{
    4,
    {0x8000, 0xC000, 0xE000, 0xF200, 0xF200, 0xF200, 0xF200, 0xF200, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 8, 16, 24, 33, 33, 33, 33, 33}};
constexpr ThresholdCode kPlaceCodeB{
    5,
    {0x2000, 0xC000, 0xE000, 0xF000, 0xF200, 0xF200, 0xF7E0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 4, 44, 60, 76, 80, 80, 127}};
constexpr ThresholdCode kPlaceCodeC{
    5,
    {0x1000, 0x2400, 0x8000, 0xC000, 0xFA00, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 2, 7, 53, 117, 233, 0, 0}};
constexpr ThresholdCode kPlaceCodeD{
    6,
    {0x0800, 0x2400, 0xEE00, 0xFE80, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 0, 2, 16, 218, 251, 0, 0}};
constexpr ThresholdCode kPlaceCodeE{
    8,
    {0xFF00, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0}};

// The widest code any input can select, and its largest value. Widths stay within the 13
// bases and below 16 bits; lengths stay within 0..255 and places within 0..256.
constexpr std::uint32_t MaxWidth(const ThresholdCode& c) {
  std::uint32_t i = 0;
  while (c.Limits[i] <= 0xFFF0) ++i;
  return c.StartWidth + i;
}
constexpr std::uint32_t MaxValue(const ThresholdCode& c) {
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

inline std::uint32_t DecodeThresholdCode(UnpackState& s, std::uint32_t bits, const ThresholdCode& code) {
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

// The list places are 0..255; the all-ones place code (256) has no meaning there and is
// taken modulo 256.
constexpr std::uint32_t kPlaceMask = 0xFF;

// Short codes: 15 codes as lengths and left-justified patterns, first match in order wins.
constexpr std::uint8_t kShortLengthsA[15] = {1, 3, 4, 4, 5, 6, 7, 8, 8, 4, 4, 5, 6, 6, 4};
constexpr std::uint8_t kShortPatternsA[15] = {0x00, 0xA0, 0xD0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE,
                                              0xFF, 0xC0, 0x80, 0x90, 0x98, 0x9C, 0xB0};
constexpr std::uint8_t kShortLengthsB[15] = {2, 3, 3, 3, 4, 4, 5, 6, 6, 4, 4, 5, 6, 6, 4};
constexpr std::uint8_t kShortPatternsB[15] = {0x00, 0x40, 0x60, 0xA0, 0xD0, 0xE0, 0xF0, 0xF8,
                                              0xFC, 0xC0, 0x80, 0x90, 0x98, 0x9C, 0xB0};

// The search done once at compile time for every set, toggle and input byte:
// entry = (code length << 4) | k.
struct ShortCodeLookup {
  std::uint8_t Entry[2][2][256];
};
constexpr ShortCodeLookup MakeShortCodeLookup() {
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
constexpr ShortCodeLookup kShortCodes = MakeShortCodeLookup();
static_assert(kShortCodes.Entry[0][0][0xFF] == ((8 << 4) | 8) && kShortCodes.Entry[1][1][0xB0] == ((4 << 4) | 14));
static_assert(kShortCodes.Entry[0][0][0xB0] == ((3 << 4) | 1), "with the toggle off, 101 hides code 14");

enum class CounterLimit { Literal, Wrap };

void RescaleOrderList(std::uint32_t* list, std::uint32_t* slots) {
  for (std::uint32_t i = 0; i < 256; ++i) list[i] = (list[i] & ~0xFFu) | (7 - i / 32);
  std::memset(slots, 0, 256 * sizeof(std::uint32_t));
  for (std::uint32_t t = 0; t < 7; ++t) slots[t] = (7 - t) * 32;
}

// Moves the entry at place to the front of the group with its old counter and returns it
// with the counter increased. The slot of a counter is the number of entries with higher
// counters, which is below 256 while such an entry exists; the mask only guards that.
std::uint32_t PromoteOrderEntry(std::uint32_t* list, std::uint32_t* slots, std::uint32_t place, CounterLimit limit) {
  for (;;) {
    std::uint32_t v = list[place];
    const std::uint32_t counter = v & 0xFF;
    const std::uint32_t target = slots[counter] & kPlaceMask;
    slots[counter] += 1;
    v += 1;
    const bool overflow = limit == CounterLimit::Literal ? (v & 0xFF) > 0xA1 : (v & 0xFF) == 0;
    if (overflow) {
      RescaleOrderList(list, slots);  // counters drop to at most 7: the retry cannot overflow
      continue;
    }
    list[place] = list[target];
    list[target] = v;
    return v;
  }
}

void InitOrderLists(UnpackState& s) {
  for (std::uint32_t i = 0; i < 256; ++i) {
    s.LiteralOrder[i] = i << 8;
    s.LongDistanceOrder[i] = i << 8;
    s.FlagOrder[i] = i == 0 ? 0 : (256 - i) << 8;
    s.ShortDistanceOrder[i] = i;
  }
  std::memset(s.LiteralNextSlot, 0, sizeof s.LiteralNextSlot);
  std::memset(s.LongDistanceNextSlot, 0, sizeof s.LongDistanceNextSlot);
  std::memset(s.FlagNextSlot, 0, sizeof s.FlagNextSlot);
  RescaleOrderList(s.LongDistanceOrder, s.LongDistanceNextSlot);
}

void ResetAdaptiveState(UnpackState& s, bool solid) {
  if (!solid) {
    s.LiteralPlaceAverage = 0x3500;
    s.DistancePlaceAverage = 0;
    s.ShortLengthAverage = 0;
    s.LongLengthAverage = 0;
    s.NearMatchScore = 0;
    s.FarDistanceThreshold = 0x2001;
    s.LiteralWeight = 0x80;
    s.MatchWeight = 0x80;
    s.ShortCodeToggle = 0;
    s.LiteralRun = 0;
  }
  s.FlagBitsLeft = 0;
  s.FlagBits = 0;
  s.LiteralMode = false;
  s.RepeatCount = 0;
}

void RecordMatch(UnpackState& s, UnpackIo& io, std::uint32_t distance, std::uint32_t length) {
  s.RecentDistances[s.RecentDistanceIndex & 3] = distance;
  s.RecentDistanceIndex = (s.RecentDistanceIndex + 1) & 3;
  s.LastMatchLength = length;
  s.LastMatchDistance = distance;
  CopyFromWindow(s, io, distance, length);
}

void ReadFlagByte(UnpackState& s) {
  const std::uint32_t place = DecodeThresholdCode(s, PeekBits(s), kPlaceCodeC) & kPlaceMask;
  s.FlagBits = (s.FlagOrder[place] >> 8) & 0xFF;
  PromoteOrderEntry(s.FlagOrder, s.FlagNextSlot, place, CounterLimit::Wrap);
}

inline bool TakeFlag(UnpackState& s) {
  if (--s.FlagBitsLeft < 0) {
    ReadFlagByte(s);
    s.FlagBitsLeft = 7;
  }
  const bool flag = (s.FlagBits & 0x80) != 0;
  s.FlagBits = (s.FlagBits << 1) & 0xFF;
  return flag;
}

// Literal mode's escape: a 1 bit leaves the mode; otherwise a short match of 3 or 4 bytes
// that does not count as a match for the repeat and recent-distance codes.
void DecodeLiteralModeEscape(UnpackState& s, UnpackIo& io) {
  const std::uint32_t bits = PeekBits(s);
  SkipBits(s, 1);
  if (bits & 0x8000) {
    s.LiteralMode = false;
    s.LiteralRun = 0;
    return;
  }
  const std::uint32_t length = (bits & 0x4000) ? 4 : 3;
  SkipBits(s, 1);
  const std::uint32_t high = DecodeThresholdCode(s, PeekBits(s), kPlaceCodeC);
  const std::uint32_t distance = high * 32 + (PeekBits(s) >> 11);
  SkipBits(s, 5);
  CopyFromWindow(s, io, distance, length);
}

void DecodeLiteral(UnpackState& s, UnpackIo& io) {
  const std::uint32_t bits = PeekBits(s);
  const std::uint32_t average = s.LiteralPlaceAverage;
  const ThresholdCode& code = average >= 0x7600   ? kPlaceCodeE
                              : average >= 0x5E00 ? kPlaceCodeD
                              : average >= 0x3600 ? kPlaceCodeC
                              : average >= 0x0E00 ? kPlaceCodeB
                                                  : kPlaceCodeA;
  std::uint32_t place = DecodeThresholdCode(s, bits, code);
  if (s.LiteralMode) {
    if (place == 0) {
      DecodeLiteralModeEscape(s, io);
      return;
    }
    place -= 1;
  } else {
    if (s.LiteralRun >= 16 && s.FlagBitsLeft == 0) s.LiteralMode = true;
    if (s.LiteralRun < INT32_MAX) s.LiteralRun += 1;
    place &= kPlaceMask;
  }
  s.LiteralPlaceAverage += place;
  s.LiteralPlaceAverage -= s.LiteralPlaceAverage >> 8;
  s.LiteralWeight += 16;
  if (s.LiteralWeight > 0xFF) {
    s.LiteralWeight = 0x90;
    s.MatchWeight >>= 1;
  }
  s.Window[s.WindowPos] = static_cast<std::uint8_t>(s.LiteralOrder[place] >> 8);
  s.WindowPos += 1;
  io.RemainingOutput -= 1;
  PromoteOrderEntry(s.LiteralOrder, s.LiteralNextSlot, place, CounterLimit::Literal);
}

void DecodeLongMatch(UnpackState& s, UnpackIo& io) {
  s.LiteralRun = 0;
  s.MatchWeight += 16;
  if (s.MatchWeight > 0xFF) {
    s.MatchWeight = 0x90;
    s.LiteralWeight >>= 1;
  }

  const std::uint32_t lengthAverage = s.LongLengthAverage;
  std::uint32_t bits = PeekBits(s);
  std::uint32_t lengthValue;
  if (lengthAverage >= 122) {
    lengthValue = DecodeThresholdCode(s, bits, kLengthCodeB);
  } else if (lengthAverage >= 64) {
    lengthValue = DecodeThresholdCode(s, bits, kLengthCodeA);
  } else if (bits < 0x100) {
    lengthValue = bits;
    SkipBits(s, 16);
  } else {
    lengthValue = static_cast<std::uint32_t>(std::countl_zero(static_cast<std::uint16_t>(bits)));
    SkipBits(s, lengthValue + 1);
  }
  s.LongLengthAverage += lengthValue;
  s.LongLengthAverage -= s.LongLengthAverage >> 5;

  bits = PeekBits(s);
  const std::uint32_t placeAverage = s.DistancePlaceAverage;
  const ThresholdCode& code = placeAverage >= 0x2900 ? kPlaceCodeC : placeAverage >= 0x700 ? kPlaceCodeB : kPlaceCodeA;
  const std::uint32_t place = DecodeThresholdCode(s, bits, code) & kPlaceMask;
  s.DistancePlaceAverage += place;
  s.DistancePlaceAverage -= s.DistancePlaceAverage >> 8;

  const std::uint32_t entry = PromoteOrderEntry(s.LongDistanceOrder, s.LongDistanceNextSlot, place, CounterLimit::Wrap);
  bits = PeekBits(s);
  const std::uint32_t distance = ((entry & 0xFF00) | (bits >> 8)) >> 1;  // high part * 128 + 7 bits
  SkipBits(s, 7);

  const std::uint32_t score = s.NearMatchScore;
  const std::uint32_t threshold = s.FarDistanceThreshold;
  if (lengthValue != 1 && lengthValue != 4) {
    if (lengthValue == 0 && distance <= threshold) {
      s.NearMatchScore += 1;
      s.NearMatchScore -= s.NearMatchScore >> 8;
    } else if (s.NearMatchScore > 0) {
      s.NearMatchScore -= 1;
    }
  }
  std::uint32_t length = lengthValue + 3;
  if (distance >= threshold) length += 1;
  if (distance <= 256) length += 8;
  s.FarDistanceThreshold =
      (score > 0xB0 || (s.LiteralPlaceAverage >= 0x2A00 && lengthAverage < 0x40)) ? 0x7F00 : 0x2001;
  RecordMatch(s, io, distance, length);
}

void DecodeShortMatch(UnpackState& s, UnpackIo& io) {
  s.LiteralRun = 0;
  std::uint32_t bits = PeekBits(s);
  if (s.RepeatCount == 2) {
    // After two repeats in a row one bit says whether a third follows.
    SkipBits(s, 1);
    if (bits & 0x8000) {
      CopyFromWindow(s, io, s.LastMatchDistance, s.LastMatchLength);
      return;
    }
    bits <<= 1;
    s.RepeatCount = 0;
  }

  const std::uint32_t set = s.ShortLengthAverage < 37 ? 0 : 1;
  const std::uint32_t entry = kShortCodes.Entry[set][s.ShortCodeToggle & 1][(bits >> 8) & 0xFF];
  const std::uint32_t k = entry & 15;
  SkipBits(s, entry >> 4);

  if (k <= 8) {
    s.ShortLengthAverage += k;
    s.ShortLengthAverage -= s.ShortLengthAverage >> 4;
    s.RepeatCount = 0;
    const std::uint32_t place = DecodeThresholdCode(s, PeekBits(s), kPlaceCodeC) & kPlaceMask;
    const std::uint32_t distance = s.ShortDistanceOrder[place];
    if (place > 0) {
      s.ShortDistanceOrder[place] = s.ShortDistanceOrder[place - 1];
      s.ShortDistanceOrder[place - 1] = distance;
    }
    RecordMatch(s, io, distance + 1, k + 2);
    return;
  }
  if (k == 9) {
    s.RepeatCount += 1;
    CopyFromWindow(s, io, s.LastMatchDistance, s.LastMatchLength);
    return;
  }
  s.RepeatCount = 0;
  if (k == 14) {
    const std::uint32_t length = DecodeThresholdCode(s, PeekBits(s), kLengthCodeB) + 5;
    const std::uint32_t distance = (PeekBits(s) >> 1) | 0x8000;
    SkipBits(s, 15);
    s.LastMatchLength = length;
    s.LastMatchDistance = distance;
    CopyFromWindow(s, io, distance, length);
    return;
  }
  const std::uint32_t distance = s.RecentDistances[(s.RecentDistanceIndex - (k - 9)) & 3];
  std::uint32_t length = DecodeThresholdCode(s, PeekBits(s), kLengthCodeA) + 2;
  if (length == 257 && k == 10) {
    s.ShortCodeToggle ^= 1;
    return;
  }
  if (distance > 256) length += 1;
  if (distance >= s.FarDistanceThreshold) length += 1;
  RecordMatch(s, io, distance, length);
}

}  // namespace

void UnpackFormat15(UnpackState& s, UnpackIo& io, std::uint8_t* window, bool solid) {
  s.Window = window;
  if (AbortRequested(io)) return;
  ResetUnpackState(s, solid);
  ResetAdaptiveState(s, solid);
  RefillPackedBuffer(s, io, true);
  if (!solid) {
    InitOrderLists(s);
    s.WindowPos = 0;
  } else {
    s.WindowPos = s.FlushedPos;
  }
  StartOutputCount(io);
  if (io.RemainingOutput < 0) {
    FlushWindow(s, io);
    return;
  }
  ReadFlagByte(s);
  s.FlagBitsLeft = 8;

  while (io.RemainingOutput >= 0) {
    s.WindowPos &= WindowMask;
    if (AbortRequested(io)) return;
    if (s.PackedPos > kMainLoopRefillPos) RefillPackedBuffer(s, io, false);
    if (PackedInputExhausted(s)) break;
    if (WindowNearlyFull(s)) FlushWindow(s, io);
    if (s.LiteralMode) {
      DecodeLiteral(s, io);
      continue;
    }
    const bool matchFavoured = s.MatchWeight > s.LiteralWeight;
    if (TakeFlag(s)) {
      if (matchFavoured) DecodeLongMatch(s, io);
      else DecodeLiteral(s, io);
    } else if (TakeFlag(s)) {
      if (matchFavoured) DecodeLiteral(s, io);
      else DecodeLongMatch(s, io);
    } else {
      DecodeShortMatch(s, io);
    }
  }
  FlushWindow(s, io);
}

}  // namespace korvane
