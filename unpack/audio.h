// The multimedia decoder of format 2.0: turns one residual symbol of the current channel
// back into the output byte and adapts that channel's weights every 32 of its bytes.
#pragma once
#include <cstdint>

#include "unpack/audio_predictor.h"
#include "unpack/unpack_state.h"

namespace korvane {

// symbol: 0 to 255 from the current channel's table. Uses AudioStates[AudioChannel] and
// CrossDelta; the caller stores the byte and advances AudioChannel. Inline: it runs once per
// output byte in multimedia mode.
inline std::uint8_t DecodeAudioByte(UnpackState& state, std::uint32_t symbol) {
  AudioChannelState& c = state.AudioStates[static_cast<std::uint32_t>(state.AudioChannel) & 3];
  const std::uint32_t out = (PredictAudioByte(c, state.CrossDelta) - symbol) & 0xFF;
  AdaptAudioChannel(c, state.CrossDelta, symbol, out);
  return static_cast<std::uint8_t>(out);
}

}  // namespace korvane
