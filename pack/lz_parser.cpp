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

// Whether repeating the last match (its distance and its length) is offered at pos. Not when
// the match at that distance runs on past the last length: the repeat is the cheapest token
// there, but it would keep the shorter length for every repeat after it, and on periodic data
// (numbers, tables) each of those then leaves a byte more as a literal. A price for one token
// cannot see that, so the longer match at the same distance (a recent-distance token, which
// sets the length anew) is the one weighed. A repeat of the nice length or more is always
// offered: through long runs it is the cheapest way.
bool RepeatFits(const MatchFinder& finder, std::uint32_t pos, std::uint32_t avail, const MatchHistory& h,
                std::uint32_t niceLength) {
  if (h.LastLength < 2 || h.LastLength > avail) return false;
  const bool longerPays = h.LastLength < niceLength && h.LastLength < LongestRecentMatch(h.LastDistance);
  const std::uint32_t probe = std::min(avail, longerPays ? h.LastLength + 1 : h.LastLength);
  return finder.MatchLength(pos, h.LastDistance, probe) == h.LastLength;
}

struct Choice {
  Token Pick = {};
  std::int32_t Gain = 0;  // bits saved against literals
};

class ChoiceFinder {
 public:
  ChoiceFinder(MatchFinder& finder, const ParserSettings& settings, const CostModel& costs)
      : Finder(finder), Settings(settings), Costs(costs), Matches(finder.MaxMatches()) {}

  // The literal bits of every byte of the stretch, summed from its start: a match is weighed
  // against the literals it really replaces, not an average.
  void PriceLiterals(std::uint32_t begin, std::uint32_t end) {
    Begin = begin;
    LiteralBits.resize(end - begin + 1);
    LiteralBits[0] = 0;
    const std::uint8_t* p = Finder.At(begin);
    for (std::uint32_t i = 0; i < end - begin; ++i) LiteralBits[i + 1] = LiteralBits[i] + Costs.Literal(p[i]);
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
    const std::uint8_t literal = *Finder.At(pos);
    out.Gain = 0;
    if (avail < 2) {
      out.Pick = LiteralToken(literal);
      return;
    }
    const std::uint32_t* literals = LiteralBits.data() + (pos - Begin);
    std::int32_t bestGain = 0;
    std::uint32_t bestLength = 1, bestDistance = 0, bestKind = 0, bestSlot = 0;
    enum : std::uint32_t { kLiteral, kRepeatLast, kRecent, kLong, kShort };
    const auto consider = [&](std::uint32_t kind, std::uint32_t length, std::uint32_t distance, std::uint32_t slot,
                              std::uint32_t bits) {
      const std::int32_t gain =
          static_cast<std::int32_t>(literals[length] - literals[0]) - static_cast<std::int32_t>(bits);
      // On a tie the longer token, then the cheaper kind (the repeat is weighed last).
      const bool longer = length > bestLength || (length == bestLength && kind < bestKind);
      if (gain > bestGain || (gain == bestGain && longer)) {
        bestGain = gain;
        bestLength = length;
        bestDistance = distance;
        bestKind = kind;
        bestSlot = slot;
      }
    };
    std::uint32_t longest = 0;
    for (std::uint32_t slot = 0; slot < Settings.RecentSlots; ++slot) {
      const std::uint32_t d = h.Recent[slot];
      if (d == 0 || (slot > 0 && std::find(h.Recent, h.Recent + slot, d) != h.Recent + slot)) continue;
      const std::uint32_t length = Finder.MatchLength(pos, d, std::min(avail, LongestRecentMatch(d)));
      if (length >= ShortestRecentMatch(d)) consider(kRecent, length, d, slot, Costs.RecentMatch(slot, length, d));
      longest = std::max(longest, length);
    }
    const std::uint32_t found = Finder.Find(pos, std::min(avail, kMaxMatch), Matches.data());
    for (std::uint32_t i = 0; i < found; ++i) {
      const std::uint32_t d = Matches[i].Distance;
      const std::uint32_t length = std::min(Matches[i].Length, LongestLongMatch(d));
      if (length >= ShortestLongMatch(d)) consider(kLong, length, d, 0, Costs.LongMatch(length, d));
      longest = std::max(longest, length);
    }
    // Nor when a longer match starts here: taking the repeat would shorten the next match's
    // start the same way, line after line (a repeat of the nice length is as good as any).
    if (RepeatFits(Finder, pos, avail, h, Settings.NiceLength) &&
        (longest <= h.LastLength || h.LastLength >= Settings.NiceLength))
      consider(kRepeatLast, h.LastLength, h.LastDistance, 0, Costs.RepeatLast());
    if (Settings.ShortMatches) {
      const std::uint32_t d = Finder.PairDistance(pos);
      if (d != 0) consider(kShort, kShortMatchLength, d, 0, Costs.ShortMatch(d));
    }
    out.Gain = bestGain;
    switch (bestKind) {
      case kRepeatLast:
        out.Pick = RepeatLastToken(bestDistance, bestLength);
        break;
      case kRecent:
        out.Pick = RecentMatchToken(bestSlot, bestDistance, bestLength);
        break;
      case kLong:
        out.Pick = LongMatchToken(bestDistance, bestLength);
        break;
      case kShort:
        out.Pick = ShortMatchToken(bestDistance);
        break;
      default:
        out.Pick = LiteralToken(literal);
        break;
    }
  }

