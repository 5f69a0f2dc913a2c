// Format 1.5: LZ77 over the same window with no transmitted tables. Fixed threshold codes
// pick places in self-ordering lists (literals, distance high parts, short distances, flag
// bytes); the lists, running averages and two competing weights adapt as items decode.
#include <bit>
#include <cstring>

#include "unpack/bit_input.h"
#include "unpack/format15_codes.h"
#include "unpack/unpack.h"

namespace korvane {
namespace format15 {

void RescaleOrderList(std::uint32_t* list, std::uint32_t* slots) {
  for (std::uint32_t i = 0; i < 256; ++i) list[i] = (list[i] & ~0xFFu) | (7 - i / 32);
  std::memset(slots, 0, 256 * sizeof(std::uint32_t));
  for (std::uint32_t t = 0; t < 7; ++t) slots[t] = (7 - t) * 32;
}

// Moves the entry at place to the front of the group with its old counter and returns it
// with the counter increased. The slot of a counter is the number of entries with higher
// counters, which is below 256 while such an entry exists; the mask only guards that.
std::uint32_t PromoteOrderEntry(std::uint32_t* list, std::uint32_t* slots, std::uint32_t place, CounterLimit limit) {
  place &= kPlaceMask;
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

}  // namespace format15

namespace {

using namespace format15;


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

// The input position, window position and output count of a run of passes, held in
// registers: window stores may alias any field of UnpackState, so keeping them in the record
// would reload them after every output byte.
// The longest pass: a flag byte (10 bits) and a long match (16 + 12 + 7 bits) or a far short
// match (1 + 8 + 12 + 15 bits at most), with up to 7 bits of the first byte already used,
// moves the input by 6 bytes; 7 leaves a margin.
constexpr std::uint32_t kPassBytes = 7;
static_assert((7 + 10 + 16 + 12 + 7) / 8 < kPassBytes && (7 + 10 + 1 + 8 + 12 + 15) / 8 < kPassBytes);
static_assert(kMainLoopRefillPos + kPassBytes + 3 < kPackedBufferSize + kPackedGuardBytes);

struct PassCursor {
  BitCursor In;
  std::uint8_t* W;
  std::uint32_t Pos;
  std::int32_t Remaining;

