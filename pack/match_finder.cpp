// The history lives in one buffer of 1 MiB of window plus room for two appends; when an
// append does not fit, the last 1 MiB moves to the front. Chains hold stream positions, so a
// move only shifts the chain array with the bytes; the values stay.
#include "pack/match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace korvane::pack {
namespace {

// Bytes past the end that a comparison may load (8 at a time) without using.
constexpr std::uint32_t kSlack = 16;
constexpr std::uint32_t kPairs = 1u << 16;
constexpr std::uint32_t kShortReach = 256;
// Positions are renumbered before they could pass 2^32.
constexpr std::uint32_t kRenumberAbove = 0x80000000u;
constexpr std::uint32_t kRenumberBy = 0x40000000u;

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

MatchFinder::MatchFinder(const MatchFinderSettings& settings)
    : settings_(settings),
      capacity_(kWindow + 2 * kMaxAppend),
      buffer_(new std::uint8_t[capacity_ + kSlack]()),
      prev_(new std::uint32_t[capacity_]()),
      head_(std::size_t{1} << settings.hashBits, 0),
      pairHead_(kPairs, 0) {
  if (settings_.shortMatches) pairDistance_.reset(new std::uint16_t[capacity_]());
}

std::uint32_t MatchFinder::Key(const std::uint8_t* p) const {
  std::uint32_t v = p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16;
  if (settings_.hashBytes == 4) v |= std::uint32_t{p[3]} << 24;
  return (v * 2654435761u) >> (32 - settings_.hashBits);
}

void MatchFinder::Insert(std::uint32_t pos) {
  const std::uint8_t* p = At(pos);
  const std::uint32_t index = pos - base_;
  const std::uint32_t key = Key(p);
  prev_[index] = head_[key];
  head_[key] = pos;
  if (pairDistance_) {
    const std::uint32_t pair = p[0] | std::uint32_t{p[1]} << 8;
    const std::uint32_t last = pairHead_[pair];
    pairDistance_[index] = static_cast<std::uint16_t>(last >= streamStart_ && pos - last <= kShortReach ? pos - last : 0);
    pairHead_[pair] = pos;
  }
}

void MatchFinder::EnterPositions() {
  if (end_ - streamStart_ < settings_.hashBytes) return;
  const std::uint32_t last = end_ - settings_.hashBytes + 1;
  for (std::uint32_t pos = std::max(entered_, streamStart_); pos < last; ++pos) Insert(pos);
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
  std::memmove(prev_.get(), prev_.get() + shift, kept * sizeof prev_[0]);
  if (pairDistance_) std::memmove(pairDistance_.get(), pairDistance_.get() + shift, kept * sizeof pairDistance_[0]);
  base_ = from;
  if (base_ > kRenumberAbove) Renumber();
}

// Moves every position down by kRenumberBy; positions that would fall below 1 are long out
// of reach and become 0 (none).
void MatchFinder::Renumber() {
  const auto down = [](std::uint32_t& v) { v = v > kRenumberBy ? v - kRenumberBy : 0; };
  for (std::uint32_t& v : head_) down(v);
  for (std::uint32_t& v : pairHead_) down(v);
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
  EnterPositions();
}

void MatchFinder::Mark() {
  marked_ = true;
  mark_ = end_;
  markEntered_ = entered_;
  saved_.clear();
}

void MatchFinder::RebuildHeads() {
  std::fill(head_.begin(), head_.end(), 0);
  std::fill(pairHead_.begin(), pairHead_.end(), 0);
  const std::uint32_t from = std::max({base_, streamStart_, entered_ > kWindow ? entered_ - kWindow : 0u});
  for (std::uint32_t pos = from; pos < entered_; ++pos) {
    const std::uint8_t* p = At(pos);
    head_[Key(p)] = pos;
    pairHead_[p[0] | std::uint32_t{p[1]} << 8] = pos;
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
  std::fill(pairHead_.begin(), pairHead_.end(), 0);
  entered_ = base_;
  EnterPositions();
  return true;
}

std::uint32_t MatchFinder::CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t maxLength) {
  std::uint32_t n = 0;
  while (n + 8 <= maxLength) {
    const std::uint64_t diff = Load64(a + n) ^ Load64(b + n);
    if (diff != 0) {
      const int bits = std::endian::native == std::endian::little ? std::countr_zero(diff) : std::countl_zero(diff);
      return n + static_cast<std::uint32_t>(bits) / 8;
    }
    n += 8;
  }
  while (n < maxLength && a[n] == b[n]) ++n;
  return n;
}

std::uint32_t MatchFinder::Find(std::uint32_t pos, std::uint32_t maxLength, Match* out) const {
  if (maxLength < 3 || pos >= entered_) return 0;
  const std::uint32_t low = std::max(pos - Reach(pos), base_);
  const std::uint8_t* cur = At(pos);
  std::uint32_t found = 0;
  std::uint32_t best = 2;
  std::uint32_t cand = prev_[pos - base_];
  for (std::uint32_t chain = settings_.maxChain; chain != 0 && cand >= low && cand < pos; --chain) {
    const std::uint8_t* p = At(cand);
    if (p[best] == cur[best] && p[0] == cur[0] && p[1] == cur[1]) {
      const std::uint32_t length = CommonLength(cur, p, maxLength);
      if (length > best) {
        out[found++] = Match{length, pos - cand};
        best = length;
        if (length >= settings_.niceLength || length == maxLength) break;
      }
    }
    const std::uint32_t next = prev_[cand - base_];
    if (next >= cand) break;
    cand = next;
  }
  return found;
}

}  // namespace korvane::pack
