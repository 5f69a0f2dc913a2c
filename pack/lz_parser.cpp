// Choices are weighed in bits: a match against the literals it replaces, priced by the cost
// model. The optimal parse is a shortest path over the positions of a stretch, each node
// carrying the match history of its best path, cut wherever no choice reaches across, or
// where a match of the nice length starts.
#include "pack/lz_parser.h"

#include <algorithm>

namespace korvane::pack {
namespace {

using format20::kLongMatchSymbol;
using format20::kRecentDistanceSymbol;
using format20::kShortMatchSymbol;

// Bits a symbol that had no code in the last tables is guessed to cost in new ones.
constexpr std::uint32_t kUncodedMain = 12;
constexpr std::uint32_t kUncodedDistance = 8;
constexpr std::uint32_t kUncodedLength = 7;
// The optimal parse's stretch between forced cuts.
constexpr std::uint32_t kOptimalSpan = 4096;

struct Choice {
  Token token = {};
  std::int32_t gain = 0;  // bits saved against literals
};

class ChoiceFinder {
 public:
  ChoiceFinder(MatchFinder& finder, const ParserSettings& settings, const CostModel& costs)
      : finder_(finder), settings_(settings), costs_(costs), matches_(finder.MaxMatches()) {}

  // The literal bits of every byte of the stretch, summed from its start: a match is weighed
  // against the literals it really replaces, not an average.
  void PriceLiterals(std::uint32_t begin, std::uint32_t end) {
    begin_ = begin;
    literalBits_.resize(end - begin + 1);
    literalBits_[0] = 0;
    const std::uint8_t* p = finder_.At(begin);
    for (std::uint32_t i = 0; i < end - begin; ++i) literalBits_[i + 1] = literalBits_[i] + costs_.Literal(p[i]);
  }

  // The best single token at pos: the match that saves most, or the literal. The best so far
  // is kept in plain values and made a token once, at the end.
  Choice BestAt(std::uint32_t pos, std::uint32_t end, const MatchHistory& h) {
    Choice c;
    BestAt(pos, end, h, c);
    return c;
  }
  // The same into a caller's record: a token returned in a register is put together in memory
  // from parts and read back whole, which stalls on every call.
  void BestAt(std::uint32_t pos, std::uint32_t end, const MatchHistory& h, Choice& out) {
    const std::uint32_t avail = end - pos;
    const std::uint8_t literal = *finder_.At(pos);
    out.gain = 0;
    if (avail < 2) {
      out.token = LiteralToken(literal);
      return;
    }
    const std::uint32_t* literals = literalBits_.data() + (pos - begin_);
    std::int32_t bestGain = 0;
    std::uint32_t bestLength = 1, bestDistance = 0, bestKind = 0, bestSlot = 0;
    enum : std::uint32_t { kLiteral, kRepeatLast, kRecent, kLong, kShort };
    const auto consider = [&](std::uint32_t kind, std::uint32_t length, std::uint32_t distance, std::uint32_t slot,
                              std::uint32_t bits) {
      const std::int32_t gain =
          static_cast<std::int32_t>(literals[length] - literals[0]) - static_cast<std::int32_t>(bits);
      if (gain > bestGain || (gain == bestGain && length > bestLength)) {
        bestGain = gain;
        bestLength = length;
        bestDistance = distance;
        bestKind = kind;
        bestSlot = slot;
      }
    };
    if (h.lastLength >= 2 && h.lastLength <= avail &&
        finder_.MatchLength(pos, h.lastDistance, h.lastLength) == h.lastLength)
      consider(kRepeatLast, h.lastLength, h.lastDistance, 0, costs_.RepeatLast());
    for (std::uint32_t slot = 0; slot < settings_.recentSlots; ++slot) {
      const std::uint32_t d = h.recent[slot];
      if (d == 0 || (slot > 0 && std::find(h.recent, h.recent + slot, d) != h.recent + slot)) continue;
      const std::uint32_t length = finder_.MatchLength(pos, d, std::min(avail, LongestRecentMatch(d)));
      if (length >= ShortestRecentMatch(d)) consider(kRecent, length, d, slot, costs_.RecentMatch(slot, length, d));
    }
    const std::uint32_t found = finder_.Find(pos, std::min(avail, kMaxMatch), matches_.data());
    for (std::uint32_t i = 0; i < found; ++i) {
      const std::uint32_t d = matches_[i].distance;
      const std::uint32_t length = std::min(matches_[i].length, LongestLongMatch(d));
      if (length >= ShortestLongMatch(d)) consider(kLong, length, d, 0, costs_.LongMatch(length, d));
    }
    if (settings_.shortMatches) {
      const std::uint32_t d = finder_.PairDistance(pos);
      if (d != 0) consider(kShort, kShortMatchLength, d, 0, costs_.ShortMatch(d));
    }
    out.gain = bestGain;
    switch (bestKind) {
      case kRepeatLast:
        out.token = RepeatLastToken(bestDistance, bestLength);
        break;
      case kRecent:
        out.token = RecentMatchToken(bestSlot, bestDistance, bestLength);
        break;
      case kLong:
        out.token = LongMatchToken(bestDistance, bestLength);
        break;
      case kShort:
        out.token = ShortMatchToken(bestDistance);
        break;
      default:
        out.token = LiteralToken(literal);
        break;
    }
  }

