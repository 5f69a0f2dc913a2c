// Where a stretch of coded symbols should get new tables: pieces of the stretch are counted
// once, and the stretch is halved where the halves' estimated size (the entropy of their
// symbols plus a guess of their tables' cost) is smallest, for as long as that beats keeping
// the part whole.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane::pack {

class BlockSplitter {
 public:
  // tableEnds: where each table's positions end (the last is the number of positions).
  explicit BlockSplitter(std::vector<std::uint32_t> tableEnds);

  // The counts of the next piece, over all positions.
  void AddPiece(const std::uint32_t* counts);
  std::size_t Pieces() const { return PieceCount; }

  // Indexes of the pieces that start a block; the first is 0.
  std::vector<std::size_t> Split() const;
  // The counts of pieces [a, b), over all positions.
  void Counts(std::size_t a, std::size_t b, std::uint32_t* out) const;

 private:
  double Cost(std::size_t a, std::size_t b) const;
  void SplitRange(std::size_t a, std::size_t b, std::vector<std::size_t>& starts) const;

  std::vector<std::uint32_t> TableEnds;
  std::uint32_t Positions;
  std::size_t PieceCount = 0;
  std::vector<std::uint32_t> Prefix;  // running counts after each piece, Positions apiece
};

}  // namespace korvane::pack
