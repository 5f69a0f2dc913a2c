// Table blocks: the code lengths of new tables, run-length coded through the pre-code, either
// as they are or (keep flag) as differences from the previous block's lengths, whichever is
// smaller.
#pragma once
#include <cstdint>

#include "pack/bit_output.h"
#include "unpack/unpack_state.h"

namespace korvane::pack {

// What the decoder knows of the last table block: its PreviousLengths (positions beyond the
// block's own size as our decoder leaves them) and the kind and size of that block.
struct TableHistory {
  std::uint8_t previous[kTableLengthCount] = {};
  bool audio = false;
  std::uint32_t positions = 0;  // 0: no block yet in this stream
};

// A block's positions: 374 for a normal block, 257 per channel for a multimedia one.
inline std::uint32_t TablePositions(bool audio, std::uint32_t channels) {
  return audio ? static_cast<std::uint32_t>(kAudioAlphabet) * channels : static_cast<std::uint32_t>(kNormalBlockPositions);
}

// Bits that WriteTableBlock would write for these lengths now.
std::uint32_t TableBlockBits(const TableHistory& history, bool audio, std::uint32_t channels,
                             const std::uint8_t* lengths);

// Writes the block (flags, channel count, pre-code, coded lengths) and records it in history.
void WriteTableBlock(BitOutput& out, TableHistory& history, bool audio, std::uint32_t channels,
                     const std::uint8_t* lengths);

}  // namespace korvane::pack
