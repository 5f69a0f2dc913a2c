// Table blocks: the code lengths of new tables, run-length coded through the pre-code, either
// as they are or (keep flag) as differences from the previous block's lengths, whichever is
// smaller.
#pragma once
#include <cstdint>
#include <vector>

#include "pack/bit_output.h"
#include "unpack/format20_tables.h"

namespace korvane::pack {

// What the decoder knows of the last table block: its PreviousLengths (positions beyond the
// block's own size as our decoder leaves them) and the kind and size of that block.
struct TableHistory {
  std::uint8_t Previous[kTableLengthCount] = {};
  bool Audio = false;
  std::uint32_t Positions = 0;  // 0: no block yet in this stream
};

// A block's positions: 374 for a normal block, 257 per channel for a multimedia one.
inline std::uint32_t TablePositions(bool audio, std::uint32_t channels) {
  return audio ? static_cast<std::uint32_t>(kAudioAlphabet) * channels
               : static_cast<std::uint32_t>(kNormalBlockPositions);
}

// A table block worked out against the history as it stands: how its lengths are coded
// (pre-code items, each a symbol and its extra bits) and its size in bits.
struct TableBlockPlan {
  struct Item {
    std::uint8_t Symbol;
    std::uint8_t Extra;
  };
  bool Audio = false;
  std::uint32_t Channels = 1;
  bool Keep = false;
  std::vector<Item> Items;
  std::uint8_t PreLengths[kPreCodeAlphabet] = {};
  std::uint32_t Bits = 0;
};

TableBlockPlan PlanTableBlock(const TableHistory& history, bool audio, std::uint32_t channels,
                              const std::uint8_t* lengths);
inline std::uint32_t TableBlockBits(const TableHistory& history, bool audio, std::uint32_t channels,
                                    const std::uint8_t* lengths) {
  return PlanTableBlock(history, audio, channels, lengths).Bits;
}

// Writes the planned block (flags, channel count, pre-code, coded lengths) for the same
// lengths and history it was planned with, and records it in history.
void WriteTableBlock(BitOutput& out, TableHistory& history, const TableBlockPlan& plan, const std::uint8_t* lengths);

}  // namespace korvane::pack
