// The wave output's life cycle on a real (or Wine's) device. Without a usable device the
// start must fail cleanly; with one, the chain must keep rendering until stopped.
#include "player/wave_output.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/player/module_writer.h"
#include "tests/support/corpus.h"

namespace korvane {
namespace {

using namespace testing;

std::vector<std::uint8_t> Song() {
  ModuleWriter m;
  m.samples[1] = Level(0x20);
  m.orders = {0, 1, 2, 3};
  m.Put(0, 0, 0, {.sample = 1, .period = 428});
  return m.Bytes();
}

// Rows fetched after the two blocks StartMusic renders itself: 50 ticks at speed 6.
constexpr int kRowsAfterStart = 9;

// With an ALSA file sink behind Wine (KORVANE_WAVE_SINK names its file), what reached the
// device in the first run must be exactly the blocks the renderer makes from the song's beginning.
TEST(WaveOutput, PlaysUntilStoppedRestartsAtTheBeginningAndFreesWhilePlaying) {
  const char* sink = std::getenv("KORVANE_WAVE_SINK");
  std::string path = sink != nullptr ? sink : "";
  if (!path.empty() && path[0] == '/') path = "Z:" + path;  // the Unix root as Wine maps it
  if (!path.empty()) std::remove(path.c_str());
  ModPlayer p;
  const std::vector<std::uint8_t> bytes = Song();
  ASSERT_EQ(LoadModule(p, bytes), 1);
  auto out = std::make_unique<WaveOutput>(p);
  EXPECT_EQ(StopMusic(*out), 1);  // before a start: nothing to stop, the module stays
  EXPECT_NE(p.patterns, nullptr);
  if (StartMusic(*out) == 0) {
    EXPECT_EQ(out->playing.load(), 0);
    EXPECT_EQ(out->waveOut, nullptr);
    EXPECT_EQ(StopMusic(*out), 1);
    GTEST_SKIP() << "no usable wave output device";
  }
  const WaveOutput::Device* device = out->waveOut.get();
  EXPECT_NE(device, nullptr);
  EXPECT_EQ(StartMusic(*out), 1);  // already playing: nothing changes
  EXPECT_EQ(out->waveOut.get(), device);
  Sleep(2500);
  EXPECT_EQ(out->playing.load(), 1);
  EXPECT_EQ(StopMusic(*out), 1);
  EXPECT_EQ(out->playing.load(), 0);
  EXPECT_EQ(out->waveOut, nullptr);
  EXPECT_GE(p.orderPos * 64 + p.rowPos, kRowsAfterStart + 12);  // at least three more blocks
  if (!path.empty()) {
    const std::vector<std::uint8_t> heard = ReadWholeFile(path);
    ASSERT_GE(heard.size(), 2u * kBlockBytes) << path;
    ModPlayer fresh;
    ASSERT_EQ(LoadModule(fresh, bytes), 1);
    ASSERT_EQ(ResetPlayState(fresh), 1);
    std::vector<std::uint8_t> block(kBlockBytes);
    for (int b = 0; b < 2; ++b) {
      ASSERT_EQ(RenderBlock(fresh, block.data()), 1);
      ASSERT_TRUE(std::equal(block.begin(), block.end(), heard.begin() + b * kBlockBytes)) << "block " << b;
    }
  }

  ASSERT_EQ(StartMusic(*out), 1);
  EXPECT_EQ(StopMusic(*out), 1);
  EXPECT_EQ(p.orderPos, 0);
  EXPECT_GE(p.rowPos, kRowsAfterStart);
  EXPECT_LT(p.rowPos, kRowsAfterStart + 5);
  EXPECT_EQ(p.speed, 6);

  ASSERT_EQ(StartMusic(*out), 1);
  Sleep(700);
  out.reset();  // stops, waiting for a render under way, before the module can go
  (FreeModule)(p);
  EXPECT_EQ(p.patterns, nullptr);
}

}  // namespace
}  // namespace korvane
