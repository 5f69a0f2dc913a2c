// Multimedia blocks: the predictor of the decoder run on the original bytes gives each byte's
// residual symbol, and those are coded with one table per channel.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pack/bit_output.h"
#include "pack/stream_state.h"

namespace korvane::pack {

struct ChannelChoice {
  std::uint32_t Channels = 1;
  double ResidualBits = 8;  // estimated bits per byte of the residuals with that many channels
  double PlainBits = 8;     // the same for the bytes themselves
};

// The channel count (1 to 4) whose residuals look cheapest for these bytes, judged on their
// first 64 KiB from the predictor's current state.
ChannelChoice ChooseAudioChannels(const StreamState& state, const std::uint8_t* data, std::size_t count);

// What coding the bytes in multimedia blocks of `channels` channels would cost: the bits of
// each piece of `piece` bytes, priced with the residuals' statistics over all the bytes, and
// the bits of one table block for those statistics.
struct AudioEstimate {
  std::vector<double> PieceBits;
  double TableBits = 0;
};
AudioEstimate EstimateAudio(const StreamState& state, const std::uint8_t* data, std::size_t count,
                            std::uint32_t channels, std::size_t piece);

// Codes the bytes in multimedia blocks of the given channel count, ending blocks where the
// splitter finds it pays (effort 0..2 tries finer pieces), and advances the predictor.
void WriteAudioStretch(BitOutput& out, StreamState& state, const std::uint8_t* data, std::size_t count,
                       std::uint32_t channels, int effort);

}  // namespace korvane::pack
