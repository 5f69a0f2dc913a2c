// The history lives in one buffer of 1 MiB of window plus room for two appends; when an
// append does not fit, the last 1 MiB moves to the front. Chains and buckets hold stream
// positions, so a move only shifts the per-position arrays with the bytes; the values stay.
#include "pack/match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace korvane::pack {
namespace {

// Bytes past the end that a comparison may load (8 at a time) without using.
constexpr std::uint32_t kSlack = 16;
constexpr std::uint32_t kKeyBytes = 4;
constexpr std::uint32_t kTripleBits = 16;
constexpr std::uint32_t kPairs = 1u << 16;
constexpr std::uint32_t kShortReach = 256;
constexpr std::uint32_t kTripleReach = 0xFFFF;
// Positions are renumbered before they could pass 2^32.
constexpr std::uint32_t kRenumberAbove = 0x80000000u;
constexpr std::uint32_t kRenumberBy = 0x40000000u;

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
// Keys of the first four and three bytes; any order of the bytes in the load will do.
std::uint32_t Key4(const std::uint8_t* p, std::uint32_t bits) { return (Load32(p) * 2654435761u) >> (32 - bits); }
// Most positions in a bucket only share the key's bits; a tag from other bits of another
// hash turns nearly all of them away without reading their bytes.
std::uint8_t Tag4(const std::uint8_t* p) { return static_cast<std::uint8_t>((Load32(p) * 0x9E3779B1u) >> 8); }
std::uint32_t Key3(const std::uint8_t* p) {
  const std::uint32_t v = p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
  return (v * 2654435761u) >> (32 - kTripleBits);
}
std::uint32_t Pair(const std::uint8_t* p) { return p[0] | std::uint32_t{p[1]} << 8; }

// The tables are far larger than the caches and every access is at a random place; asking for
// the lines a few positions ahead lets the loads overlap instead of waiting one by one.
inline void Prefetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}
constexpr std::uint32_t kPrefetchAhead = 8;

}  // namespace

MatchFinder::MatchFinder(const MatchFinderSettings& settings)
    : Settings(settings), Capacity(kWindow + 2 * kMaxAppend), Buffer(new std::uint8_t[Capacity + kSlack]()) {
  if (Settings.Buckets) {
    Settings.MaxChain = std::min(Settings.MaxChain, kWays);
    Buckets.reset(new Bucket[std::size_t{1} << settings.HashBits]());
  } else {
    Prev.reset(new std::uint32_t[Capacity]());
    Head.assign(std::size_t{1} << settings.HashBits, 0);
  }
  if (Settings.NearMatches) {
    TripleDistance.reset(new std::uint16_t[Capacity]());
    PairDistances.reset(new std::uint16_t[Capacity]());
    TripleHead.assign(std::size_t{1} << kTripleBits, 0);
    PairHead.assign(kPairs, 0);
  }
}

void MatchFinder::PutInBucket(std::uint32_t key, std::uint32_t pos) {
  Bucket& b = Buckets[key];
  b.Positions[b.Next] = pos;
  b.Tags[b.Next] = Tag4(At(pos));
  b.Next = static_cast<std::uint8_t>(b.Next + 1u == kWays ? 0u : b.Next + 1u);
}

void MatchFinder::Insert(std::uint32_t pos) {
  const std::uint8_t* p = At(pos);
  const std::uint32_t index = pos - Base;
  const std::uint32_t key = Key4(p, Settings.HashBits);
  if (Buckets) {
    PutInBucket(key, pos);
  } else {
    Prev[index] = Head[key];
    Head[key] = pos;
  }
  if (TripleDistance) {
    // Heads from before the stream's start are older than anything a match may reach.
    std::uint32_t& triple = TripleHead[Key3(p)];
    TripleDistance[index] =
        static_cast<std::uint16_t>(triple >= StreamStart && pos - triple <= kTripleReach ? pos - triple : 0);
    triple = pos;
    std::uint32_t& pair = PairHead[Pair(p)];
    PairDistances[index] =
        static_cast<std::uint16_t>(pair >= StreamStart && pos - pair <= kShortReach ? pos - pair : 0);
    pair = pos;
  }
}

void MatchFinder::EnterPositions(std::uint32_t limit) {
  if (StreamEnd - StreamStart < kKeyBytes) return;
  const std::uint32_t last = std::min(limit, StreamEnd - kKeyBytes + 1);
  for (std::uint32_t pos = std::max(Entered, StreamStart); pos < last; ++pos) {
    // The slack behind the end keeps the look-ahead key readable.
    const std::uint8_t* ahead = At(pos + kPrefetchAhead);
    const std::uint32_t key = Key4(ahead, Settings.HashBits);
    if (Buckets) {
      Prefetch(&Buckets[key]);
    } else {
      Prefetch(&Head[key]);
    }
    if (TripleDistance) {
      Prefetch(&TripleHead[Key3(ahead)]);
      Prefetch(&PairHead[Pair(ahead)]);
    }
    Insert(pos);
  }
  if (Entered < last) Entered = last;
}

