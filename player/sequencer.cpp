// The sequencer: row fetching and every effect command, leaving in each voice the frequency
// and mixVolume the mixer reads.
#include "player/sequencer.h"

#include <cstdint>

namespace korvane {
namespace {

// Index 8 + 8k is the k-th semitone above period 856 at finetune 0; one step is an eighth.
constexpr std::int16_t kPeriodTable[] = {
    907, 900, 894, 887, 881, 875, 868, 862, 856, 850, 844, 838, 832, 826, 820, 814,
    808, 802, 796, 791, 785, 779, 774, 768, 762, 757, 752, 746, 741, 736, 730, 725,
    720, 715, 709, 704, 699, 694, 689, 684, 678, 675, 670, 665, 660, 655, 651, 646,
    640, 636, 632, 628, 623, 619, 614, 610, 604, 601, 597, 592, 588, 584, 580, 575,
    570, 567, 563, 559, 555, 551, 547, 543, 538, 535, 532, 528, 524, 520, 516, 513,
    508, 505, 502, 498, 494, 491, 487, 484, 480, 477, 474, 470, 467, 463, 460, 457,
    453, 450, 447, 444, 441, 437, 434, 431, 428, 425, 422, 419, 416, 413, 410, 407,
    404, 401, 398, 395, 392, 390, 387, 384, 381, 379, 376, 373, 370, 368, 365, 363,
    360, 357, 355, 352, 350, 347, 345, 342, 339, 337, 335, 332, 330, 328, 325, 323,
    320, 318, 316, 314, 312, 309, 307, 305, 302, 300, 298, 296, 294, 292, 290, 288,
    285, 284, 282, 280, 278, 276, 274, 272, 269, 268, 266, 264, 262, 260, 258, 256,
    254, 253, 251, 249, 247, 245, 244, 242, 240, 238, 237, 235, 233, 232, 230, 228,
    226, 225, 223, 222, 220, 219, 217, 216, 214, 212, 211, 209, 208, 206, 205, 203,
    202, 200, 199, 198, 196, 195, 193, 192, 190, 189, 188, 187, 185, 184, 183, 181,
    180, 179, 177, 176, 175, 174, 172, 171, 170, 169, 167, 166, 165, 164, 163, 161,
    160, 159, 158, 157, 156, 155, 154, 152, 151, 150, 149, 148, 147, 146, 145, 144,
    143, 142, 141, 140, 139, 138, 137, 136, 135, 134, 133, 132, 131, 130, 129, 128,
    127, 126, 125, 125, 123, 123, 122, 121, 120, 119, 118, 118, 117, 116, 115, 114,
    113, 113, 112, 111, 110, 109, 109, 108,
};
constexpr int kPeriodCount = sizeof(kPeriodTable) / sizeof(kPeriodTable[0]);
static_assert(kPeriodCount == 296);
static_assert(kPeriodTable[8] == 856 && kPeriodTable[104] == 428 && kPeriodTable[200] == 214 &&
              kPeriodTable[288] == 113);

// One half of a sine wave, 255 * sin(pi * i / 32); waveNegative supplies the other half.
constexpr std::uint8_t kVibratoSine[] = {
    0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
    255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24,
};
static_assert(sizeof(kVibratoSine) == 32);

constexpr float kAmigaClock = 3579545.25f;
constexpr std::int32_t kSlideUpLimit = 54;
// Slides down and fine slides have no written limit; this bound only keeps the integer
// from overflowing after days of sliding, far beyond any audible period.
constexpr std::int64_t kPeriodBound = 1 << 30;

void SetFrequency(ModChannel& ch, std::int32_t period) {
  if (period > 0) ch.frequency = kAmigaClock / static_cast<float>(period);
}

std::int32_t AddToPeriod(std::int32_t period, std::int32_t delta) {
  std::int64_t p = static_cast<std::int64_t>(period) + delta;
  if (p > kPeriodBound) p = kPeriodBound;
  if (p < -kPeriodBound) p = -kPeriodBound;
  return static_cast<std::int32_t>(p);
}

std::int32_t FinetuneOf(const ModSong& song, std::int32_t slot) { return song.samples[slot].finetune; }

void AdvanceWave(ModChannel& ch, std::int32_t speed) {
  ch.wavePos += speed;
  if (ch.wavePos > 31) {
    ch.wavePos -= 32;
    ch.waveNegative = !ch.waveNegative;
  }
}

void StartRowCommand(PlayState& state, ModSong& song, ModChannel& ch, const ModCell& cell) {
  const std::int32_t x = cell.param >> 4;
  const std::int32_t y = cell.param & 0x0F;
  switch (cell.command) {
    case 0x3:
    case 0x5:
      // The cell's own slot, not the channel's: a porta without a sample number uses slot 0.
      ch.portaTarget = PeriodAt(FinetuneOf(song, cell.sample) + ch.note);
      if (cell.command == 0x3 && cell.param >= 1) ch.portaSpeed = cell.param;
      break;
    case 0x4:
      if (x > 0) ch.vibratoSpeed = x;
      if (y > 0) ch.vibratoDepth = y;
      break;
    case 0x7:
      if (x > 0) ch.tremoloSpeed = x;
      if (y > 0) ch.tremoloDepth = y;
      break;
    case 0x9:
      ch.position = cell.param << 18;  // param * 256 frames in 22.10
      break;
    case 0xB:
      state.orderPos = cell.param < song.songLength ? cell.param : 0;
      state.rowPos = 0;
      break;
    case 0xC:
      ch.volume = cell.param > 64 ? 64 : cell.param;
      ch.mixVolume = ch.volume;
      break;
    case 0xD: {
      const std::int32_t row = 10 * x + y;
      state.rowPos = row > 63 ? 0 : row;
      const std::int32_t next = state.currentOrder + 1;
      state.orderPos = next >= song.songLength ? 0 : next;
      break;
    }
    case 0xE:
      switch (x) {
        case 0x1: ch.period = AddToPeriod(ch.period, -y); break;
        case 0x2: ch.period = AddToPeriod(ch.period, y); break;
        // Kept in the sample record for the rest of the run, as the module expects.
        case 0x5: song.samples[cell.sample].finetune = y > 7 ? y - 16 : y; break;
        case 0xA: SlideVolume(ch, y); ch.mixVolume = ch.volume; break;
        case 0xB: SlideVolume(ch, -y); ch.mixVolume = ch.volume; break;
        default: break;
      }
      break;
    case 0xF:
      if (cell.param >= 32) {
        state.tempo = cell.param;
      } else {
        state.speed = cell.param;
      }
      break;
    default:
      break;
  }
}

}  // namespace

std::int32_t PeriodAt(std::int32_t index) {
  if (index < 0) index = 0;
  if (index >= kPeriodCount) index = kPeriodCount - 1;
  return kPeriodTable[index];
}

std::int32_t SamplesPerTick(std::int32_t tempo) {
  std::int32_t ticksPerSecond = (2 * tempo) / 5;
  if (ticksPerSecond < 1) ticksPerSecond = 1;  // tempo never falls below 32; guard the division
  return kOutputRate / ticksPerSecond;
}

void SlideVolume(ModChannel& ch, std::int32_t delta) {
  std::int32_t v = ch.volume + delta;
  ch.volume = v < 0 ? 0 : (v > 64 ? 64 : v);
}

void TonePortamento(ModChannel& ch) {
  if (ch.period < ch.portaTarget) {
    ch.period = AddToPeriod(ch.period, ch.portaSpeed);
    if (ch.period > ch.portaTarget) ch.period = ch.portaTarget;
  } else if (ch.period > ch.portaTarget) {
    ch.period = AddToPeriod(ch.period, -ch.portaSpeed);
    if (ch.period < ch.portaTarget) ch.period = ch.portaTarget;
  }
  SetFrequency(ch, ch.period);
}

void Vibrato(ModChannel& ch) {
  const std::int32_t d = (kVibratoSine[ch.wavePos] * ch.vibratoDepth) >> 7;
  SetFrequency(ch, ch.waveNegative ? ch.period - d : ch.period + d);
  AdvanceWave(ch, ch.vibratoSpeed);
}

void Tremolo(ModChannel& ch) {
  const std::int32_t d = (kVibratoSine[ch.wavePos] * ch.tremoloDepth) >> 6;
  if (!ch.waveNegative) {
    ch.mixVolume = ch.volume + d > 64 ? 64 : ch.volume + d;
  } else {
    ch.mixVolume = ch.volume - d < 0 ? 0 : ch.volume - d;
  }
  AdvanceWave(ch, ch.tremoloSpeed);
}

void StartRow(PlayState& state, ModSong& song) {
  for (int c = 0; c < song.channelCount; ++c) {
    const ModCell& cell = state.currentRow[c];
    ModChannel& ch = state.channels[c];
    const bool porta = cell.command == 0x3 || cell.command == 0x5;
    if (cell.sample > 0) {
      ch.sample = cell.sample;
      const std::int32_t volume = song.samples[cell.sample].volume;
      ch.volume = volume > 64 ? 64 : volume;
      ch.mixVolume = ch.volume;
      if (!porta) ch.position = 0;
    }
    if (cell.note >= 0) {
      ch.note = cell.note;
      if (!porta) ch.period = PeriodAt(FinetuneOf(song, ch.sample) + cell.note);
      if (cell.sample == 0 && cell.command == 0) ch.position = 0;
      ch.vibratoSpeed = ch.vibratoDepth = 0;
      ch.tremoloSpeed = ch.tremoloDepth = 0;
      ch.wavePos = ch.waveNegative = 0;
    }
    StartRowCommand(state, song, ch, cell);
    SetFrequency(ch, ch.period);
  }
}

void TickEffects(PlayState& state, const ModSong& song) {
  for (int c = 0; c < song.channelCount; ++c) {
    const ModCell& cell = state.currentRow[c];
    ModChannel& ch = state.channels[c];
    const std::int32_t x = cell.param >> 4;
    const std::int32_t y = cell.param & 0x0F;
    switch (cell.command) {
      case 0x0:
        if (cell.param != 0) {
          const std::int32_t base = FinetuneOf(song, ch.sample) + ch.note;
          switch (state.tick % 3) {
            case 0: SetFrequency(ch, ch.period); break;
            case 1: SetFrequency(ch, PeriodAt(base + 8 * x)); break;
            default: SetFrequency(ch, PeriodAt(base + 8 * y)); break;
          }
        }
        break;
      case 0x1:
        ch.period = AddToPeriod(ch.period, -cell.param);
        if (ch.period < kSlideUpLimit) ch.period = kSlideUpLimit;
        SetFrequency(ch, ch.period);
        break;
      case 0x2:
        ch.period = AddToPeriod(ch.period, cell.param);
        SetFrequency(ch, ch.period);
        break;
      case 0x3: TonePortamento(ch); break;
      case 0x4: Vibrato(ch); break;
      case 0x5:
        TonePortamento(ch);
        SlideVolume(ch, x - y);
        ch.mixVolume = ch.volume;
        break;
      case 0x6:
        Vibrato(ch);
        SlideVolume(ch, x - y);
        ch.mixVolume = ch.volume;
        break;
      case 0x7: Tremolo(ch); break;
      case 0xA:
        SlideVolume(ch, x - y);
        ch.mixVolume = ch.volume;
        break;
      case 0xE:
        if (x == 0xC && y == state.tick) ch.volume = ch.mixVolume = 0;
        break;
      default:
        break;
    }
  }
}

void BeginTick(PlayState& state, ModSong& song, std::int32_t framesPerTick) {
  if (state.tick == 0) {
    state.currentRow = song.Row(state.orderPos, state.rowPos);
    state.currentOrder = state.orderPos;
    if (++state.rowPos >= kRowsPerPattern) {
      state.rowPos = 0;
      if (++state.orderPos >= song.songLength) state.orderPos = 0;
    }
    StartRow(state, song);
  } else {
    TickEffects(state, song);
  }
  if (++state.tick >= state.speed) state.tick = 0;
  state.samplesLeftInTick = framesPerTick;
}

}  // namespace korvane
