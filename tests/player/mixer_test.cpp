#include <gtest/gtest.h>

#include <vector>

#include "player/mod_player.h"
#include "tests/player/module_writer.h"

namespace korvane {
namespace {

using namespace testing;

struct Frame {
  std::int16_t left, right;
};

std::vector<Frame> Render(ModPlayer& p, int blocks = 1) {
  std::vector<std::uint8_t> pcm(kBlockBytes);
  std::vector<Frame> frames;
  for (int n = 0; n < blocks; ++n) {
    EXPECT_EQ(RenderBlock(p, pcm.data()), 1);
    for (int i = 0; i < kBlockBytes; i += 4)
      frames.push_back({std::int16_t(pcm[i] | (pcm[i + 1] << 8)), std::int16_t(pcm[i + 2] | (pcm[i + 3] << 8))});
  }
  return frames;
}

// Puts a channel straight at a sample, position and step (22.10 per frame), past the sequencer.
void Play(ModPlayer& p, int channel, int slot, int step, std::int32_t position) {
  ModChannel& ch = p.channels[channel];
  ch.sample = slot;
  ch.frequency = (static_cast<float>(step) + 0.5f) * 44100.0f / 1024.0f;
  ch.volume = ch.mixVolume = 64;
  ch.position = position;
}

// left[i] = accL[i] + accR[i - 1002], and the same the other way, across blocks too. Notes
// of constant level fall silent on rows 2, 3 and 4 (ticks of 882 frames, rows of 6 ticks);
// the last lies in the first block's final 1002 frames, which the second block hears.
TEST(Mixer, CrossFeedAddsTheOtherSideDelayed) {
  ModuleWriter m;
  const int levels[] = {0x40, 0x20, 0x10}, silentRow[] = {2, 4, 3};  // channel 0 left, 1 and 2 right
  for (int c = 0; c < 3; ++c) {
    m.samples[1 + c] = Level(std::uint8_t(levels[c]));
    m.Put(0, 0, c, {.sample = 1 + c, .period = 428});
    m.Put(0, silentRow[c], c, {.command = 0xC, .param = 0});
  }
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  const std::vector<Frame> out = Render(p, 2);
  auto acc = [&](int c, int i) { return i >= 0 && i < silentRow[c] * 6 * 882 ? 64 * levels[c] : 0; };
  for (int i = 0; i < 2 * kBlockFrames; ++i) {
    const int j = i - kDelayFrames;
    ASSERT_EQ(out[i].left, acc(0, i) + acc(1, j) + acc(2, j)) << i;
    ASSERT_EQ(out[i].right, acc(1, i) + acc(2, i) + acc(0, j)) << i;
  }
}

TEST(Mixer, EightChannelsClipTo16Bits) {
  const struct {
    std::uint8_t byte;
    std::int16_t own, both;  // before and after the other side arrives
  } cases[] = {{0x7F, 4 * 8128, 32767}, {0x80, -32768, -32768}, {0xC0, 4 * -4096, -32768}};
  for (const auto& c : cases) {
    ModuleWriter m("8CHN");
    m.samples[1] = Level(c.byte);
    for (int ch = 0; ch < 8; ++ch) m.Put(0, 0, ch, {.sample = 1, .period = 428});
    ModPlayer p;
    ASSERT_TRUE(Start(p, m));
    const std::vector<Frame> frames = Render(p);
    for (int i = 0; i < kBlockFrames; ++i) {
      const std::int16_t expected = i < kDelayFrames ? c.own : c.both;
      ASSERT_EQ(frames[i].left, expected) << int(c.byte) << " " << i;
      ASSERT_EQ(frames[i].right, expected) << int(c.byte) << " " << i;
    }
  }
}

// Channels 0, 3, 4 and 7 play on the left; their volumes tell them apart. Volume 0 adds
// nothing but moves on like the others, by 194 a frame at period 428.
TEST(Mixer, SidesVolumesAndSteps) {
  const int volumes[] = {1, 2, 4, 8, 16, 32, 0, 64};
  ModuleWriter m("8CHN");
  for (int c = 0; c < 8; ++c) {
    m.samples[1 + c] = {.volume = volumes[c], .data = Constant(30000, 0x01)};
    m.Put(0, 0, c, {.sample = 1 + c, .period = 428});
  }
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  const std::vector<Frame> frames = Render(p);
  EXPECT_EQ(frames[0].left, 1 + 8 + 16 + 64);
  EXPECT_EQ(frames[0].right, 2 + 4 + 32);
  for (int c = 0; c < 8; ++c) EXPECT_EQ(p.channels[c].position, kBlockFrames * 194) << c;
}

// Loop 20..80 of a ramp (byte k is k + 1). The frame that steps over the end goes on at the
// loop start plus the overshoot, and the one before interpolates towards the loop start's
// byte; a sample offset far past the end comes back where repeated wraps would land, or,
// in a one-shot, stays silent where it is.
TEST(Mixer, LoopWrapKeepsTheOvershoot) {
  ModuleWriter m;
  m.samples[1] = {.data = Ramp(100), .loopStart = 20, .loopLength = 60};
  m.samples[2] = {.data = Ramp(100)};
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  const int step = 3000;
  const std::int32_t start = 79 * 1024 + 512, wrapped = start + step - 60 * 1024;
  Play(p, 0, 1, step, start);
  Play(p, 1, 1, 1024, 255 << 18);
  Play(p, 2, 2, 1024, 255 << 18);
  std::vector<std::int32_t> l(3), r(3);
  MixChannels(l.data(), r.data(), 3, p, p.channels.get(), p);
  EXPECT_EQ(l[0], (64 * 80 * 512 + 64 * 21 * 512) >> 10);
  const std::int32_t i = wrapped >> 10, f = wrapped & 1023;
  EXPECT_EQ(l[1], (64 * (i + 1) * (1024 - f) + 64 * (i + 2) * f) >> 10);
  EXPECT_EQ(p.channels[0].position, wrapped + 2 * step);
  const std::int32_t inLoop = 20 + (255 * 256 - 20) % 60;
  EXPECT_EQ(r, (std::vector<std::int32_t>{64 * (inLoop + 1), 64 * (inLoop + 2), 64 * (inLoop + 3)}));
  EXPECT_EQ(p.channels[1].position, (inLoop + 3) * 1024);
  EXPECT_EQ(p.channels[2].position, 255 << 18);
}

// Loops the mixer could not wrap safely play once: the guard byte after the data stays zero
// and the position stops at the end. Playable loops copy their start's byte to loopEnd.
TEST(Mixer, LoopsThatCannotWrapPlayOnce) {
  const struct {
    int start, length;
    bool loops;
    int loopEnd;
  } cases[] = {{4, 10, true, 14}, {12, 16, true, 20},  // runs past the end: shortened
               {0, 2, false, 2},  {24, 8, false, 20}, {20, 4, false, 20}, {10, 0, false, 10}, {6, 40, false, 20}};
  ModuleWriter m;
  for (int i = 0; i < 7; ++i) m.samples[1 + i] = {.data = Ramp(20), .loopStart = cases[i].start, .loopLength = cases[i].length};
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  for (int slot = 1; slot <= 7; ++slot) {
    const auto& c = cases[slot - 1];
    SCOPED_TRACE(slot);
    const ModSample& s = p.samples[slot];
    EXPECT_EQ(s.loops != 0, c.loops);
    EXPECT_EQ(s.loopEnd, c.loopEnd);
    EXPECT_EQ(s.loopLength, c.length);
    for (int i = 0; i <= 20; ++i) ASSERT_EQ(s.data[i], c.loops && i == c.loopEnd ? c.start + 1 : i < 20 ? i + 1 : 0) << i;
    Play(p, 0, slot, 1024, 0);
    std::vector<std::int32_t> l(40), r(40);
    MixChannels(l.data(), r.data(), 40, p, p.channels.get(), p);  // the sanitizer build watches the loops' reads
    if (c.loops) continue;
    for (int i = 0; i < 40; ++i) ASSERT_EQ(l[i], i < 20 ? 64 * (i + 1) : 0) << i;
    EXPECT_EQ(p.channels[0].position, 20 * 1024);
    MixChannels(l.data(), r.data(), 40, p, p.channels.get(), p);
    EXPECT_EQ(p.channels[0].position, 20 * 1024);
  }
}

TEST(Mixer, ASampleWithoutPitchIsSilentAndKeepsItsPlace) {
  ModuleWriter m;
  m.samples[1] = Level(0x40);
  m.Put(0, 0, 0, {.sample = 1});  // a sample number before any note: frequency 0
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  for (const Frame& f : Render(p)) ASSERT_EQ(f.left, 0);
  EXPECT_EQ(p.channels[0].sample, 1);
  EXPECT_EQ(p.channels[0].position, 0);
  EXPECT_EQ(p.channels[0].frequency, 0.0f);
}

}  // namespace
}  // namespace korvane
