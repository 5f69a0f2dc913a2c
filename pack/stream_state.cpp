// Starting a table block from the decoder's point of view: the symbol that announces it in
// the current tables, the block, and the codes the decoder then builds.
#include "pack/stream_state.h"

#include "pack/prefix_code.h"

namespace korvane::pack {

void StreamState::WriteTables(BitOutput& out, const TableBlockPlan& plan, const std::uint8_t* lengths) {
  const bool audio = plan.Audio;
  const std::uint32_t channels = plan.Channels;
  if (TablesSent) {
    // Every table we build codes this symbol, so the current ones have it.
    const std::uint32_t at = SwitchPosition();
    out.Put(Codes[at], Tables.Previous[at]);
  }
  WriteTableBlock(out, Tables, plan, lengths);
  TablesSent = true;
  if (audio) {
    for (std::uint32_t j = 0; j < channels; ++j)
      AssignCanonicalCodes(lengths + kAudioAlphabet * j, kAudioAlphabet, Codes + kAudioAlphabet * j);
    if (AudioChannel >= channels) AudioChannel = 0;  // as the decoder does on reading the block
  } else {
    AssignCanonicalCodes(lengths, kMainAlphabet, Codes);
    AssignCanonicalCodes(lengths + kMainAlphabet, kDistanceAlphabet, Codes + kMainAlphabet);
    AssignCanonicalCodes(lengths + kMainAlphabet + kDistanceAlphabet, kRepeatLengthAlphabet,
                         Codes + kMainAlphabet + kDistanceAlphabet);
  }
}

}  // namespace korvane::pack
