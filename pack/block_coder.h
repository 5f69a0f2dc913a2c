// LZ blocks: symbol counts of tokens, where new tables pay for themselves, and writing the
// tokens with the tables of their block.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pack/bit_output.h"
#include "pack/stream_state.h"
#include "pack/token.h"

namespace korvane::pack {

// Counts over the 374 positions of a normal table block.
struct LzCounts {
  std::uint32_t Counts[kNormalBlockPositions] = {};
  void Add(const Token& t);
  void Add(const LzCounts& other) {
    for (std::size_t i = 0; i < kNormalBlockPositions; ++i) Counts[i] += other.Counts[i];
  }
};

// Code lengths for counts; the table block symbol always gets a code, so that another block
// can follow (also in the next entry of a solid stream).
void BuildLzLengths(LzCounts counts, std::uint8_t* lengths);

// A stretch of tokens to be coded with one set of tables, and its counts.
struct LzBlock {
  std::size_t Begin, End;
  LzCounts Counts;
};

// The tokens cut into blocks: a new block wherever the estimated saving of fitted tables
// beats the cost of sending them. effort 0..2 tries finer pieces.
std::vector<LzBlock> SplitLzBlocks(const std::vector<Token>& tokens, int effort);

// Writes a block: with the current tables when they code every symbol and are cheaper than
// new ones counting the block that sends them, else with new tables. Returns the lengths the
// block was written with.
const std::uint8_t* WriteLzBlock(BitOutput& out, StreamState& state, const Token* tokens, const LzBlock& block);

}  // namespace korvane::pack
