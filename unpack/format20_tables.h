// Format 2.0's sizes that the unpacker and the packer share: the window, the alphabets of its
// prefix codes, the length table a table block sends, and the multimedia predictor's state per
// channel. Neither side's working state is here, so the packer needs nothing of the decoder's.
#pragma once
#include <cstddef>
#include <cstdint>

namespace korvane {

inline constexpr std::uint32_t kWindowSize = 0x100000;  // 1 MiB: the farthest distance reaches this far back
inline constexpr std::uint32_t WindowMask = kWindowSize - 1;
static_assert(WindowMask == 0xFFFFF);

inline constexpr std::size_t kMainAlphabet = 298;
inline constexpr std::size_t kDistanceAlphabet = 48;
inline constexpr std::size_t kRepeatLengthAlphabet = 28;
inline constexpr std::size_t kPreCodeAlphabet = 19;
inline constexpr std::size_t kAudioAlphabet = 257;
inline constexpr std::size_t kMaxAudioChannels = 4;
inline constexpr std::size_t kTableLengthCount = kAudioAlphabet * kMaxAudioChannels;  // 1028
inline constexpr std::size_t kNormalBlockPositions = kMainAlphabet + kDistanceAlphabet + kRepeatLengthAlphabet;
static_assert(kNormalBlockPositions == 374 && kTableLengthCount == 1028);

// One channel of the multimedia predictor, run alike by the decoder and the encoder.
struct AudioChannelState {
  std::int32_t Weight[5];
  std::int32_t Delta[4];
  std::int32_t PrevDelta;
  std::uint32_t ErrorSum[11];
  std::uint32_t SampleCount;
  std::int32_t PrevByte;
};

}  // namespace korvane
