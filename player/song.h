// The loaded module: what LoadModule reads from a Protracker file. The sequencer and the
// mixer only read it, but for the finetune a set-finetune command changes for the rest of the
// run, as the module expects.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvane {

inline constexpr int kRowsPerPattern = 64;
inline constexpr int kOrderTableSize = 128;
inline constexpr int kMaxChannels = 8;

struct ModSample {
  char name[23];
  std::int32_t length;      // bytes (one byte is one frame)
  std::int32_t finetune;    // eighths of a semitone
  std::int32_t volume;      // as stored; limited to 64 where it is applied
  std::int32_t loopStart;   // bytes
  std::int32_t loopLength;  // bytes, as stored
  std::int32_t loopEnd;     // loopStart + loopLength, lowered to length
  // Non-zero when the mixer may wrap this sample: loopEnd above 2 bytes and a loop that
  // lies inside the data (see the loader for the loops that are played once instead).
  std::int32_t loops;
  // length + 1 bytes: the byte at loopEnd (looping) or the zero at length (one-shot) is
  // the partner the interpolation reads after the last played byte.
  std::unique_ptr<std::int8_t[]> data;
};

struct ModCell {
  std::int32_t sample;   // 0 = none, else a slot below sampleSlots
  std::int32_t note;     // eighths of a semitone from period 907; negative = no note
  std::int32_t command;  // 0 to 15
  std::int32_t param;    // 0 to 255
};

struct ModSong {
  char title[21] = {};
  char signature[5] = {};  // the four signature bytes, or empty for the 15-sample layout
  std::int32_t songLength = 0;
  std::int32_t orderTable[kOrderTableSize] = {};
  std::int32_t patternCount = 0;
  std::int32_t channelCount = 0;
  // All cells of all patterns in one block: pattern p, row r, channel c is
  // patterns[(p * kRowsPerPattern + r) * channelCount + c].
  std::unique_ptr<ModCell[]> patterns;
  std::int32_t sampleSlots = 0;
  std::unique_ptr<ModSample[]> samples;  // slot 0 stays all zero

  // The first cell of a row of the pattern at order position order.
  const ModCell* Row(std::int32_t order, std::int32_t row) const {
    const auto pattern = static_cast<std::size_t>(orderTable[order]);
    return &patterns[(pattern * kRowsPerPattern + static_cast<std::size_t>(row)) * static_cast<std::size_t>(channelCount)];
  }
};

// Doubled big-endian word at cursor; advances the cursor by 2. The caller has checked
// that two bytes are there.
std::int32_t ReadWordLength(const std::uint8_t* module, std::size_t& cursor);
// Note index of a period: 8 + 96 * log2(856 / period), rounded; -1 for period 0.
std::int32_t NoteFromPeriod(std::int32_t period);

}  // namespace korvane