void MatchFinder::StartStream() {
  StreamStart = StreamEnd;
  Entered = StreamEnd;
}

void MatchFinder::MakeRoom(std::uint32_t count) {
  if (StreamEnd - Base + count <= Capacity) return;
  // Keep the last window before the end, or less when the stream is younger than that.
  const std::uint32_t from = StreamEnd - std::min(StreamEnd - std::max(Base, StreamStart), kWindow);
  if (Marked && !HistorySaved) {
    // The marked history starts 1 MiB before the mark (or at the stream's start); if this
    // move drops some of it, keep a copy for a rewind.
    const std::uint32_t needed = MarkPosition - std::min(MarkPosition - std::max(Base, StreamStart), kWindow);
    if (from > needed) {
      Saved.assign(At(needed), At(MarkPosition));
      HistorySaved = true;
    }
  }
  const std::uint32_t shift = from - Base;
  const std::uint32_t kept = StreamEnd - from;
  std::memmove(Buffer.get(), Buffer.get() + shift, kept);
  if (Prev) std::memmove(Prev.get(), Prev.get() + shift, kept * sizeof Prev[0]);
  if (TripleDistance) {
    std::memmove(TripleDistance.get(), TripleDistance.get() + shift, kept * sizeof TripleDistance[0]);
    std::memmove(PairDistances.get(), PairDistances.get() + shift, kept * sizeof PairDistances[0]);
  }
  Base = from;
  if (Base > kRenumberAbove) Renumber();
}

// Moves every position down by kRenumberBy; positions that would fall below 1 are long out
// of reach and become 0 (none).
void MatchFinder::Renumber() {
  const auto down = [](std::uint32_t& v) { v = v > kRenumberBy ? v - kRenumberBy : 0; };
  for (std::uint32_t& v : Head) down(v);
  if (Buckets)
    for (std::size_t k = 0; k < (std::size_t{1} << Settings.HashBits); ++k)
      for (std::uint32_t& v : Buckets[k].Positions) down(v);
  for (std::uint32_t& v : TripleHead) down(v);
  for (std::uint32_t& v : PairHead) down(v);
  if (Prev)
    for (std::uint32_t i = 0; i < StreamEnd - Base; ++i) down(Prev[i]);
  if (Marked && MarkPosition <= kRenumberBy) Marked = false;
  down(MarkPosition);
  down(MarkEntered);
  Base -= kRenumberBy;
  StreamEnd -= kRenumberBy;
  Entered -= kRenumberBy;
  StreamStart = StreamStart > kRenumberBy ? StreamStart - kRenumberBy : 1;
}

void MatchFinder::Append(const std::uint8_t* data, std::uint32_t count) {
  MakeRoom(count);
  std::memcpy(Buffer.get() + (StreamEnd - Base), data, count);
  StreamEnd += count;
  std::memset(Buffer.get() + (StreamEnd - Base), 0, kSlack);
  if (!Buckets) EnterPositions(StreamEnd);
}

void MatchFinder::Mark() {
  Marked = true;
  MarkPosition = StreamEnd;
  MarkEntered = Entered;
  HistorySaved = false;
  Saved.clear();
}

void MatchFinder::ClearBuckets() {
  if (Buckets) std::fill(Buckets.get(), Buckets.get() + (std::size_t{1} << Settings.HashBits), Bucket{});
}

void MatchFinder::RebuildHeads() {
  std::fill(Head.begin(), Head.end(), 0);
  ClearBuckets();
  std::fill(TripleHead.begin(), TripleHead.end(), 0);
  std::fill(PairHead.begin(), PairHead.end(), 0);
  const std::uint32_t from = std::max({Base, StreamStart, Entered > kWindow ? Entered - kWindow : 0u});
  for (std::uint32_t pos = from; pos < Entered; ++pos) {
    const std::uint8_t* p = At(pos);
    const std::uint32_t key = Key4(p, Settings.HashBits);
    if (Buckets) {
      PutInBucket(key, pos);
    } else {
      Head[key] = pos;
    }
    if (TripleDistance) {
      TripleHead[Key3(p)] = pos;
      PairHead[Pair(p)] = pos;
    }
  }
}