 private:
  MatchFinder& Finder;
  const ParserSettings& Settings;
  const CostModel& Costs;
  std::vector<Match> Matches;
  std::uint32_t Begin = 0;
  std::vector<std::uint32_t> LiteralBits;
};

void ParseLazy(MatchFinder& finder, const ParserSettings& settings, const CostModel& costs, std::uint32_t begin,
               std::uint32_t end, MatchHistory& history, std::vector<Token>& out) {
  ChoiceFinder choices(finder, settings, costs);
  choices.PriceLiterals(begin, end);
  const std::uint32_t lookAhead = settings.Kind == ParseKind::kGreedy ? 0 : settings.Kind == ParseKind::kLazy ? 1 : 2;
  std::uint32_t pos = begin;
  std::uint32_t misses = 0;  // literals in a row
  Choice cur, later;
  if (pos < end) choices.BestAt(pos, end, history, cur);
  while (pos < end) {
    if (cur.Pick.Symbol < 256 && settings.SkipShift != 0 && pos >= settings.ThoroughUntil) {
      const std::uint32_t step = std::min(1 + (++misses >> settings.SkipShift), end - pos);
      for (std::uint32_t k = 0; k < step; ++k) out.push_back(LiteralToken(*finder.At(pos + k)));
      pos += step;
      if (pos < end) choices.BestAt(pos, end, history, cur);
      continue;
    }
    misses = 0;
    if (cur.Pick.Symbol >= 256 && cur.Pick.Length < settings.LazyBelow) {
      // A literal here and a better match one or two bytes on?
      std::uint32_t step = 0;
      for (std::uint32_t k = 1; k <= lookAhead && pos + k < end; ++k) {
        choices.BestAt(pos + k, end, history, later);
        // The same match begun a byte later and reaching no further is not a better one,
        // whatever the prices say: on periodic data the literal it leaves in front becomes
        // cheap by being left there on every line, and the parse stays out of phase.
        const bool sameMatch = later.Pick.Symbol >= 256 && later.Pick.Value == cur.Pick.Value &&
                               k + later.Pick.Length <= cur.Pick.Length;
        if (later.Gain > cur.Gain && !sameMatch) {
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
    out.push_back(cur.Pick);
    history.Apply(cur.Pick);
    pos += cur.Pick.Length;
    if (settings.EnterInsideUpTo != 0 && cur.Pick.Length > settings.EnterInsideUpTo) finder.PassOver(pos);
    if (pos < end) choices.BestAt(pos, end, history, cur);
  }
}

struct Node {
  std::uint32_t Cost;
  std::uint32_t From;
  Token Pick;
  MatchHistory History;
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
    nodes[0].Cost = 0;
    nodes[0].History = history;
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
      const MatchHistory& h = node.History;
      const std::uint32_t p = pos + i;
      const std::uint32_t avail = std::min(end - p, limit - i + kMaxMatch);
      const auto relax = [&](const Token& t, std::uint32_t bits) {
        const std::uint32_t j = i + t.Length;
        const std::uint32_t cost = node.Cost + bits;
        if (j > limit) return;  // beyond the stretch: the cut takes the path to limit
        for (; reach < j; ++reach) nodes[reach + 1].Cost = UINT32_MAX;
        if (cost < nodes[j].Cost) {
          nodes[j].Cost = cost;
          nodes[j].From = i;
          nodes[j].Pick = t;
          nodes[j].History = h;
          nodes[j].History.Apply(t);
        }
      };
      relax(LiteralToken(*finder.At(p)), costs.Literal(*finder.At(p)));
      if (avail < 2) continue;

      if (RepeatFits(finder, p, avail, h, settings.NiceLength))
        relax(RepeatLastToken(h.LastDistance, h.LastLength), costs.RepeatLast());
      std::uint32_t longestRecent = 0;
      for (std::uint32_t slot = 0; slot < 4; ++slot) {
        const std::uint32_t d = h.Recent[slot];
        if (d == 0 || (slot > 0 && std::find(h.Recent, h.Recent + slot, d) != h.Recent + slot)) continue;
        const std::uint32_t length = finder.MatchLength(p, d, std::min(avail, LongestRecentMatch(d)));
        for (std::uint32_t l = ShortestRecentMatch(d); l <= length; ++l)
          relax(RecentMatchToken(slot, d, l), costs.RecentMatch(slot, l, d));
        longestRecent = std::max(longestRecent, length);
      }
      const std::uint32_t found = finder.Find(p, std::min(avail, kMaxMatch), matches.data());
      const std::uint32_t longest = found ? matches[found - 1].Length : 0;
      if (std::max(longest, longestRecent) >= settings.NiceLength) {
        // Cut here and take the token that saves most at this point (repeating the last
        // match, when it fits, is the cheapest way through long runs).
        stop = i;
        jump = choices.BestAt(p, end, h).Pick;
        break;
      }
      std::uint32_t shorter = 2;
      for (std::uint32_t m = 0; m < found; ++m) {
        const std::uint32_t d = matches[m].Distance;
        const std::uint32_t top = std::min(matches[m].Length, LongestLongMatch(d));
        const std::uint32_t distanceBits = costs.Distance(d);
        for (std::uint32_t l = std::max(shorter + 1, ShortestLongMatch(d)); l <= top; ++l)
          relax(LongMatchToken(d, l), costs.LongLength(l, d) + distanceBits);
        shorter = matches[m].Length;
      }
      if (settings.ShortMatches) {
        const std::uint32_t d = finder.PairDistance(p);
        if (d != 0) relax(ShortMatchToken(d), costs.ShortMatch(d));
      }
    }
    path.clear();
    for (std::uint32_t j = stop; j > 0; j = nodes[j].From) path.push_back(nodes[j].Pick);
    out.insert(out.end(), path.rbegin(), path.rend());
    history = nodes[stop].History;
    pos += stop;
    if (jump.Length != 0) {
      out.push_back(jump);
      history.Apply(jump);
      pos += jump.Length;
    }
  }
}

}  // namespace

