// What the decoder will hold at the current point of the stream, as the packer must know it:
// the tables of the last table block, the match history and the multimedia predictor. It
// carries from entry to entry of a solid stream, as the decoder's UnpackState does.
#pragma once
#include <cstdint>

#include "pack/bit_output.h"
#include "pack/table_block.h"
#include "pack/token.h"
#include "unpack/format20_codes.h"

namespace korvane::pack {

struct StreamState {
  TableHistory Tables;  // its Previous[] are the current code lengths
  std::uint16_t Codes[kTableLengthCount] = {};
  bool TablesSent = false;  // the decoder has read a table block in this stream
  MatchHistory Matches;
  AudioChannelState Audio[kMaxAudioChannels] = {};
  std::int32_t CrossDelta = 0;
  std::uint32_t AudioChannel = 0;  // channel of the next multimedia byte

  bool AudioMode() const { return Tables.Audio; }
  std::uint32_t Channels() const {
    return Tables.Audio ? Tables.Positions / static_cast<std::uint32_t>(kAudioAlphabet) : 0;
  }
  const std::uint8_t* Lengths() const { return Tables.Previous; }

  // The symbol that announces a table block, in the table the decoder reads next.
  std::uint32_t SwitchPosition() const {
    return Tables.Audio ? static_cast<std::uint32_t>(kAudioAlphabet) * AudioChannel + format20::kAudioTableBlockSymbol
                        : format20::kTableBlockSymbol;
  }
  std::uint32_t SwitchBits() const { return Tables.Previous[SwitchPosition()]; }

  // Starts a table block: the announcing symbol unless this is the stream's first block
  // (which the decoder reads without one), then the block itself, as planned for lengths.
  void WriteTables(BitOutput& out, const TableBlockPlan& plan, const std::uint8_t* lengths);
  void WriteTables(BitOutput& out, bool audio, std::uint32_t channels, const std::uint8_t* lengths) {
    WriteTables(out, PlanTableBlock(Tables, audio, channels, lengths), lengths);
  }
};

}  // namespace korvane::pack
