// Huffman code lengths by the two-queue method over counts sorted once, then a depth limit:
// lengths beyond the limit are cut to it, and the codes that then overfill the code space are
// made longer, the rarest first, until it fits again; any room left goes back to the most
// frequent symbols.
#include "pack/prefix_code.h"

#include <algorithm>
#include <vector>

namespace korvane::pack {

void BuildCodeLengths(const std::uint32_t* counts, std::uint32_t count, std::uint32_t maxLength,
                      std::uint8_t* lengths) {
  std::vector<std::uint32_t> order;  // coded symbols, rarest first (ties by symbol)
  order.reserve(count);
  for (std::uint32_t s = 0; s < count; ++s) {
    lengths[s] = 0;
    if (counts[s] != 0) order.push_back(s);
  }
  const std::size_t n = order.size();
  if (n == 0) return;
  if (n == 1) {
    lengths[order[0]] = 1;
    return;
  }
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return counts[a] < counts[b]; });

  // Nodes 0..n-1 are the leaves in that order, n.. the merged nodes in creation order; both
  // queues stay sorted by weight, so the two lightest are always at their heads.
  std::vector<std::uint64_t> weight(2 * n - 1);
  std::vector<std::uint32_t> parent(2 * n - 1, 0);
  for (std::size_t i = 0; i < n; ++i) weight[i] = counts[order[i]];
  std::size_t leaf = 0, merged = n, next = n;
  const auto lightest = [&]() -> std::size_t {
    if (leaf < n && (merged >= next || weight[leaf] <= weight[merged])) return leaf++;
    return merged++;
  };
  while (next < 2 * n - 1) {
    const std::size_t a = lightest(), b = lightest();
    weight[next] = weight[a] + weight[b];
    parent[a] = parent[b] = static_cast<std::uint32_t>(next);
    ++next;
  }
  // Depths from the root (the last node) down; parents always come after their children.
  std::vector<std::uint32_t> depth(2 * n - 1, 0);
  for (std::size_t i = 2 * n - 2; i-- > 0;) depth[i] = depth[parent[i]] + 1;

  // Code space in units of 2^-maxLength: a length L takes 2^(maxLength - L) units.
  const std::uint64_t space = std::uint64_t{1} << maxLength;
  std::uint64_t used = 0;
  std::vector<std::uint32_t> len(n);
  for (std::size_t i = 0; i < n; ++i) {
    len[i] = std::min(depth[i], maxLength);
    used += space >> len[i];
  }
  // Overfull after cutting: lengthen the rarest symbols that can still grow, each step freeing
  // half of what the symbol took. The rarest leaves sit deepest, so this mostly touches the
  // few just above the limit.
  while (used > space) {
    for (std::size_t i = 0; i < n && used > space; ++i) {
      if (len[i] < maxLength && (space >> (len[i] + 1)) <= used - space) {
        used -= space >> (len[i] + 1);
        ++len[i];
      }
    }
    // No single step fits the excess exactly: take the largest one below the limit anyway;
    // the loop below gives back what was freed too much.
    if (used > space) {
      std::size_t best = n;
      for (std::size_t i = 0; i < n; ++i)
        if (len[i] < maxLength && (best == n || len[i] > len[best])) best = i;
      if (best == n) break;  // cannot happen: n <= 2^maxLength
      used -= space >> (len[best] + 1);
      ++len[best];
    }
  }
  // Spare room: shorten the most frequent symbols while the code space allows.
  for (std::size_t i = n; i-- > 0;) {
    while (len[i] > 1 && used + (space >> len[i]) <= space) {
      used += space >> len[i];
      --len[i];
    }
  }
  for (std::size_t i = 0; i < n; ++i) lengths[order[i]] = static_cast<std::uint8_t>(len[i]);
}

void AssignCanonicalCodes(const std::uint8_t* lengths, std::uint32_t count, std::uint16_t* codes) {
  std::uint32_t perLength[kMaxCodeLength + 1] = {};
  for (std::uint32_t s = 0; s < count; ++s) ++perLength[lengths[s]];
  perLength[0] = 0;
  std::uint32_t next[kMaxCodeLength + 2] = {};
  std::uint32_t code = 0;
  for (std::uint32_t length = 1; length <= kMaxCodeLength; ++length) {
    code = (code + perLength[length - 1]) << 1;
    next[length] = code;
  }
  for (std::uint32_t s = 0; s < count; ++s) {
    codes[s] = 0;
    if (lengths[s] != 0) codes[s] = static_cast<std::uint16_t>(next[lengths[s]]++);
  }
}

std::uint64_t CodedBits(const std::uint32_t* counts, const std::uint8_t* lengths, std::uint32_t count) {
  std::uint64_t bits = 0;
  for (std::uint32_t s = 0; s < count; ++s) bits += std::uint64_t{counts[s]} * lengths[s];
  return bits;
}

}  // namespace korvane::pack
