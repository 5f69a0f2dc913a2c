// The module player's records and operations: loading a Protracker module from memory,
// sequencing it tick by tick and mixing it into 44100 Hz 16-bit stereo blocks. Portable:
// the Windows wave output (StartMusic / StopMusic) is declared in player/wave_output.h.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

// <windows.h> maps FreeModule to FreeLibrary. On Windows include this header after it
// (player/wave_output.h does so) and the player's FreeModule keeps its name.
#ifdef FreeModule
#undef FreeModule
#endif

namespace korvane {

inline constexpr int kRowsPerPattern = 64;
inline constexpr int kOrderTableSize = 128;
inline constexpr int kDelayFrames = 1002;        // cross-feed delay between the two sides
inline constexpr int kBlockFrames = 22050;       // half a second at 44100 Hz
inline constexpr int kBlockBytes = kBlockFrames * 2 * 2;  // stereo, 16 bits
inline constexpr int kOutputRate = 44100;
inline constexpr int kVolumeLevels = 65;         // volumes 0 to 64
inline constexpr int kMaxChannels = 8;
static_assert(kBlockBytes == 88200);
static_assert(kDelayFrames < kBlockFrames, "the delay line is filled from one block's tail");

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

struct ModChannel {
  std::int32_t sample;
  std::int32_t position;  // 22.10 fixed point
  std::int32_t note;
  std::int32_t period;
  float frequency;        // Hz
  std::int32_t volume;
  std::int32_t mixVolume;
  std::int32_t portaTarget;
  std::int32_t portaSpeed;
  std::int32_t vibratoSpeed;
  std::int32_t vibratoDepth;
  std::int32_t tremoloSpeed;
  std::int32_t tremoloDepth;
  std::int32_t wavePos;
  std::int32_t waveNegative;
};

struct ModOutput;  // the Windows wave output's own state (player/wave_output.cpp)

// One instance per program (the installer's main window owns it). Everything the loader
// and StartMusic allocate is owned here and released by FreeModule or the destructor.
struct ModPlayer {
  char title[21] = {};
  std::int32_t songLength = 0;
  std::int32_t orderTable[kOrderTableSize] = {};
  std::int32_t patternCount = 0;
  // All cells of all patterns in one block: pattern p, row r, channel c is
  // patterns[(p * kRowsPerPattern + r) * channelCount + c].
  std::unique_ptr<ModCell[]> patterns;
  std::int32_t sampleSlots = 0;
  std::unique_ptr<ModSample[]> samples;  // slot 0 stays all zero
  void* waveOut = nullptr;               // the open HWAVEOUT, or none
  std::unique_ptr<ModChannel[]> channels;
  std::int32_t speed = 0, orderPos = 0, rowPos = 0, tick = 0, tempo = 0, samplesLeftInTick = 0;
  std::int32_t channelCount = 0;
  const ModCell* currentRow = nullptr;
  std::atomic<std::int32_t> playing{0};
  std::unique_ptr<std::int32_t[]> delayLeft, delayRight;
  std::int32_t volumeTable[kVolumeLevels][256] = {};

  // Our own additions.
  char signature[5] = {};         // the four signature bytes, or empty for the 15-sample layout
  std::int32_t currentOrder = 0;  // order position currentRow was fetched from (pattern break)
  // The block's two accumulators, allocated with the delay lines so that a render on the
  // audio thread never allocates.
  std::unique_ptr<std::int32_t[]> mixLeft, mixRight;
  std::unique_ptr<std::int16_t[]> mixOut;  // the block's interleaved samples before byte order
  // The wave output's state while a device is open; released through releaseOutput, which
  // StartMusic sets, so that the portable FreeModule needs no Windows code.
  ModOutput* output = nullptr;
  void (*releaseOutput)(ModPlayer&) = nullptr;

  ModPlayer() = default;
  ModPlayer(const ModPlayer&) = delete;
  ModPlayer& operator=(const ModPlayer&) = delete;
  ~ModPlayer();
};

// Loader. Returns 1 when the module was loaded, 0 when it was refused (shorter than its
// header, or memory ran out); a refused load leaves the record freed. The bytes are only
// read, and only within [data, data + size).
int LoadModule(ModPlayer& player, const std::uint8_t* data, std::size_t size);
inline int LoadModule(ModPlayer& player, std::span<const std::uint8_t> bytes) {
  return LoadModule(player, bytes.data(), bytes.size());
}
// Releases everything LoadModule and StartMusic allocated (stopping the output first if
// it is still open). The record can be loaded again afterwards.
void FreeModule(ModPlayer& player);
// Doubled big-endian word at cursor; advances the cursor by 2. The caller has checked
// that two bytes are there.
std::int32_t ReadWordLength(const std::uint8_t* module, std::size_t& cursor);
// Note index of a period: 8 + 96 * log2(856 / period), rounded; -1 for period 0.
std::int32_t NoteFromPeriod(std::int32_t period);

// Sequencer.
std::int32_t SamplesPerTick(std::int32_t tempo);
void BeginTick(ModPlayer& player, std::int32_t framesPerTick);
void StartRow(ModPlayer& player);
void TickEffects(ModPlayer& player);
void SlideVolume(int channel, std::int32_t delta, ModPlayer& player);
void TonePortamento(int channel, ModPlayer& player);
void Vibrato(int channel, ModPlayer& player);
void Tremolo(int channel, ModPlayer& player);
// Period at a note index plus finetune, the index limited to the table.
std::int32_t PeriodAt(std::int32_t index);

// Playback state. ResetPlayState puts the song at its beginning with silent channels and
// empty delay lines, as StartMusic does before its first render, and allocates the delay
// lines and accumulators; returns 1, or 0 when memory ran out or nothing is loaded.
int ResetPlayState(ModPlayer& player);

// Mixer. RenderBlock writes kBlockBytes of interleaved little-endian 16-bit PCM; it returns
// 0 (and writes silence) when the play state was not reset or nothing is loaded.
int RenderBlock(ModPlayer& player, std::uint8_t* pcm);
void MixChannels(std::int32_t* left, std::int32_t* right, int frames, ModPlayer& player);
void BuildVolumeTable(std::int32_t step, ModPlayer& player);

// Frames of one pass through the song from its beginning: until a row is fetched a second
// time, with tick lengths exactly as RenderBlock produces them. Runs the sequencer on the
// given record (which it leaves reset). Returns 0 when no repeat came within maxFrames.
std::int64_t MeasureSongFrames(ModPlayer& player, std::int64_t maxFrames);

}  // namespace korvane
