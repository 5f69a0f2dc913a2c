// The sequencer: the tick clock, row fetching and every effect command. It writes the voices
// (each channel's sample, place, frequency and mixVolume) that the mixer reads, and renders
// nothing itself.
#pragma once
#include <cstdint>

#include "player/song.h"

namespace korvane {

inline constexpr int kOutputRate = 44100;

// One voice: what the sequencer last set for a channel, and where the mixer has got to in its
// sample.
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

// Where the song stands and its voices; ResetPlayState puts it at the song's beginning.
struct PlayState {
  std::int32_t speed = 0, orderPos = 0, rowPos = 0, tick = 0, tempo = 0, samplesLeftInTick = 0;
  const ModCell* currentRow = nullptr;
  std::int32_t currentOrder = 0;  // order position currentRow was fetched from (pattern break)
  std::unique_ptr<ModChannel[]> channels;  // one per channel of the song
};

std::int32_t SamplesPerTick(std::int32_t tempo);
void BeginTick(PlayState& state, ModSong& song, std::int32_t framesPerTick);
void StartRow(PlayState& state, ModSong& song);
void TickEffects(PlayState& state, const ModSong& song);
void SlideVolume(ModChannel& channel, std::int32_t delta);
void TonePortamento(ModChannel& channel);
void Vibrato(ModChannel& channel);
void Tremolo(ModChannel& channel);
// Period at a note index plus finetune, the index limited to the table.
std::int32_t PeriodAt(std::int32_t index);

// The tick clock, which rendering and measuring both run so that a tempo change lands on the
// same frame in both. It walks up to frames frames of output, starting a tick whenever the
// current one has run out; the tick length is taken once per call (one block), so a tempo
// command takes effect from the next. beforeTick() is asked just before each tick begins and
// may stop the walk (false); run(offset, count) gets each stretch that lies within one tick.
// Returns the frames walked.
template <typename BeforeTick, typename RunFrames>
int RunTickClock(PlayState& state, ModSong& song, int frames, BeforeTick&& beforeTick, RunFrames&& run) {
  const std::int32_t framesPerTick = SamplesPerTick(state.tempo);
  int done = 0;
  while (done < frames) {
    if (state.samplesLeftInTick <= 0) {
      if (!beforeTick()) break;
      BeginTick(state, song, framesPerTick);
    }
    const int n = state.samplesLeftInTick < frames - done ? state.samplesLeftInTick : frames - done;
    state.samplesLeftInTick -= n;
    run(done, n);
    done += n;
  }
  return done;
}

}  // namespace korvane
