// Turning a stretch of the stream into tokens: greedy, lazy (one or two bytes of look-ahead)
// or a shortest-path search over the bits each choice costs. All of them track what the
// decoder will remember of the matches, so the recent-distance codes they pick are right.
#pragma once
#include <cstdint>
#include <vector>

#include "pack/match_finder.h"
#include "pack/token.h"
#include "unpack/format20_tables.h"

namespace korvane::pack {

// Bits each choice costs, from the code lengths of the tables last built (or a guess).
class CostModel {
 public:
  CostModel() { SetDefaults(); }
  void SetDefaults();
  // lengths: a normal table block's 374 lengths; symbols without a code get a guess of what a
  // new table would give them.
  void SetFromLengths(const std::uint8_t* lengths);

  std::uint32_t Literal(std::uint8_t byte) const { return Main[byte]; }
  std::uint32_t LongMatch(std::uint32_t length, std::uint32_t distance) const {
    const std::uint32_t lengthCode = LengthCode(length - ShortestLongMatch(distance));
    return Main[format20::kLongMatchSymbol + lengthCode] + format20::kLengthExtraBits[lengthCode] + Distance(distance);
  }
  // The distance part of a long match, which the lengths at one distance share.
  std::uint32_t Distance(std::uint32_t distance) const {
    const std::uint32_t code = DistanceCode(distance - 1);
    return DistanceBits[code] + format20::kDistanceExtraBits[code];
  }
  std::uint32_t LongLength(std::uint32_t length, std::uint32_t distance) const {
    const std::uint32_t lengthCode = LengthCode(length - ShortestLongMatch(distance));
    return Main[format20::kLongMatchSymbol + lengthCode] + format20::kLengthExtraBits[lengthCode];
  }
  std::uint32_t RecentMatch(std::uint32_t slot, std::uint32_t length, std::uint32_t distance) const {
    const std::uint32_t lengthCode = LengthCode(length - ShortestRecentMatch(distance));
    return Main[format20::kRecentDistanceSymbol + slot] + RepeatLength[lengthCode] +
           format20::kLengthExtraBits[lengthCode];
  }
  std::uint32_t RepeatLast() const { return Main[format20::kRepeatLastSymbol]; }
  std::uint32_t ShortMatch(std::uint32_t distance) const {
    const std::uint32_t code = ShortDistanceCode(distance - 1);
    return Main[format20::kShortMatchSymbol + code] + format20::kShortDistanceExtraBits[code];
  }
  std::uint32_t Bits(const Token& t) const;

 private:
  std::uint32_t Main[kMainAlphabet];
  std::uint32_t DistanceBits[kDistanceAlphabet];
  std::uint32_t RepeatLength[kRepeatLengthAlphabet];
};

enum class ParseKind { kGreedy, kLazy, kLazy2, kOptimal };

struct ParserSettings {
  ParseKind Kind = ParseKind::kLazy;
  std::uint32_t NiceLength = 128;  // a match this long is taken without looking further
  bool ShortMatches = false;       // consider length-2 matches at short distances
  std::uint32_t RecentSlots = 4;   // recent distances tried at every position
  // Positions inside a longer match are left out of the finder's keys (0: none are).
  std::uint32_t EnterInsideUpTo = 0;
  // Lazy parses look ahead only from matches shorter than this.
  std::uint32_t LazyBelow = 258;
  // In a run of literals, search only every (1 + run / 2^SkipShift)-th position (0: always
  // search): data without matches goes by faster, at little cost where matches are rare.
  // Never before the stream position ThoroughUntil (small entries are searched in full;
  // their time hardly counts, their size does).
  std::uint32_t SkipShift = 0;
  std::uint32_t ThoroughUntil = 0;
};

// Parses the stream positions [begin, end), which the finder holds, into tokens appended to
// out; history is what the decoder remembers before and is left as it remembers after.
void ParseStretch(MatchFinder& finder, const ParserSettings& settings, const CostModel& costs, std::uint32_t begin,
                  std::uint32_t end, MatchHistory& history, std::vector<Token>& out);

}  // namespace korvane::pack
