// LZ blocks: counts by table position, block ends from the splitter over pieces of tokens,
// and the tokens written with the tables of their block.
#include "pack/block_coder.h"

#include <algorithm>

#include "pack/block_split.h"
#include "pack/prefix_code.h"

namespace korvane::pack {
namespace {

using format20::kDistanceExtraBits;
using format20::kLengthBase;
using format20::kLengthExtraBits;
using format20::kShortDistanceBase;
using format20::kShortDistanceExtraBits;

constexpr std::uint32_t kDistanceAt = kMainAlphabet;
constexpr std::uint32_t kRepeatLengthAt = kMainAlphabet + kDistanceAlphabet;

void WriteTokens(BitOutput& out, const StreamState& state, const Token* tokens, std::size_t count) {
  const std::uint8_t* lengths = state.Lengths();
  const std::uint16_t* codes = state.Codes;
  for (std::size_t i = 0; i < count; ++i) {
    const Token& t = tokens[i];
    out.Put(codes[t.Symbol], lengths[t.Symbol]);
    if (t.Symbol < 256 || t.Symbol == format20::kRepeatLastSymbol) continue;
    if (t.Symbol >= format20::kLongMatchSymbol) {
      const std::uint32_t k = t.Symbol - format20::kLongMatchSymbol;
      out.Put(t.Length - ShortestLongMatch(t.Value) - kLengthBase[k], kLengthExtraBits[k]);
      const std::uint32_t value = t.Value - 1;
      const std::uint32_t d = DistanceCode(value);
      out.Put(codes[kDistanceAt + d], lengths[kDistanceAt + d]);
      out.Put(value - format20::kDistanceBase[d], kDistanceExtraBits[d]);
    } else if (t.Symbol < format20::kShortMatchSymbol) {
      const std::uint32_t value = t.Length - ShortestRecentMatch(t.Value);
      const std::uint32_t k = LengthCode(value);
      out.Put(codes[kRepeatLengthAt + k], lengths[kRepeatLengthAt + k]);
      out.Put(value - kLengthBase[k], kLengthExtraBits[k]);
    } else {
      const std::uint32_t k = t.Symbol - format20::kShortMatchSymbol;
      out.Put(t.Value - 1 - kShortDistanceBase[k], kShortDistanceExtraBits[k]);
    }
  }
}

}  // namespace

void LzCounts::Add(const Token& t) {
  ++Counts[t.Symbol];
  if (t.Symbol >= format20::kLongMatchSymbol) {
    ++Counts[kDistanceAt + DistanceCode(t.Value - 1)];
  } else if (t.Symbol > format20::kRepeatLastSymbol && t.Symbol < format20::kShortMatchSymbol) {
    ++Counts[kRepeatLengthAt + LengthCode(t.Length - ShortestRecentMatch(t.Value))];
  }
}

void BuildLzLengths(LzCounts counts, std::uint8_t* lengths) {
  counts.Counts[format20::kTableBlockSymbol] = std::max(counts.Counts[format20::kTableBlockSymbol], 1u);
  BuildCodeLengths(counts.Counts, kMainAlphabet, kMaxCodeLength, lengths);
  BuildCodeLengths(counts.Counts + kDistanceAt, kDistanceAlphabet, kMaxCodeLength, lengths + kDistanceAt);
  BuildCodeLengths(counts.Counts + kRepeatLengthAt, kRepeatLengthAlphabet, kMaxCodeLength, lengths + kRepeatLengthAt);
}

std::vector<LzBlock> SplitLzBlocks(const std::vector<Token>& tokens, int effort) {
  static constexpr std::size_t kPiece[3] = {32768, 8192, 2048};
  const std::size_t piece = kPiece[std::clamp(effort, 0, 2)];
  BlockSplitter splitter({kDistanceAt, kRepeatLengthAt, kNormalBlockPositions});
  for (std::size_t begin = 0; begin < tokens.size(); begin += piece) {
    LzCounts counts;
    for (std::size_t i = begin; i < std::min(tokens.size(), begin + piece); ++i) counts.Add(tokens[i]);
    splitter.AddPiece(counts.Counts);
  }
  std::vector<std::size_t> starts = splitter.Split();
  starts.push_back(splitter.Pieces());
  std::vector<LzBlock> blocks;
  for (std::size_t b = 0; b + 1 < starts.size(); ++b) {
    LzBlock& block = blocks.emplace_back();
    block.Begin = starts[b] * piece;
    block.End = std::min(tokens.size(), starts[b + 1] * piece);
    splitter.Counts(starts[b], starts[b + 1], block.Counts.Counts);
  }
  return blocks;
}

const std::uint8_t* WriteLzBlock(BitOutput& out, StreamState& state, const Token* tokens, const LzBlock& block) {
  const LzCounts& counts = block.Counts;
  std::uint8_t lengths[kNormalBlockPositions];
  BuildLzLengths(counts, lengths);

  const TableBlockPlan plan = PlanTableBlock(state.Tables, false, 1, lengths);
  bool reuse = false;
  if (state.TablesSent && !state.AudioMode()) {
    const std::uint8_t* current = state.Lengths();
    reuse = true;
    for (std::size_t i = 0; i < kNormalBlockPositions && reuse; ++i) reuse = counts.Counts[i] == 0 || current[i] != 0;
    if (reuse) {
      const std::uint64_t withCurrent = CodedBits(counts.Counts, current, kNormalBlockPositions);
      const std::uint64_t withNew =
          CodedBits(counts.Counts, lengths, kNormalBlockPositions) + state.SwitchBits() + plan.Bits;
      reuse = withCurrent <= withNew;
    }
  }
  if (!reuse) state.WriteTables(out, plan, lengths);
  WriteTokens(out, state, tokens + block.Begin, block.End - block.Begin);
  return state.Lengths();
}

}  // namespace korvane::pack
