// Starting a table block from the decoder's point of view: the symbol that announces it in
// the current tables, the block, and the codes the decoder then builds.
#include "pack/stream_state.h"

#include "pack/prefix_code.h"

namespace korvane::pack {

void StreamState::WriteTables(BitOutput& out, const TableBlockPlan& plan, const std::uint8_t* lengths) {
  const bool audio = plan.audio;
  const std::uint32_t channels = plan.channels;
  if (tablesSent) {
    // Every table we build codes this symbol, so the current ones have it.
    const std::uint32_t at = SwitchPosition();
    out.Put(codes[at], tables.previous[at]);
  }
  WriteTableBlock(out, tables, plan, lengths);
  tablesSent = true;
  if (audio) {
    for (std::uint32_t j = 0; j < channels; ++j)
      AssignCanonicalCodes(lengths + kAudioAlphabet * j, kAudioAlphabet, codes + kAudioAlphabet * j);
    if (audioChannel >= channels) audioChannel = 0;  // as the decoder does on reading the block
  } else {
    AssignCanonicalCodes(lengths, kMainAlphabet, codes);
    AssignCanonicalCodes(lengths + kMainAlphabet, kDistanceAlphabet, codes + kMainAlphabet);
    AssignCanonicalCodes(lengths + kMainAlphabet + kDistanceAlphabet, kRepeatLengthAlphabet,
                         codes + kMainAlphabet + kDistanceAlphabet);
  }
}

}  // namespace korvane::pack
