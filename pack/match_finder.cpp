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
    : settings_(settings), capacity_(kWindow + 2 * kMaxAppend), buffer_(new std::uint8_t[capacity_ + kSlack]()) {
  if (settings_.buckets) {
    settings_.maxChain = std::min(settings_.maxChain, kWays);
    buckets_.reset(new Bucket[std::size_t{1} << settings.hashBits]());
  } else {
    prev_.reset(new std::uint32_t[capacity_]());
    head_.assign(std::size_t{1} << settings.hashBits, 0);
  }
  if (settings_.nearMatches) {
    tripleDistance_.reset(new std::uint16_t[capacity_]());
    pairDistance_.reset(new std::uint16_t[capacity_]());
    tripleHead_.assign(std::size_t{1} << kTripleBits, 0);
    pairHead_.assign(kPairs, 0);
  }
}

void MatchFinder::PutInBucket(std::uint32_t key, std::uint32_t pos) {
  Bucket& b = buckets_[key];
  b.positions[b.next] = pos;
  b.tags[b.next] = Tag4(At(pos));
  b.next = static_cast<std::uint8_t>(b.next + 1u == kWays ? 0u : b.next + 1u);
}

void MatchFinder::Insert(std::uint32_t pos) {
  const std::uint8_t* p = At(pos);
  const std::uint32_t index = pos - base_;
  const std::uint32_t key = Key4(p, settings_.hashBits);
  if (buckets_) {
    PutInBucket(key, pos);
  } else {
    prev_[index] = head_[key];
    head_[key] = pos;
  }
  if (tripleDistance_) {
    // Heads from before the stream's start are older than anything a match may reach.
    std::uint32_t& triple = tripleHead_[Key3(p)];
    tripleDistance_[index] =
        static_cast<std::uint16_t>(triple >= streamStart_ && pos - triple <= kTripleReach ? pos - triple : 0);
    triple = pos;
    std::uint32_t& pair = pairHead_[Pair(p)];
    pairDistance_[index] =
        static_cast<std::uint16_t>(pair >= streamStart_ && pos - pair <= kShortReach ? pos - pair : 0);
    pair = pos;
  }
}

void MatchFinder::EnterPositions(std::uint32_t limit) {
  if (end_ - streamStart_ < kKeyBytes) return;
  const std::uint32_t last = std::min(limit, end_ - kKeyBytes + 1);
  for (std::uint32_t pos = std::max(entered_, streamStart_); pos < last; ++pos) {
    // The slack behind the end keeps the look-ahead key readable.
    const std::uint8_t* ahead = At(pos + kPrefetchAhead);
    const std::uint32_t key = Key4(ahead, settings_.hashBits);
    if (buckets_) {
      Prefetch(&buckets_[key]);
    } else {
      Prefetch(&head_[key]);
    }
    if (tripleDistance_) {
      Prefetch(&tripleHead_[Key3(ahead)]);
      Prefetch(&pairHead_[Pair(ahead)]);
    }
    Insert(pos);
  }
  if (entered_ < last) entered_ = last;
}

void MatchFinder::StartStream() {
  streamStart_ = end_;
  entered_ = end_;
}

void MatchFinder::MakeRoom(std::uint32_t count) {
  if (end_ - base_ + count <= capacity_) return;
  // Keep the last window before the end, or less when the stream is younger than that.
  const std::uint32_t from = end_ - std::min(end_ - std::max(base_, streamStart_), kWindow);
  if (marked_ && saved_.empty()) {
    // The marked history starts 1 MiB before the mark (or at the stream's start); if this
    // move drops some of it, keep a copy for a rewind.
    const std::uint32_t needed = mark_ - std::min(mark_ - std::max(base_, streamStart_), kWindow);
    if (from > needed) saved_.assign(At(needed), At(mark_));
  }
  const std::uint32_t shift = from - base_;
  const std::uint32_t kept = end_ - from;
  std::memmove(buffer_.get(), buffer_.get() + shift, kept);
  if (prev_) std::memmove(prev_.get(), prev_.get() + shift, kept * sizeof prev_[0]);
  if (tripleDistance_) {
    std::memmove(tripleDistance_.get(), tripleDistance_.get() + shift, kept * sizeof tripleDistance_[0]);
    std::memmove(pairDistance_.get(), pairDistance_.get() + shift, kept * sizeof pairDistance_[0]);
  }
  base_ = from;
  if (base_ > kRenumberAbove) Renumber();
}

// Moves every position down by kRenumberBy; positions that would fall below 1 are long out
// of reach and become 0 (none).
void MatchFinder::Renumber() {
  const auto down = [](std::uint32_t& v) { v = v > kRenumberBy ? v - kRenumberBy : 0; };
  for (std::uint32_t& v : head_) down(v);
  if (buckets_)
    for (std::size_t k = 0; k < (std::size_t{1} << settings_.hashBits); ++k)
      for (std::uint32_t& v : buckets_[k].positions) down(v);
  for (std::uint32_t& v : tripleHead_) down(v);
  for (std::uint32_t& v : pairHead_) down(v);
  if (prev_)
    for (std::uint32_t i = 0; i < end_ - base_; ++i) down(prev_[i]);
  if (marked_ && mark_ <= kRenumberBy) marked_ = false;
  down(mark_);
  down(markEntered_);
  base_ -= kRenumberBy;
  end_ -= kRenumberBy;
  entered_ -= kRenumberBy;
  streamStart_ = streamStart_ > kRenumberBy ? streamStart_ - kRenumberBy : 1;
}

void MatchFinder::Append(const std::uint8_t* data, std::uint32_t count) {
  MakeRoom(count);
  std::memcpy(buffer_.get() + (end_ - base_), data, count);
  end_ += count;
  std::memset(buffer_.get() + (end_ - base_), 0, kSlack);
  if (!buckets_) EnterPositions(end_);
}

