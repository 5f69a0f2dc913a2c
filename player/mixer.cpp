// The mixer: runs of resampling between the sequencer's ticks, each channel added to its side
// through the volume table, each side crossed into the other 1002 frames later, clipped to 16
// bits. Integer arithmetic throughout, except for the step.
#include "player/mixer.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "player/mod_player.h"

#if defined(__x86_64__) || defined(_M_X64)
// SSE2 is part of every x86-64 processor, so this path needs no run-time check; every other
// build (the 32-bit ones included) takes the plain loops, which give the same bits.
#define KORVANE_MIX_SSE2 1
#include <emmintrin.h>
#endif

namespace korvane {
namespace {

constexpr float kStepPerHertz = 0.0232199542f;  // 1024 / 44100, as 22.10 per frame
constexpr int kFractionBits = 10;
constexpr std::int32_t kFractionMask = (1 << kFractionBits) - 1;

// One channel adds at most 127 * 64 and at least -128 * 64 per frame; interpolating
// between two such values keeps that range, and the shift by 10 after a product of at most
// 8192 * 1024 stays far inside 32 bits.
static_assert(static_cast<std::int64_t>(128 * 64) * 1024 * 2 < (std::int64_t{1} << 31));

// The position moves by at most one step past the last frame of a run, and a run never
// starts at or beyond the end it measures to, so the highest position stays below
// 131070 * 1024 plus the largest step (period 1: about 83117), well inside 31 bits.
static_assert(static_cast<std::int64_t>(131070 + 1) * 1024 + 90000 < (std::int64_t{1} << 31));

// Mixes n frames whose every position stays below the run's end, so data[i + 1] is
// always the loop partner or the guard byte at most.
//
// The volume row holds v * b for every byte b (BuildVolumeTable's entries are exact
// multiples: b * (v * step) / step = b * v), so row[d0] * (1024 - f) + row[d1] * f equals
// v * (d0 * 1024 + (d1 - d0) * f) to the last bit, and so does v * d0 * (1024 - f) +
// v * d1 * f; the loops use the last two forms, which need no table loads. The row's own
// volume is row[1].
std::int32_t MixRun(std::int32_t* out, int n, std::int32_t pos, std::int32_t step,
                    const std::int8_t* data, const std::int32_t* row) {
  const std::int32_t volume = row[1];
  int k = 0;
#ifdef KORVANE_MIX_SSE2
  // Eight frames at a time. The two bytes each frame interpolates between are neighbours, so
  // one 16-bit load fetches both; pmaddwd then forms d0 * v * (1024 - f) + d1 * v * f per
  // frame from 16-bit pairs (|d * v| <= 8192 and both weights <= 1024 fit, and the sum of
  // the two products stays below 2^24), which is the scalar value exactly.
  const __m128i volume16 = _mm_set1_epi16(static_cast<short>(volume));
  const __m128i stepOffsets = _mm_setr_epi32(0, step, 2 * step, 3 * step);
  const __m128i fourSteps = _mm_set1_epi32(4 * step);
  const __m128i fractionMask = _mm_set1_epi32(kFractionMask);
  const __m128i one = _mm_set1_epi32(1 << kFractionBits);
  // Per frame the pair (1024 - f, f), in the order of the bytes (d0, d1) it weighs.
  auto weightsOf = [&](__m128i positions) {
    const __m128i f = _mm_and_si128(positions, fractionMask);
    return _mm_or_si128(_mm_slli_epi32(f, 16), _mm_sub_epi32(one, f));
  };
  auto pairsOf = [&] {
    std::uint64_t pairs = 0;
    for (int j = 0; j < 4; ++j) {
      std::uint16_t pair;
      std::memcpy(&pair, data + (pos >> kFractionBits), sizeof pair);
      pairs |= std::uint64_t{pair} << (16 * j);
      pos += step;
    }
    return pairs;
  };
  auto mix = [&](__m128i samples, __m128i weights, std::int32_t* at) {
    const __m128i mixed = _mm_srai_epi32(_mm_madd_epi16(_mm_mullo_epi16(samples, volume16), weights), kFractionBits);
    __m128i* dst = reinterpret_cast<__m128i*>(at);
    _mm_storeu_si128(dst, _mm_add_epi32(_mm_loadu_si128(dst), mixed));
  };
  for (; k + 8 <= n; k += 8) {
    const __m128i positions = _mm_add_epi32(_mm_set1_epi32(pos), stepOffsets);
    const std::uint64_t low = pairsOf();
    const std::uint64_t high = pairsOf();
    const __m128i bytes = _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
    // Each byte into the high half of its own 16-bit lane, then shifted down with its sign.
    mix(_mm_srai_epi16(_mm_unpacklo_epi8(bytes, bytes), 8), weightsOf(positions), out + k);
    mix(_mm_srai_epi16(_mm_unpackhi_epi8(bytes, bytes), 8), weightsOf(_mm_add_epi32(positions, fourSteps)), out + k + 4);
  }
#endif
  for (; k < n; ++k) {
    const std::int32_t i = pos >> kFractionBits;
    const std::int32_t f = pos & kFractionMask;
    const std::int32_t d0 = data[i];
    const std::int32_t d1 = data[i + 1];
    out[k] += (volume * (d0 * 1024 + (d1 - d0) * f)) >> kFractionBits;
    pos += step;
  }
  return pos;
}

// The same run without sound: a channel at volume 0 still moves through its sample.
std::int32_t SkipRun(int n, std::int32_t pos, std::int32_t step) { return pos + n * step; }

std::int16_t Clip(std::int32_t v) {
  return static_cast<std::int16_t>(std::min(std::max(v, -32768), 32767));
}

#ifdef KORVANE_MIX_SSE2
// Frames from to to - 1 of the block into the caller's bytes (x86 is little-endian), the
// other side's accumulator coming from crossLeft[i - from] and crossRight[i - from]. Eight
// frames at a time: the signed saturating pack is exactly the clip to 16 bits, and
// unpacking the two packed sides word by word interleaves them.
void CrossFeedToPcm(std::uint8_t* pcm, const std::int32_t* accLeft, const std::int32_t* accRight,
                    const std::int32_t* crossLeft, const std::int32_t* crossRight, int from, int to) {
  auto load = [](const std::int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  int i = from;
  for (; i + 8 <= to; i += 8) {
    const std::int32_t* cl = crossLeft + (i - from);
    const std::int32_t* cr = crossRight + (i - from);
    const __m128i l = _mm_packs_epi32(_mm_add_epi32(load(accLeft + i), load(cr)),
                                      _mm_add_epi32(load(accLeft + i + 4), load(cr + 4)));
    const __m128i r = _mm_packs_epi32(_mm_add_epi32(load(accRight + i), load(cl)),
                                      _mm_add_epi32(load(accRight + i + 4), load(cl + 4)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 4 * i), _mm_unpacklo_epi16(l, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 4 * i + 16), _mm_unpackhi_epi16(l, r));
  }
  for (; i < to; ++i) {
    const std::int16_t frame[2] = {Clip(accLeft[i] + crossRight[i - from]), Clip(accRight[i] + crossLeft[i - from])};
    std::memcpy(pcm + 4 * i, frame, sizeof frame);
  }
}
#endif

}  // namespace

void BuildVolumeTable(std::int32_t step, MixState& mixer) {
  if (step <= 0) step = 64;  // a scale without a step has no meaning; use the usual one
  for (int v = 0; v < kVolumeLevels; ++v)
    for (int b = 0; b < 256; ++b)
      mixer.volumeTable[v][b] = static_cast<std::int8_t>(b) * (v * step) / step;
}

void MixChannels(std::int32_t* left, std::int32_t* right, int frames, const ModSong& song, ModChannel* voices,
                 const MixState& mixer) {
  std::memset(left, 0, sizeof(std::int32_t) * frames);
  std::memset(right, 0, sizeof(std::int32_t) * frames);
  for (int c = 0; c < song.channelCount; ++c) {
    ModChannel& ch = voices[c];
    if (ch.sample <= 0 || ch.sample >= song.sampleSlots) continue;
    const ModSample& s = song.samples[ch.sample];
    if (!s.data) continue;
    const int side = c % 4;
    std::int32_t* out = (side == 0 || side == 3) ? left : right;
    const std::int32_t step = static_cast<std::int32_t>(ch.frequency * kStepPerHertz);
    // A sample given before any note has no pitch yet: silent, and it keeps its place.
    if (step <= 0) continue;
    std::int32_t volume = ch.mixVolume;
    volume = volume < 0 ? 0 : (volume > 64 ? 64 : volume);
    const std::int32_t* row = mixer.volumeTable[volume];
    const bool silent = volume == 0;
    std::int32_t pos = ch.position;

    if (s.loops) {
      const std::int32_t end = s.loopEnd << kFractionBits;
      const std::int32_t loopLength = s.loopLength << kFractionBits;
      const std::int32_t loopStart = end - loopLength;  // not below 0: the loader checked
      int remaining = frames;
      int k = 0;
      while (remaining > 0) {
        // However far past the end the position lies (a sample offset, or a sample swapped
        // under tone portamento), one reduction lands where repeated wraps would, and no
        // frame is ever taken from beyond the loop's end.
        if (pos >= end) pos = loopStart + (pos - loopStart) % loopLength;
        std::int32_t n = (end - pos - 1) / step + 1;
        if (n > remaining) n = remaining;
        pos = silent ? SkipRun(n, pos, step) : MixRun(out + k, n, pos, step, s.data.get(), row);
        k += n;
        remaining -= n;
      }
    } else {
      const std::int32_t length = s.length << kFractionBits;
      if (pos >= 0 && pos < length) {
        std::int32_t n = (length - pos - 1) / step + 1;
        if (n > frames) n = frames;
        pos = silent ? SkipRun(n, pos, step) : MixRun(out, n, pos, step, s.data.get(), row);
      }
    }
    ch.position = pos;
  }
}

int RenderBlock(ModPlayer& player, std::uint8_t* pcm) {
  if (!player.mixLeft || !player.mixRight || !player.mixOut || !player.delayLeft || !player.delayRight ||
      !player.channels || player.currentRow == nullptr) {
    std::memset(pcm, 0, kBlockBytes);
    return 0;
  }
  std::int32_t* accLeft = player.mixLeft.get();
  std::int32_t* accRight = player.mixRight.get();
  RunTickClock(player, player, kBlockFrames, [] { return true; }, [&](int offset, int frames) {
    MixChannels(accLeft + offset, accRight + offset, frames, player, player.channels.get(), player);
  });

  const std::int32_t* delayLeft = player.delayLeft.get();
  const std::int32_t* delayRight = player.delayRight.get();
#ifdef KORVANE_MIX_SSE2
  CrossFeedToPcm(pcm, accLeft, accRight, delayLeft, delayRight, 0, kDelayFrames);
  CrossFeedToPcm(pcm, accLeft, accRight, accLeft, accRight, kDelayFrames, kBlockFrames);
#else
  // Plain loops over whole arrays, so that the compiler can vectorise the sums, the
  // clipping and the interleaving.
  std::int16_t* out = player.mixOut.get();
  for (int i = 0; i < kDelayFrames; ++i) {
    out[2 * i] = Clip(accLeft[i] + delayRight[i]);
    out[2 * i + 1] = Clip(accRight[i] + delayLeft[i]);
  }
  for (int i = kDelayFrames; i < kBlockFrames; ++i) {
    out[2 * i] = Clip(accLeft[i] + accRight[i - kDelayFrames]);
    out[2 * i + 1] = Clip(accRight[i] + accLeft[i - kDelayFrames]);
  }
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(pcm, out, kBlockBytes);
  } else {
    for (int i = 0; i < 2 * kBlockFrames; ++i) {
      pcm[2 * i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(out[i]));
      pcm[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(out[i]) >> 8);
    }
  }
#endif
  std::memcpy(player.delayLeft.get(), accLeft + kBlockFrames - kDelayFrames, sizeof(std::int32_t) * kDelayFrames);
  std::memcpy(player.delayRight.get(), accRight + kBlockFrames - kDelayFrames, sizeof(std::int32_t) * kDelayFrames);
  return 1;
}

}  // namespace korvane
