// The lengths of a block are cut into pre-code items by a shortest-path search over the
// positions, and the pre-code is built for the items found. Runs of 16 repeat the previous
// new length, 17 and 18 write zeros outright (also under the keep flag), and 0..15 a value
// or, under the keep flag, a difference modulo 16.
#include "pack/table_block.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pack/prefix_code.h"
#include "unpack/format20_codes.h"

namespace korvane::pack {
namespace {

using format20::kLongZeroRun;
using format20::kRepeatPreviousLength;
using format20::kShortZeroRun;

using PreItem = TableBlockPlan::Item;

constexpr std::uint32_t kPreExtraBits[kPreCodeAlphabet] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
// Runs each symbol can write: 16 repeats 3..6 times, 17 writes 3..10 zeros, 18 11..138.
constexpr std::uint32_t kRunMin[3] = {3, 3, 11};
constexpr std::uint32_t kRunMax[3] = {6, 10, 138};
constexpr std::uint32_t kHeaderBits = 2;  // audio and keep flags
constexpr std::uint32_t kChannelBits = 2;
constexpr std::uint32_t kPreLengthBits = 4;
// Searches for the items: the first priced with a guess, the next with the pre-code of the
// items before. A block is a few hundred bits, so one more round is rarely worth its time.
constexpr int kRounds = 1;

// previous: null for a block without the keep flag. plan.Bits counts the pre-code and items.
TableBlockPlan PlanLengths(const std::uint8_t* lengths, std::uint32_t n, const std::uint8_t* previous) {
  TableBlockPlan plan;
  std::uint32_t price[kPreCodeAlphabet];
  std::fill(std::begin(price), std::end(price), 4);
  std::vector<std::uint32_t> best(n + 1);
  std::vector<PreItem> choice(n + 1);
  std::vector<std::uint32_t> from(n + 1);
  // Positions ahead of i holding the same length as i, and zeros ahead of i.
  std::vector<std::uint32_t> sameRun(n + 1, 0), zeroRun(n + 1, 0);
  for (std::uint32_t i = n; i-- > 0;) {
    sameRun[i] = 1 + (i + 1 < n && lengths[i + 1] == lengths[i] ? sameRun[i + 1] : 0);
    zeroRun[i] = lengths[i] == 0 ? 1 + zeroRun[i + 1] : 0;
  }
  for (int round = 0; round < kRounds; ++round) {
    std::fill(best.begin(), best.end(), UINT32_MAX);
    best[0] = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t here = best[i];
      const auto relax = [&](std::uint32_t j, std::uint32_t cost, PreItem item) {
        if (here + cost < best[j]) {
          best[j] = here + cost;
          choice[j] = item;
          from[j] = i;
        }
      };
      const std::uint32_t value = previous ? (lengths[i] - previous[i]) & 15 : lengths[i];
      relax(i + 1, price[value], PreItem{static_cast<std::uint8_t>(value), 0});
      if (i > 0 && lengths[i] == lengths[i - 1]) {
        const std::uint32_t most = std::min(sameRun[i], kRunMax[0]);
        for (std::uint32_t r = kRunMin[0]; r <= most; ++r)
          relax(i + r, price[kRepeatPreviousLength] + 2,
                PreItem{static_cast<std::uint8_t>(kRepeatPreviousLength), static_cast<std::uint8_t>(r - kRunMin[0])});
      }
      for (std::uint32_t kind = 1; kind < 3; ++kind) {
        const std::uint32_t symbol = kRepeatPreviousLength + kind;
        const std::uint32_t most = std::min(zeroRun[i], kRunMax[kind]);
        // A long run costs the same whatever its length: besides the longest, only the few
        // just short of it (to leave room for a cheaper ending) and the shortest matter.
        for (std::uint32_t r = kRunMin[kind]; r <= most; ++r) {
          if (kind == 2 && r > kRunMin[kind] + 2 && r + 8 < most) r = most - 8;
          relax(i + r, price[symbol] + kPreExtraBits[symbol],
                PreItem{static_cast<std::uint8_t>(symbol), static_cast<std::uint8_t>(r - kRunMin[kind])});
        }
      }
    }
    plan.Items.clear();
    for (std::uint32_t j = n; j > 0; j = from[j]) plan.Items.push_back(choice[j]);
    std::reverse(plan.Items.begin(), plan.Items.end());
    std::uint32_t counts[kPreCodeAlphabet] = {};
    for (const PreItem& item : plan.Items) ++counts[item.Symbol];
    BuildCodeLengths(counts, kPreCodeAlphabet, kMaxCodeLength, plan.PreLengths);
    for (std::uint32_t s = 0; s < kPreCodeAlphabet; ++s) price[s] = plan.PreLengths[s] != 0 ? plan.PreLengths[s] : 15;
  }
  plan.Bits = kPreCodeAlphabet * kPreLengthBits;
  for (const PreItem& item : plan.Items) plan.Bits += plan.PreLengths[item.Symbol] + kPreExtraBits[item.Symbol];
  return plan;
}

}  // namespace

// The cheaper of the plain and the keep-flag coding; keep is used only after a block of the
// same kind and size, so that positions a block does not define never matter.
TableBlockPlan PlanTableBlock(const TableHistory& history, bool audio, std::uint32_t channels,
                              const std::uint8_t* lengths) {
  const std::uint32_t positions = TablePositions(audio, channels);
  TableBlockPlan plan = PlanLengths(lengths, positions, nullptr);
  if (history.Positions == positions && history.Audio == audio) {
    TableBlockPlan delta = PlanLengths(lengths, positions, history.Previous);
    if (delta.Bits < plan.Bits) {
      plan = std::move(delta);
      plan.Keep = true;
    }
  }
  plan.Audio = audio;
  plan.Channels = channels;
  plan.Bits += kHeaderBits + (audio ? kChannelBits : 0);
  return plan;
}

void WriteTableBlock(BitOutput& out, TableHistory& history, const TableBlockPlan& plan, const std::uint8_t* lengths) {
  out.Put(plan.Audio ? 1 : 0, 1);
  out.Put(plan.Keep ? 1 : 0, 1);
  if (plan.Audio) out.Put(plan.Channels - 1, kChannelBits);
  for (std::uint8_t length : plan.PreLengths) out.Put(length, kPreLengthBits);
  std::uint16_t codes[kPreCodeAlphabet];
  AssignCanonicalCodes(plan.PreLengths, kPreCodeAlphabet, codes);
  for (const PreItem& item : plan.Items) {
    out.Put(codes[item.Symbol], plan.PreLengths[item.Symbol]);
    if (kPreExtraBits[item.Symbol] != 0) out.Put(item.Extra, kPreExtraBits[item.Symbol]);
  }
  const std::uint32_t positions = TablePositions(plan.Audio, plan.Channels);
  if (!plan.Keep) std::memset(history.Previous, 0, sizeof history.Previous);
  std::memcpy(history.Previous, lengths, positions);
  history.Audio = plan.Audio;
  history.Positions = positions;
}

}  // namespace korvane::pack
