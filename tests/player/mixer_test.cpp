#include <gtest/gtest.h>

#include <vector>

#include "player/mod_player.h"
#include "tests/player/module_writer.h"

namespace korvane {
namespace {

using testing::Constant;
using testing::ModuleWriter;
using testing::SampleSpec;

std::vector<std::uint8_t> Ramp(int n) {
  std::vector<std::uint8_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i);
  return v;
}

void Start(ModPlayer& p, const ModuleWriter& m) {
  std::vector<std::uint8_t> bytes = m.Bytes();
  ASSERT_EQ(LoadModule(p, bytes), 1);
  ASSERT_EQ(ResetPlayState(p), 1);
}

struct Frame {
  std::int16_t left, right;
};

std::vector<Frame> Render(ModPlayer& p) {
  std::vector<std::uint8_t> pcm(kBlockBytes);
  EXPECT_EQ(RenderBlock(p, pcm.data()), 1);
  std::vector<Frame> frames(kBlockFrames);
  for (int i = 0; i < kBlockFrames; ++i) {
    const std::uint8_t* b = &pcm[i * 4];
    frames[i].left = static_cast<std::int16_t>(b[0] | (b[1] << 8));
    frames[i].right = static_cast<std::int16_t>(b[2] | (b[3] << 8));
  }
  return frames;
}

// A looping sample of one repeated byte: every frame adds exactly byte * volume.
SampleSpec Level(std::uint8_t byte) { return {.data = Constant(64, byte), .loopStart = 0, .loopLength = 64}; }

// Frequency whose step is exactly `step` (22.10 per frame).
float FrequencyForStep(int step) { return (static_cast<float>(step) + 0.5f) * 44100.0f / 1024.0f; }

void Play(ModPlayer& p, int channel, int slot, float frequency, int volume, std::int32_t position) {
  ModChannel& ch = p.channels[channel];
  ch.sample = slot;
  ch.frequency = frequency;
  ch.volume = ch.mixVolume = volume;
  ch.position = position;
}

TEST(Mixer, VolumeTableScalesSignedBytes) {
  ModPlayer p;
  BuildVolumeTable(64, p);
  EXPECT_EQ(p.volumeTable[64][0x80], -8192);
  EXPECT_EQ(p.volumeTable[64][0x7F], 8128);
  EXPECT_EQ(p.volumeTable[0][0x7F], 0);
  for (int v : {1, 17, 63})
    for (int b : {0, 1, 0x40, 0x7F, 0x80, 0xFF}) EXPECT_EQ(p.volumeTable[v][b], v * static_cast<std::int8_t>(b));
}

TEST(Mixer, Period428StepsBy194) {
  ModuleWriter m;
  m.AddSample(1, {.data = Constant(20000, 0)});
  ModPlayer p;
  Start(p, m);
  Play(p, 0, 1, 3579545.25f / 428.0f, 64, 0);
  std::vector<std::int32_t> l(100), r(100);
  MixChannels(l.data(), r.data(), 100, p);
  EXPECT_EQ(p.channels[0].position, 100 * 194);
}

// Each side hears its own channels and, 1002 frames later, the other side's.
TEST(Mixer, CrossFeedAddsTheOtherSideDelayed) {
  ModuleWriter m;
  m.AddSample(1, Level(0x40));  // 4096 per frame at volume 64
  m.AddSample(2, Level(0x20));  // 2048
  m.Put(0, 0, 0, {.sample = 1, .period = 428});
  m.Put(0, 0, 1, {.sample = 2, .period = 428});
  ModPlayer p;
  Start(p, m);
  std::vector<Frame> first = Render(p);
  for (int i = 0; i < kBlockFrames; ++i) {
    ASSERT_EQ(first[i].left, 4096 + (i < kDelayFrames ? 0 : 2048)) << i;
    ASSERT_EQ(first[i].right, 2048 + (i < kDelayFrames ? 0 : 4096)) << i;
  }
  std::vector<Frame> second = Render(p);
  for (int i = 0; i < kBlockFrames; ++i) {
    ASSERT_EQ(second[i].left, 6144) << i;
    ASSERT_EQ(second[i].right, 6144) << i;
  }
}

// Both channels are cut on tick 25, the first frame of the second block: that block is
// silent but for the first block's last 1002 frames, each side moved to the other.
TEST(Mixer, SilentBlockCarriesOnlyThePreviousBlocksTail) {
  ModuleWriter m;
  m.AddSample(1, Level(0x40));
  m.AddSample(2, Level(0x20));
  m.Put(0, 0, 0, {.sample = 1, .period = 428});
  m.Put(0, 0, 1, {.sample = 2, .period = 428});
  m.Put(0, 4, 0, {.command = 0xE, .param = 0xC1});
  m.Put(0, 4, 1, {.command = 0xE, .param = 0xC1});
  ModPlayer p;
  Start(p, m);
  Render(p);
  std::vector<Frame> second = Render(p);
  for (int i = 0; i < kBlockFrames; ++i) {
    ASSERT_EQ(second[i].left, i < kDelayFrames ? 2048 : 0) << i;
    ASSERT_EQ(second[i].right, i < kDelayFrames ? 4096 : 0) << i;
  }
}

struct ClipCase {
  std::uint8_t byte;
  std::int16_t own, both;  // before and after the other side arrives
};

class EightChannelClipping : public ::testing::TestWithParam<ClipCase> {};

TEST_P(EightChannelClipping, ClipsTheSumTo16Bits) {
  ModuleWriter m("8CHN");
  m.AddSample(1, Level(GetParam().byte));
  for (int c = 0; c < 8; ++c) m.Put(0, 0, c, {.sample = 1, .period = 428});
  ModPlayer p;
  Start(p, m);
  std::vector<Frame> frames = Render(p);
  for (int i = 0; i < kBlockFrames; ++i) {
    const std::int16_t expected = i < kDelayFrames ? GetParam().own : GetParam().both;
    ASSERT_EQ(frames[i].left, expected) << i;
    ASSERT_EQ(frames[i].right, expected) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EightChannelClipping,
                         ::testing::Values(ClipCase{0x7F, 4 * 8128, 32767}, ClipCase{0x80, -32768, -32768},
                                           ClipCase{0xC0, 4 * -4096, -32768}));

TEST(Mixer, VolumeZeroAddsNothingButMovesOn) {
  for (int volume : {64, 0}) {
    ModuleWriter m;
    m.AddSample(1, {.volume = volume, .data = Constant(30000, 0x80)});
    m.Put(0, 0, 0, {.sample = 1, .period = 428});
    ModPlayer p;
    Start(p, m);
    std::vector<Frame> frames = Render(p);
    EXPECT_EQ(frames[10].left, volume == 64 ? -8192 : 0);
    EXPECT_EQ(frames[1500].right, volume == 64 ? -8192 : 0);
    EXPECT_EQ(frames[10].right, 0);
    EXPECT_EQ(p.channels[0].position, kBlockFrames * 194) << volume;
  }
}

// Loop 20..80 of a ramp: the frame that steps over the end goes on at the loop start plus
// the overshoot, and the frame before the end interpolates towards the copied loop start.
TEST(Mixer, LoopWrapKeepsTheOvershoot) {
  ModuleWriter m;
  m.AddSample(1, {.data = Ramp(100), .loopStart = 20, .loopLength = 60});
  ModPlayer p;
  Start(p, m);
  const int step = 3000;
  Play(p, 0, 1, FrequencyForStep(step), 64, 79 * 1024 + 512);
  std::vector<std::int32_t> l(3), r(3);
  MixChannels(l.data(), r.data(), 3, p);
  EXPECT_EQ(l[0], (64 * 79 * 512 + 64 * 20 * 512) >> 10);  // partner is the loop start's byte
  const std::int32_t wrapped = 79 * 1024 + 512 + step - 80 * 1024 + 20 * 1024;
  EXPECT_EQ(l[1], (64 * (wrapped >> 10) * (1024 - (wrapped & 1023)) + 64 * ((wrapped >> 10) + 1) * (wrapped & 1023)) >> 10);
  EXPECT_EQ(p.channels[0].position, wrapped + 2 * step);
  EXPECT_EQ(r, (std::vector<std::int32_t>{0, 0, 0}));
}

TEST(Mixer, PositionFarPastALoopComesBackInto) {
  ModuleWriter m;
  m.AddSample(1, {.data = Ramp(100), .loopStart = 20, .loopLength = 60});
  m.AddSample(2, {.data = Ramp(100), .loopStart = 0, .loopLength = 2});  // plays once
  ModPlayer p;
  Start(p, m);
  Play(p, 0, 1, FrequencyForStep(1024), 64, 255 << 18);
  Play(p, 1, 2, FrequencyForStep(1024), 64, 255 << 18);  // sample offset past a one-shot
  std::vector<std::int32_t> l(4), r(4);
  MixChannels(l.data(), r.data(), 4, p);
  const std::int32_t inLoop = 20 + ((255 * 256 - 20) % 60);
  EXPECT_EQ(l[0], 64 * inLoop);
  EXPECT_EQ(p.channels[0].position, (inLoop + 4) * 1024);
  EXPECT_EQ(r, (std::vector<std::int32_t>{0, 0, 0, 0}));
  EXPECT_EQ(p.channels[1].position, 255 << 18);
}

TEST(Mixer, OneShotSamplesStopAtTheirEnd) {
  ModuleWriter m;
  m.AddSample(1, {.data = Ramp(100), .loopStart = 0, .loopLength = 2});
  m.AddSample(2, {.data = Ramp(20), .loopStart = 6, .loopLength = 40});   // loop longer than loopEnd
  m.AddSample(3, {.data = Ramp(20), .loopStart = 30, .loopLength = 8});   // loop past the end
  m.AddSample(4, {.data = Ramp(20), .loopStart = 10, .loopLength = 0});   // loop of nothing
  ModPlayer p;
  Start(p, m);
  for (int slot = 1; slot <= 4; ++slot) {
    const int length = slot == 1 ? 100 : 20;
    Play(p, 0, slot, FrequencyForStep(1024), 64, 0);
    std::vector<std::int32_t> l(200), r(200);
    MixChannels(l.data(), r.data(), 200, p);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(l[i], i < length ? 64 * i : 0) << slot << " " << i;
    EXPECT_EQ(p.channels[0].position, length * 1024) << slot;
    MixChannels(l.data(), r.data(), 200, p);
    EXPECT_EQ(p.channels[0].position, length * 1024) << slot;
  }
}

TEST(Mixer, ASampleWithoutPitchIsSilentAndKeepsItsPlace) {
  ModuleWriter m;
  m.AddSample(1, Level(0x40));
  m.Put(0, 0, 0, {.sample = 1});  // a sample number before any note
  ModPlayer p;
  Start(p, m);
  std::vector<Frame> frames = Render(p);
  for (const Frame& f : frames) ASSERT_EQ(f.left, 0);
  EXPECT_EQ(p.channels[0].sample, 1);
  EXPECT_EQ(p.channels[0].position, 0);
  EXPECT_EQ(p.channels[0].frequency, 0.0f);
}

TEST(Mixer, ChannelSidesFollowTheirIndexModuloFour) {
  ModuleWriter m("8CHN");
  m.AddSample(1, Level(0x01));  // 64 per frame
  for (int c = 0; c < 8; ++c) m.AddSample(2 + c, {.volume = 1 << (c % 6), .data = Constant(64, 0x01), .loopStart = 0, .loopLength = 64});
  for (int c = 0; c < 8; ++c) m.Put(0, 0, c, {.sample = 2 + c, .period = 428});
  ModPlayer p;
  Start(p, m);
  std::vector<Frame> frames = Render(p);
  // Volumes 1, 2, 4, 8, 16, 32, 1, 2: left takes channels 0, 3, 4, 7.
  EXPECT_EQ(frames[0].left, 1 + 8 + 16 + 2);
  EXPECT_EQ(frames[0].right, 2 + 4 + 32 + 1);
}

}  // namespace
}  // namespace korvane