void CostModel::SetDefaults() {
  for (std::uint32_t s = 0; s < kMainAlphabet; ++s) Main[s] = 8;
  Main[format20::kRepeatLastSymbol] = 9;
  for (std::uint32_t k = 0; k < 4; ++k) Main[kRecentDistanceSymbol + k] = 6 + k;
  for (std::uint32_t k = 0; k < 8; ++k) Main[kShortMatchSymbol + k] = 9;
  for (std::uint32_t k = 0; k < kRepeatLengthAlphabet; ++k) Main[kLongMatchSymbol + k] = 7 + k / 4;
  for (std::uint32_t& d : DistanceBits) d = 6;
  for (std::uint32_t k = 0; k < kRepeatLengthAlphabet; ++k) RepeatLength[k] = 3 + k / 4;
}

void CostModel::SetFromLengths(const std::uint8_t* lengths) {
  for (std::uint32_t s = 0; s < kMainAlphabet; ++s) Main[s] = lengths[s] != 0 ? lengths[s] : kUncodedMain;
  for (std::uint32_t k = 0; k < kDistanceAlphabet; ++k) {
    const std::uint8_t l = lengths[kMainAlphabet + k];
    DistanceBits[k] = l != 0 ? l : kUncodedDistance;
  }
  for (std::uint32_t k = 0; k < kRepeatLengthAlphabet; ++k) {
    const std::uint8_t l = lengths[kMainAlphabet + kDistanceAlphabet + k];
    RepeatLength[k] = l != 0 ? l : kUncodedLength;
  }
}

std::uint32_t CostModel::Bits(const Token& t) const {
  if (t.Symbol < 256) return Literal(static_cast<std::uint8_t>(t.Symbol));
  if (t.Symbol == format20::kRepeatLastSymbol) return RepeatLast();
  if (t.Symbol < kShortMatchSymbol) return RecentMatch(t.Symbol - kRecentDistanceSymbol, t.Length, t.Value);
  if (t.Symbol < kLongMatchSymbol) return ShortMatch(t.Value);
  return LongMatch(t.Length, t.Value);
}

void ParseStretch(MatchFinder& finder, const ParserSettings& settings, const CostModel& costs, std::uint32_t begin,
                  std::uint32_t end, MatchHistory& history, std::vector<Token>& out) {
  if (settings.Kind == ParseKind::kOptimal) {
    ParseOptimal(finder, settings, costs, begin, end, history, out);
  } else {
    ParseLazy(finder, settings, costs, begin, end, history, out);
  }
}

}  // namespace korvane::pack