 private:
  MatchFinder& finder_;
  const ParserSettings& settings_;
  const CostModel& costs_;
  std::vector<Match> matches_;
  std::uint32_t begin_ = 0;
  std::vector<std::uint32_t> literalBits_;
};

void ParseLazy(MatchFinder& finder, const ParserSettings& settings, const CostModel& costs, std::uint32_t begin,
               std::uint32_t end, MatchHistory& history, std::vector<Token>& out) {
  ChoiceFinder choices(finder, settings, costs);
  choices.PriceLiterals(begin, end);
  const std::uint32_t lookAhead = settings.kind == ParseKind::kGreedy ? 0 : settings.kind == ParseKind::kLazy ? 1 : 2;
  std::uint32_t pos = begin;
  std::uint32_t misses = 0;  // literals in a row
  Choice cur, later;
  if (pos < end) choices.BestAt(pos, end, history, cur);
  while (pos < end) {
    if (cur.token.symbol < 256 && settings.skipShift != 0 && pos >= settings.thoroughUntil) {
      const std::uint32_t step = std::min(1 + (++misses >> settings.skipShift), end - pos);
      for (std::uint32_t k = 0; k < step; ++k) out.push_back(LiteralToken(*finder.At(pos + k)));
      pos += step;
      if (pos < end) choices.BestAt(pos, end, history, cur);
      continue;
    }
    misses = 0;
    if (cur.token.symbol >= 256 && cur.token.length < settings.lazyBelow) {
      // A literal here and a better match one or two bytes on?
      std::uint32_t step = 0;
      for (std::uint32_t k = 1; k <= lookAhead && pos + k < end; ++k) {
        choices.BestAt(pos + k, end, history, later);
        if (later.gain > cur.gain) {
          step = k;
          break;
        }
      }
      if (step != 0) {
        for (std::uint32_t k = 0; k < step; ++k) out.push_back(LiteralToken(*finder.At(pos + k)));
        pos += step;
        cur = later;
        continue;
      }
    }
    out.push_back(cur.token);
    history.Apply(cur.token);
    pos += cur.token.length;
    if (settings.enterInsideUpTo != 0 && cur.token.length > settings.enterInsideUpTo) finder.PassOver(pos);
    if (pos < end) choices.BestAt(pos, end, history, cur);
  }
}

struct Node {
  std::uint32_t cost;
  std::uint32_t from;
  Token token;
  MatchHistory history;
};

void ParseOptimal(MatchFinder& finder, const ParserSettings& settings, const CostModel& costs, std::uint32_t begin,
                  std::uint32_t end, MatchHistory& history, std::vector<Token>& out) {
  std::vector<Node> nodes(kOptimalSpan + 1);
  ChoiceFinder choices(finder, settings, costs);
  choices.PriceLiterals(begin, end);
  std::vector<Match> matches(finder.MaxMatches());
  std::vector<Token> path;
  std::uint32_t pos = begin;
  while (pos < end) {
    const std::uint32_t limit = std::min(end - pos, kOptimalSpan);
    nodes[0].cost = 0;
    nodes[0].history = history;
    // Nodes are made unreached only as choices first land beyond the ones already made so;
    // most stretches end long before the span.
    std::uint32_t reach = 0;  // farthest node any choice so far lands on, the last one made
    std::uint32_t stop = 0;
    Token jump{};  // a token of the nice length taken after the cut
    for (std::uint32_t i = 0;; ++i) {
      if ((i > 0 && i >= reach) || i == limit) {
        stop = i;
        break;
      }
      const Node& node = nodes[i];
      const MatchHistory& h = node.history;
      const std::uint32_t p = pos + i;
      const std::uint32_t avail = std::min(end - p, limit - i + kMaxMatch);
      const auto relax = [&](const Token& t, std::uint32_t bits) {
        const std::uint32_t j = i + t.length;
        const std::uint32_t cost = node.cost + bits;
        if (j > limit) return;  // beyond the stretch: the cut takes the path to limit
        for (; reach < j; ++reach) nodes[reach + 1].cost = UINT32_MAX;
        if (cost < nodes[j].cost) {
          nodes[j].cost = cost;
          nodes[j].from = i;
          nodes[j].token = t;
          nodes[j].history = h;
          nodes[j].history.Apply(t);
        }
      };
      relax(LiteralToken(*finder.At(p)), costs.Literal(*finder.At(p)));
      if (avail < 2) continue;

      if (h.lastLength >= 2 && h.lastLength <= avail &&
          finder.MatchLength(p, h.lastDistance, h.lastLength) == h.lastLength)
        relax(RepeatLastToken(h.lastDistance, h.lastLength), costs.RepeatLast());
      std::uint32_t longestRecent = 0;
      for (std::uint32_t slot = 0; slot < 4; ++slot) {
        const std::uint32_t d = h.recent[slot];
        if (d == 0 || (slot > 0 && std::find(h.recent, h.recent + slot, d) != h.recent + slot)) continue;
        const std::uint32_t length = finder.MatchLength(p, d, std::min(avail, LongestRecentMatch(d)));
        for (std::uint32_t l = ShortestRecentMatch(d); l <= length; ++l)
          relax(RecentMatchToken(slot, d, l), costs.RecentMatch(slot, l, d));
        longestRecent = std::max(longestRecent, length);
      }
      const std::uint32_t found = finder.Find(p, std::min(avail, kMaxMatch), matches.data());
      const std::uint32_t longest = found ? matches[found - 1].length : 0;
      if (std::max(longest, longestRecent) >= settings.niceLength) {
        // Cut here and take the token that saves most at this point (repeating the last
        // match, when it fits, is the cheapest way through long runs).
        stop = i;
        jump = choices.BestAt(p, end, h).token;
        break;
      }
      std::uint32_t shorter = 2;
      for (std::uint32_t m = 0; m < found; ++m) {
        const std::uint32_t d = matches[m].distance;
        const std::uint32_t top = std::min(matches[m].length, LongestLongMatch(d));
        const std::uint32_t distanceBits = costs.Distance(d);
        for (std::uint32_t l = std::max(shorter + 1, ShortestLongMatch(d)); l <= top; ++l)
          relax(LongMatchToken(d, l), costs.LongLength(l, d) + distanceBits);
        shorter = matches[m].length;
      }
      if (settings.shortMatches) {
        const std::uint32_t d = finder.PairDistance(p);
        if (d != 0) relax(ShortMatchToken(d), costs.ShortMatch(d));
      }
    }
    path.clear();
    for (std::uint32_t j = stop; j > 0; j = nodes[j].from) path.push_back(nodes[j].token);
    out.insert(out.end(), path.rbegin(), path.rend());
    history = nodes[stop].history;
    pos += stop;
    if (jump.length != 0) {
      out.push_back(jump);
      history.Apply(jump);
      pos += jump.length;
    }
  }
}

}  // namespace

void CostModel::SetDefaults() {
  for (std::uint32_t s = 0; s < kMainAlphabet; ++s) main_[s] = 8;
  main_[format20::kRepeatLastSymbol] = 9;
  for (std::uint32_t k = 0; k < 4; ++k) main_[kRecentDistanceSymbol + k] = 6 + k;
  for (std::uint32_t k = 0; k < 8; ++k) main_[kShortMatchSymbol + k] = 9;
  for (std::uint32_t k = 0; k < kRepeatLengthAlphabet; ++k) main_[kLongMatchSymbol + k] = 7 + k / 4;
  for (std::uint32_t& d : distance_) d = 6;
  for (std::uint32_t k = 0; k < kRepeatLengthAlphabet; ++k) repeatLength_[k] = 3 + k / 4;
}

void CostModel::SetFromLengths(const std::uint8_t* lengths) {
  for (std::uint32_t s = 0; s < kMainAlphabet; ++s) main_[s] = lengths[s] != 0 ? lengths[s] : kUncodedMain;
  for (std::uint32_t k = 0; k < kDistanceAlphabet; ++k) {
    const std::uint8_t l = lengths[kMainAlphabet + k];
    distance_[k] = l != 0 ? l : kUncodedDistance;
  }
  for (std::uint32_t k = 0; k < kRepeatLengthAlphabet; ++k) {
    const std::uint8_t l = lengths[kMainAlphabet + kDistanceAlphabet + k];
    repeatLength_[k] = l != 0 ? l : kUncodedLength;
  }
}

std::uint32_t CostModel::Bits(const Token& t) const {
  if (t.symbol < 256) return Literal(static_cast<std::uint8_t>(t.symbol));
  if (t.symbol == format20::kRepeatLastSymbol) return RepeatLast();
  if (t.symbol < kShortMatchSymbol) return RecentMatch(t.symbol - kRecentDistanceSymbol, t.length, t.value);
  if (t.symbol < kLongMatchSymbol) return ShortMatch(t.value);
  return LongMatch(t.length, t.value);
}

void ParseStretch(MatchFinder& finder, const ParserSettings& settings, const CostModel& costs, std::uint32_t begin,
                  std::uint32_t end, MatchHistory& history, std::vector<Token>& out) {
  if (settings.kind == ParseKind::kOptimal) {
    ParseOptimal(finder, settings, costs, begin, end, history, out);
  } else {
    ParseLazy(finder, settings, costs, begin, end, history, out);
  }
}

}  // namespace korvane::pack