void MatchFinder::Mark() {
  marked_ = true;
  mark_ = end_;
  markEntered_ = entered_;
  saved_.clear();
}

void MatchFinder::ClearBuckets() {
  if (buckets_) std::fill(buckets_.get(), buckets_.get() + (std::size_t{1} << settings_.hashBits), Bucket{});
}

void MatchFinder::RebuildHeads() {
  std::fill(head_.begin(), head_.end(), 0);
  ClearBuckets();
  std::fill(tripleHead_.begin(), tripleHead_.end(), 0);
  std::fill(pairHead_.begin(), pairHead_.end(), 0);
  const std::uint32_t from = std::max({base_, streamStart_, entered_ > kWindow ? entered_ - kWindow : 0u});
  for (std::uint32_t pos = from; pos < entered_; ++pos) {
    const std::uint8_t* p = At(pos);
    const std::uint32_t key = Key4(p, settings_.hashBits);
    if (buckets_) {
      PutInBucket(key, pos);
    } else {
      head_[key] = pos;
    }
    if (tripleDistance_) {
      tripleHead_[Key3(p)] = pos;
      pairHead_[Pair(p)] = pos;
    }
  }
}

bool MatchFinder::Rewind() {
  if (!marked_) return false;
  marked_ = false;
  if (saved_.empty()) {
    // Everything before the mark is still in place: forget what came after it. Positions
    // keyed with bytes past the mark are entered again when new bytes arrive.
    end_ = mark_;
    entered_ = markEntered_;
    std::memset(buffer_.get() + (end_ - base_), 0, kSlack);
    RebuildHeads();
    return true;
  }
  base_ = mark_ - static_cast<std::uint32_t>(saved_.size());
  end_ = mark_;
  std::memcpy(buffer_.get(), saved_.data(), saved_.size());
  std::memset(buffer_.get() + saved_.size(), 0, kSlack);
  saved_.clear();
  std::fill(head_.begin(), head_.end(), 0);
  ClearBuckets();
  std::fill(tripleHead_.begin(), tripleHead_.end(), 0);
  std::fill(pairHead_.begin(), pairHead_.end(), 0);
  entered_ = base_;
  EnterPositions(end_);
  return true;
}

std::uint32_t MatchFinder::Find(std::uint32_t pos, std::uint32_t maxLength, Match* out) {
  if (buckets_ && entered_ <= pos) EnterPositions(pos + 1);
  if (maxLength < 3 || pos >= entered_) return 0;
  const std::uint32_t low = std::max(pos - Reach(pos), base_);
  const std::uint8_t* cur = At(pos);
  const std::uint32_t index = pos - base_;
  std::uint32_t found = 0;
  std::uint32_t best = 2;
  if (tripleDistance_ && tripleDistance_[index] != 0 && pos - tripleDistance_[index] >= low) {
    const std::uint32_t distance = tripleDistance_[index];
    const std::uint32_t length = CommonLength(cur, At(pos - distance), maxLength);
    if (length >= 3) {
      out[found++] = Match{length, distance};
      best = length;
      if (length >= settings_.niceLength || length == maxLength) return found;
    }
  }
  const std::uint32_t head = Load32(cur);
  if (buckets_) {
    const Bucket& b = buckets_[Key4(cur, settings_.hashBits)];
    // Slots whose tag matches, eight at a time: a byte of the difference is 0 there. The
    // borrow trick may flag a byte above a true zero byte, so each flag is checked exactly.
    const std::uint8_t tag = Tag4(cur);
    const std::uint64_t spread = tag * 0x0101010101010101ull;
    std::uint32_t matching = 0;
    for (std::uint32_t g = 0; g < 16; g += 8) {
      std::uint64_t group;
      std::memcpy(&group, b.tags + g, 8);  // the last group runs into next and unused
      const std::uint64_t x = group ^ spread;
      for (std::uint64_t zero = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull; zero != 0; zero &= zero - 1) {
        const std::uint32_t slot = g + static_cast<std::uint32_t>(std::countr_zero(zero)) / 8;
        if (slot < kWays && b.tags[slot] == tag) matching |= 1u << slot;
      }
    }
    // In ring order from the oldest slot (the next written) to the newest; positions at or
    // after pos are there only when a stretch is searched again after later ones.
    const std::uint32_t next = b.next;
    std::uint32_t byAge = ((matching >> next) | (matching << (kWays - next))) & ((1u << kWays) - 1);
    std::uint32_t cands[kWays];
    std::uint32_t count = 0;
    while (byAge != 0 && count < settings_.maxChain) {
      const std::uint32_t age = 31 - static_cast<std::uint32_t>(std::countl_zero(byAge));
      byAge &= ~(1u << age);
      const std::uint32_t cand = b.positions[next + age < kWays ? next + age : next + age - kWays];
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
        if (length >= settings_.niceLength || length == maxLength) break;
      }
    }
    return found;
  }
  std::uint32_t chain = settings_.maxChain;
  for (std::uint32_t cand = prev_[index]; chain != 0 && cand >= low && cand < pos; --chain) {
    const std::uint8_t* p = At(cand);
    if (p[best] == cur[best] && Load32(p) == head) {
      const std::uint32_t length = CommonLength(cur, p, maxLength);
      if (length > best) {
        out[found++] = Match{length, pos - cand};
        best = length;
        if (length >= settings_.niceLength || length == maxLength) break;
        if (length >= settings_.goodLength) chain = chain / 4 + 1;
      }
    }
    const std::uint32_t next = prev_[cand - base_];
    if (next >= cand) break;
    cand = next;
  }
  return found;
}

}  // namespace korvane::pack