  void Put(std::uint8_t byte) {
    W[Pos++] = byte;
    --Remaining;
  }
  // CopyFromWindow on the register copies.
  void Copy(std::uint32_t distance, std::uint32_t length) {
    Remaining = static_cast<std::int32_t>(static_cast<std::uint32_t>(Remaining) - length);
    Pos = CopyWithinWindow(W, Pos, distance, length);
  }
};

void RecordMatch(UnpackState& s, PassCursor& c, std::uint32_t distance, std::uint32_t length) {
  s.RecentDistances[s.RecentDistanceIndex & 3] = distance;
  s.RecentDistanceIndex = (s.RecentDistanceIndex + 1) & 3;
  s.LastMatchLength = length;
  s.LastMatchDistance = distance;
  c.Copy(distance, length);
}

inline void ReadFlagByte(UnpackState& s, BitCursor& in) {
  const std::uint32_t place = DecodeThresholdCode(in, in.Peek(), kPlaceTableC) & kPlaceMask;
  s.FlagBits = (s.FlagOrder[place] >> 8) & 0xFF;
  PromoteOrderEntry(s.FlagOrder, s.FlagNextSlot, place, CounterLimit::Wrap);
}

inline bool TakeFlag(UnpackState& s, PassCursor& c) {
  if (--s.FlagBitsLeft < 0) {
    ReadFlagByte(s, c.In);
    s.FlagBitsLeft = 7;
  }
  const bool flag = (s.FlagBits & 0x80) != 0;
  s.FlagBits = (s.FlagBits << 1) & 0xFF;
  return flag;
}

// Literal mode's escape: a 1 bit leaves the mode; otherwise a short match of 3 or 4 bytes
// that does not count as a match for the repeat and recent-distance codes.
void DecodeLiteralModeEscape(UnpackState& s, PassCursor& c) {
  const std::uint32_t bits = c.In.Peek();
  c.In.Skip(1);
  if (bits & 0x8000) {
    s.LiteralMode = false;
    s.LiteralRun = 0;
    return;
  }
  const std::uint32_t length = (bits & 0x4000) ? 4 : 3;
  c.In.Skip(1);
  const std::uint32_t high = DecodeThresholdCode(c.In, c.In.Peek(), kPlaceTableC);
  const std::uint32_t distance = high * 32 + (c.In.Peek() >> 11);
  c.In.Skip(5);
  c.Copy(distance, length);
}

void DecodeLiteral(UnpackState& s, PassCursor& c) {
  const std::uint32_t bits = c.In.Peek();
  const std::uint32_t average = s.LiteralPlaceAverage;
  const ThresholdTable& code = average >= 0x7600   ? kPlaceTableE
                              : average >= 0x5E00 ? kPlaceTableD
                              : average >= 0x3600 ? kPlaceTableC
                              : average >= 0x0E00 ? kPlaceTableB
                                                  : kPlaceTableA;
  std::uint32_t place = DecodeThresholdCode(c.In, bits, code);
  if (s.LiteralMode) {
    if (place == 0) {
      DecodeLiteralModeEscape(s, c);
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
  c.Put(static_cast<std::uint8_t>(s.LiteralOrder[place] >> 8));
  PromoteOrderEntry(s.LiteralOrder, s.LiteralNextSlot, place, CounterLimit::Literal);
}

void DecodeLongMatch(UnpackState& s, PassCursor& c) {
  s.LiteralRun = 0;
  s.MatchWeight += 16;
  if (s.MatchWeight > 0xFF) {
    s.MatchWeight = 0x90;
    s.LiteralWeight >>= 1;
  }

  const std::uint32_t lengthAverage = s.LongLengthAverage;
  std::uint32_t bits = c.In.Peek();
  std::uint32_t lengthValue;
  if (lengthAverage >= 122) {
    lengthValue = DecodeThresholdCode(c.In, bits, kLengthTableB);
  } else if (lengthAverage >= 64) {
    lengthValue = DecodeThresholdCode(c.In, bits, kLengthTableA);
  } else if (bits < 0x100) {
    lengthValue = bits;
    c.In.Skip(16);
  } else {
    lengthValue = static_cast<std::uint32_t>(std::countl_zero(static_cast<std::uint16_t>(bits)));
    c.In.Skip(lengthValue + 1);
  }
  s.LongLengthAverage += lengthValue;
  s.LongLengthAverage -= s.LongLengthAverage >> 5;

  bits = c.In.Peek();
  const std::uint32_t placeAverage = s.DistancePlaceAverage;
  const ThresholdTable& code = placeAverage >= 0x2900 ? kPlaceTableC : placeAverage >= 0x700 ? kPlaceTableB : kPlaceTableA;
  const std::uint32_t place = DecodeThresholdCode(c.In, bits, code) & kPlaceMask;
  s.DistancePlaceAverage += place;
  s.DistancePlaceAverage -= s.DistancePlaceAverage >> 8;

  const std::uint32_t entry = PromoteOrderEntry(s.LongDistanceOrder, s.LongDistanceNextSlot, place, CounterLimit::Wrap);
  bits = c.In.Peek();
  const std::uint32_t distance = ((entry & 0xFF00) | (bits >> 8)) >> 1;  // high part * 128 + 7 bits
  c.In.Skip(7);

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
  RecordMatch(s, c, distance, length);
}

void DecodeShortMatch(UnpackState& s, PassCursor& c) {
  s.LiteralRun = 0;
  std::uint32_t bits = c.In.Peek();
  if (s.RepeatCount == 2) {
    // After two repeats in a row one bit says whether a third follows.
    c.In.Skip(1);
    if (bits & 0x8000) {
      c.Copy(s.LastMatchDistance, s.LastMatchLength);
      return;
    }
    bits <<= 1;
    s.RepeatCount = 0;
  }

  const std::uint32_t set = s.ShortLengthAverage < 37 ? 0 : 1;
  const std::uint32_t entry = kShortCodes.Entry[set][s.ShortCodeToggle & 1][(bits >> 8) & 0xFF];
  const std::uint32_t k = entry & 15;
  c.In.Skip(entry >> 4);

  if (k <= 8) {
    s.ShortLengthAverage += k;
    s.ShortLengthAverage -= s.ShortLengthAverage >> 4;
    s.RepeatCount = 0;
    const std::uint32_t place = DecodeThresholdCode(c.In, c.In.Peek(), kPlaceTableC) & kPlaceMask;
    const std::uint32_t distance = s.ShortDistanceOrder[place];
    if (place > 0) {
      s.ShortDistanceOrder[place] = s.ShortDistanceOrder[place - 1];
      s.ShortDistanceOrder[place - 1] = distance;
    }
    RecordMatch(s, c, distance + 1, k + 2);
    return;
  }
  if (k == 9) {
    s.RepeatCount += 1;
    c.Copy(s.LastMatchDistance, s.LastMatchLength);
    return;
  }
  s.RepeatCount = 0;
  if (k == 14) {
    const std::uint32_t length = DecodeThresholdCode(c.In, c.In.Peek(), kLengthTableB) + 5;
    const std::uint32_t distance = (c.In.Peek() >> 1) | 0x8000;
    c.In.Skip(15);
    s.LastMatchLength = length;
    s.LastMatchDistance = distance;
    c.Copy(distance, length);
    return;
  }
  const std::uint32_t distance = s.RecentDistances[(s.RecentDistanceIndex - (k - 9)) & 3];
  std::uint32_t length = DecodeThresholdCode(c.In, c.In.Peek(), kLengthTableA) + 2;
  if (length == 257 && k == 10) {
    s.ShortCodeToggle ^= 1;
    return;
  }
  if (distance > 256) length += 1;
  if (distance >= s.FarDistanceThreshold) length += 1;
  RecordMatch(s, c, distance, length);
}

}  // namespace

void UnpackFormat15(UnpackState& s, UnpackIo& io, std::uint8_t* window, bool solid) {
  UseWindow(s, window);
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
  BitCursor first = BitCursor::Load(s);
  ReadFlagByte(s, first);
  first.Store(s);
  s.FlagBitsLeft = 8;

  while (io.RemainingOutput >= 0) {
    s.WindowPos &= WindowMask;
    if (AbortRequested(io)) return;
    if (s.PackedPos > kMainLoopRefillPos) RefillPackedBuffer(s, io, false);
    if (PackedInputExhausted(s)) break;
    if (WindowNearlyFull(s)) FlushWindow(s, io);
    // This pass and the ones after it for which the checks above provably change nothing.
    std::uint32_t passes = UncheckedPasses(s, kPassBytes, kLongestMatch);
    PassCursor c{BitCursor::Load(s), s.Window, s.WindowPos, io.RemainingOutput};
    do {
      c.Pos &= WindowMask;
      // One call site per step, so that each is inlined and the cursor stays in registers.
      enum class Step { Literal, LongMatch, ShortMatch } step = Step::Literal;
      if (!s.LiteralMode) {
        const bool matchFavoured = s.MatchWeight > s.LiteralWeight;
        if (TakeFlag(s, c)) {
          step = matchFavoured ? Step::LongMatch : Step::Literal;
        } else if (TakeFlag(s, c)) {
          step = matchFavoured ? Step::Literal : Step::LongMatch;
        } else {
          step = Step::ShortMatch;
        }
      }
      if (step == Step::Literal) {
        DecodeLiteral(s, c);
      } else if (step == Step::LongMatch) {
        DecodeLongMatch(s, c);
      } else {
        DecodeShortMatch(s, c);
      }
    } while (--passes != 0 && c.Remaining >= 0);
    c.In.Store(s);
    s.WindowPos = c.Pos;
    io.RemainingOutput = c.Remaining;
  }
  FlushWindow(s, io);
}

}  // namespace korvane
