// The multimedia predictor of format 2.0, in the two halves that the decoder (unpack/audio.h)
// and the packer run alike: predict a channel's next byte, then adapt to its residual.
#pragma once
#include <cstdint>

#include "unpack/format20_tables.h"

namespace korvane {
namespace audio_detail {

inline std::uint32_t Magnitude(std::int32_t v) {
  return v < 0 ? static_cast<std::uint32_t>(-v) : static_cast<std::uint32_t>(v);
}

inline std::int32_t AsSignedByte(std::uint32_t v) {
  return static_cast<std::int32_t>(static_cast<std::int8_t>(static_cast<std::uint8_t>(v)));
}

}  // namespace audio_detail

// The two halves of one byte of a channel, shared with the packer, which must run the same
// predictor on the original bytes. First: move the channel's history on and predict its next
// byte. The byte is then (prediction - symbol) AND 0xFF.
inline std::uint32_t PredictAudioByte(AudioChannelState& c, std::int32_t crossDelta) {
  c.SampleCount += 1;
  c.Delta[3] = c.Delta[2];
  c.Delta[2] = c.Delta[1];
  c.Delta[1] = c.PrevDelta - c.Delta[0];
  c.Delta[0] = c.PrevDelta;
  // Weights stay within -17..16 and deltas within -255..255, so the sum is far from overflow.
  const std::int32_t sum = 8 * c.PrevByte + c.Weight[0] * c.Delta[0] + c.Weight[1] * c.Delta[1] +
                           c.Weight[2] * c.Delta[2] + c.Weight[3] * c.Delta[3] + c.Weight[4] * crossDelta;
  return static_cast<std::uint32_t>(sum >> 3) & 0xFF;
}

// Second: learn from the byte's residual symbol and its value; crossDelta is the state's
// CrossDelta, read before and replaced after. Every 32 bytes of the channel one weight moves.
inline void AdaptAudioChannel(AudioChannelState& c, std::int32_t& crossDelta, std::uint32_t symbol, std::uint32_t out) {
  using audio_detail::AsSignedByte;
  using audio_detail::Magnitude;
  const std::int32_t e = 8 * AsSignedByte(symbol);
  c.ErrorSum[0] += Magnitude(e);
  c.ErrorSum[1] += Magnitude(e - c.Delta[0]);
  c.ErrorSum[2] += Magnitude(e + c.Delta[0]);
  c.ErrorSum[3] += Magnitude(e - c.Delta[1]);
  c.ErrorSum[4] += Magnitude(e + c.Delta[1]);
  c.ErrorSum[5] += Magnitude(e - c.Delta[2]);
  c.ErrorSum[6] += Magnitude(e + c.Delta[2]);
  c.ErrorSum[7] += Magnitude(e - c.Delta[3]);
  c.ErrorSum[8] += Magnitude(e + c.Delta[3]);
  c.ErrorSum[9] += Magnitude(e - crossDelta);
  c.ErrorSum[10] += Magnitude(e + crossDelta);

  const std::int32_t d = AsSignedByte(out - static_cast<std::uint32_t>(c.PrevByte));
  c.PrevDelta = d;
  crossDelta = d;
  c.PrevByte = static_cast<std::int32_t>(out);

  if ((c.SampleCount & 31) == 0) {
    std::uint32_t best = 0;
    for (std::uint32_t i = 1; i < 11; ++i)
      if (c.ErrorSum[i] < c.ErrorSum[best]) best = i;  // ties keep the lower index
    for (std::uint32_t& total : c.ErrorSum) total = 0;
    if (best != 0) {
      std::int32_t& weight = c.Weight[(best - 1) / 2];
      if (best & 1) {
        if (weight >= -16) weight -= 1;
      } else {
        if (weight < 16) weight += 1;
      }
    }
  }
}

}  // namespace korvane