bool MatchFinder::Rewind() {
  if (!Marked) return false;
  Marked = false;
  if (!HistorySaved) {
    // Everything before the mark is still in place: forget what came after it. Positions
    // keyed with bytes past the mark are entered again when new bytes arrive.
    StreamEnd = MarkPosition;
    Entered = MarkEntered;
    std::memset(Buffer.get() + (StreamEnd - Base), 0, kSlack);
    RebuildHeads();
    return true;
  }
  Base = MarkPosition - static_cast<std::uint32_t>(Saved.size());
  StreamEnd = MarkPosition;
  if (!Saved.empty()) std::memcpy(Buffer.get(), Saved.data(), Saved.size());  // no history: data() may be null
  std::memset(Buffer.get() + Saved.size(), 0, kSlack);
  Saved.clear();
  HistorySaved = false;
  std::fill(Head.begin(), Head.end(), 0);
  ClearBuckets();
  std::fill(TripleHead.begin(), TripleHead.end(), 0);
  std::fill(PairHead.begin(), PairHead.end(), 0);
  Entered = Base;
  EnterPositions(StreamEnd);
  return true;
}

std::uint32_t MatchFinder::Find(std::uint32_t pos, std::uint32_t maxLength, Match* out) {
  if (Buckets && Entered <= pos) EnterPositions(pos + 1);
  if (maxLength < 3 || pos >= Entered) return 0;
  const std::uint32_t low = std::max(pos - Reach(pos), Base);
  const std::uint8_t* cur = At(pos);
  const std::uint32_t index = pos - Base;
  std::uint32_t found = 0;
  std::uint32_t best = 2;
  if (TripleDistance && TripleDistance[index] != 0 && pos - TripleDistance[index] >= low) {
    const std::uint32_t distance = TripleDistance[index];
    const std::uint32_t length = CommonLength(cur, At(pos - distance), maxLength);
    if (length >= 3) {
      out[found++] = Match{length, distance};
      best = length;
      if (length >= Settings.NiceLength || length == maxLength) return found;
    }
  }
  const std::uint32_t head = Load32(cur);
  if (Buckets) {
    const Bucket& b = Buckets[Key4(cur, Settings.HashBits)];
    // Slots whose tag matches, eight at a time: a byte of the difference is 0 there. The
    // borrow trick may flag a byte above a true zero byte, so each flag is checked exactly.
    const std::uint8_t tag = Tag4(cur);
    const std::uint64_t spread = tag * 0x0101010101010101ull;
    std::uint32_t matching = 0;
    for (std::uint32_t g = 0; g < 16; g += 8) {
      std::uint64_t group;
      std::memcpy(&group, b.Tags + g, 8);  // the last group runs into Next and Unused
      const std::uint64_t x = group ^ spread;
      for (std::uint64_t zero = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull; zero != 0; zero &= zero - 1) {
        const std::uint32_t slot = g + static_cast<std::uint32_t>(std::countr_zero(zero)) / 8;
        if (slot < kWays && b.Tags[slot] == tag) matching |= 1u << slot;
      }
    }
    // In ring order from the oldest slot (the next written) to the newest; positions at or
    // after pos are there only when a stretch is searched again after later ones.
    const std::uint32_t next = b.Next;
    std::uint32_t byAge = ((matching >> next) | (matching << (kWays - next))) & ((1u << kWays) - 1);
    std::uint32_t cands[kWays];
    std::uint32_t count = 0;
    while (byAge != 0 && count < Settings.MaxChain) {
      const std::uint32_t age = 31 - static_cast<std::uint32_t>(std::countl_zero(byAge));
      byAge &= ~(1u << age);
      const std::uint32_t cand = b.Positions[next + age < kWays ? next + age : next + age - kWays];
      if (cand >= pos) continue;
      if (cand < low) break;
      Prefetch(At(cand));
      cands[count++] = cand;
    }
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::uint8_t* p = At(cands[k]);
      if (p[best] != cur[best] || Load32(p) != head) continue;
      const std::uint32_t length = CommonLength(cur, p, maxLength);
      if (length > best) {
        out[found++] = Match{length, pos - cands[k]};
        best = length;
        if (length >= Settings.NiceLength || length == maxLength) break;
      }
    }
    return found;
  }
  std::uint32_t chain = Settings.MaxChain;
  for (std::uint32_t cand = Prev[index]; chain != 0 && cand >= low && cand < pos; --chain) {
    const std::uint8_t* p = At(cand);
    if (p[best] == cur[best] && Load32(p) == head) {
      const std::uint32_t length = CommonLength(cur, p, maxLength);
      if (length > best) {
        out[found++] = Match{length, pos - cand};
        best = length;
        if (length >= Settings.NiceLength || length == maxLength) break;
        if (length >= Settings.GoodLength) chain = chain / 4 + 1;
      }
    }
    const std::uint32_t next = Prev[cand - Base];
    if (next >= cand) break;
    cand = next;
  }
  return found;
}

}  // namespace korvane::pack
