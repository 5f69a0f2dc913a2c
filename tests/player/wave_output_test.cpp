// The wave output's life cycle on a real (or Wine's) device. Without a usable device the
// start must fail cleanly; with one, the chain must keep rendering until stopped.
#include "player/wave_output.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <vector>

#include "tests/player/module_writer.h"

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

// What reaches the device is compared with the renderer by the GUI tests, through the installer.
TEST(WaveOutput, PlaysUntilStoppedRestartsAtTheBeginningAndFreesWhilePlaying) {
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
