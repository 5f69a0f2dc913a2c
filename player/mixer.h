// The mixer: reads the voices the sequencer set and adds each channel's sample to its side,
// crosses each side into the other 1002 frames later and clips to 16 bits, one half-second
// block of 44100 Hz 16-bit stereo at a time.
#pragma once
#include <cstdint>
#include <memory>

#include "player/sequencer.h"
#include "player/song.h"

namespace korvane {

inline constexpr int kDelayFrames = 1002;        // cross-feed delay between the two sides
inline constexpr int kBlockFrames = 22050;       // half a second at 44100 Hz
inline constexpr int kBlockBytes = kBlockFrames * 2 * 2;  // stereo, 16 bits
inline constexpr int kVolumeLevels = 65;         // volumes 0 to 64
static_assert(kBlockBytes == 88200);
static_assert(kDelayFrames < kBlockFrames, "the delay line is filled from one block's tail");
static_assert(kBlockFrames * 2 == kOutputRate, "a block is half a second");

// The delay lines that carry one block's tail into the next, the volume table, and the
// block's accumulators, allocated with the delay lines so that a render never allocates.
struct MixState {
  std::unique_ptr<std::int32_t[]> delayLeft, delayRight;
  std::int32_t volumeTable[kVolumeLevels][256] = {};
  std::unique_ptr<std::int32_t[]> mixLeft, mixRight;
  std::unique_ptr<std::int16_t[]> mixOut;  // the block's interleaved samples before byte order
};

void BuildVolumeTable(std::int32_t step, MixState& mixer);
// Adds frames frames of every voice into left and right (which it clears first) and moves
// each voice's position on.
void MixChannels(std::int32_t* left, std::int32_t* right, int frames, const ModSong& song, ModChannel* voices,
                 const MixState& mixer);

}  // namespace korvane
