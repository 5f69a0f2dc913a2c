// Running counts after every piece make any stretch's counts one subtraction; the halving
// tries every piece boundary of a stretch.
#include "pack/block_split.h"

#include <cmath>
#include <vector>

namespace korvane::pack {
namespace {

// A table block as the splitter guesses its cost: flags and pre-code, then a few bits for
// every coded symbol.
constexpr double kTableBaseBits = 80;
constexpr double kTableBitsPerSymbol = 4;

// c * log2(c), from a table for the small counts that most symbols have.
double CountBits(std::uint32_t c) {
  static constexpr std::uint32_t kTabled = 4096;
  static const std::vector<float> table = [] {
    std::vector<float> t(kTabled);
    for (std::uint32_t i = 1; i < kTabled; ++i) t[i] = static_cast<float>(i * std::log2(static_cast<double>(i)));
    return t;
  }();
  return c < kTabled ? table[c] : c * std::log2(static_cast<double>(c));
}

}  // namespace

BlockSplitter::BlockSplitter(std::vector<std::uint32_t> tableEnds)
    : TableEnds(std::move(tableEnds)), Positions(TableEnds.back()), Prefix(Positions, 0) {}

void BlockSplitter::AddPiece(const std::uint32_t* counts) {
  const std::size_t last = Prefix.size() - Positions;
  Prefix.resize(Prefix.size() + Positions);
  for (std::uint32_t i = 0; i < Positions; ++i) Prefix[last + Positions + i] = Prefix[last + i] + counts[i];
  ++PieceCount;
}

double BlockSplitter::Cost(std::size_t a, std::size_t b) const {
  const std::uint32_t* from = &Prefix[a * Positions];
  const std::uint32_t* to = &Prefix[b * Positions];
  double bits = kTableBaseBits;
  std::uint32_t start = 0;
  for (const std::uint32_t end : TableEnds) {
    double total = 0, sum = 0;
    for (std::uint32_t i = start; i < end; ++i) {
      const std::uint32_t c = to[i] - from[i];
      if (c == 0) continue;
      total += c;
      sum += CountBits(c);
      bits += kTableBitsPerSymbol;
    }
    if (total > 0) bits += CountBits(static_cast<std::uint32_t>(total)) - sum;
    start = end;
  }
  return bits;
}

void BlockSplitter::SplitRange(std::size_t a, std::size_t b, std::vector<std::size_t>& starts) const {
  if (b - a < 2) return;
  double best = Cost(a, b);
  std::size_t at = 0;
  for (std::size_t k = a + 1; k < b; ++k) {
    const double cost = Cost(a, k) + Cost(k, b);
    if (cost < best) best = cost, at = k;
  }
  if (at == 0) return;
  SplitRange(a, at, starts);
  starts.push_back(at);
  SplitRange(at, b, starts);
}

void BlockSplitter::Counts(std::size_t a, std::size_t b, std::uint32_t* out) const {
  for (std::uint32_t i = 0; i < Positions; ++i) out[i] = Prefix[b * Positions + i] - Prefix[a * Positions + i];
}

std::vector<std::size_t> BlockSplitter::Split() const {
  std::vector<std::size_t> starts{0};
  SplitRange(0, PieceCount, starts);
  return starts;
}

}  // namespace korvane::pack
