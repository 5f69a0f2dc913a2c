// The multimedia predictor of format 2.0: turns one residual symbol of the current channel
// back into the output byte and adapts that channel's weights every 32 of its bytes.
#pragma once
#include <cstdint>

#include "unpack/unpack_state.h"

namespace korvane {

// symbol: 0 to 255 from the current channel's table. Uses AudioStates[AudioChannel] and
// CrossDelta; the caller stores the byte and advances AudioChannel.
std::uint8_t DecodeAudioByte(UnpackState& state, std::uint32_t symbol);

}  // namespace korvane
