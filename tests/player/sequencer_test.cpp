#include <gtest/gtest.h>

#include <vector>

#include "player/mod_player.h"
#include "tests/player/module_writer.h"

namespace korvane {
namespace {

using testing::CellSpec;
using testing::Constant;
using testing::ModuleWriter;

constexpr float kClock = 3579545.25f;

// Loads the writer's module and puts it at its beginning, as StartMusic would.
void Start(ModPlayer& p, const ModuleWriter& m) {
  std::vector<std::uint8_t> bytes = m.Bytes();
  ASSERT_EQ(LoadModule(p, bytes), 1);
  ASSERT_EQ(ResetPlayState(p), 1);
}

void Ticks(ModPlayer& p, int n) {
  for (int i = 0; i < n; ++i) BeginTick(p, SamplesPerTick(p.tempo));
}

ModuleWriter WithSamples() {
  ModuleWriter m;
  m.AddSample(1, {.volume = 32, .data = Constant(64, 0x10)});
  m.AddSample(2, {.finetuneByte = 15, .volume = 80, .data = Constant(64, 0x10)});
  return m;
}

TEST(Sequencer, SamplesPerTickTruncatesBothDivisions) {
  const struct {
    int tempo, frames;
  } cases[] = {{125, 882}, {126, 882}, {127, 882}, {128, 864}, {110, 1002}, {32, 3675}, {255, 432}};
  for (const auto& c : cases) EXPECT_EQ(SamplesPerTick(c.tempo), c.frames) << c.tempo;
}

// The first block keeps the tick length it started with; the tempo command's 1002 frames
// apply from the second block, and the last tick runs across into the third.
TEST(Sequencer, TempoTakesEffectFromTheNextBlockSpeedAtOnce) {
  ModuleWriter m;
  m.Put(0, 0, 0, {.command = 0xF, .param = 4});
  m.Put(0, 0, 1, {.command = 0xF, .param = 110});
  ModPlayer p;
  Start(p, m);
  std::vector<std::uint8_t> pcm(kBlockBytes);
  ASSERT_EQ(RenderBlock(p, pcm.data()), 1);
  EXPECT_EQ(p.tempo, 110);
  EXPECT_EQ(p.speed, 4);
  EXPECT_EQ(p.samplesLeftInTick, 0);  // 25 ticks of 882 frames fill it exactly
  // 25 ticks at speed 4: rows 0 to 6 started, the next row to fetch is 7 after tick 1.
  EXPECT_EQ(p.rowPos, 7);
  EXPECT_EQ(p.tick, 1);
  ASSERT_EQ(RenderBlock(p, pcm.data()), 1);
  EXPECT_EQ(p.samplesLeftInTick, 23 * 1002 - kBlockFrames);
}

TEST(Sequencer, SpeedZeroStartsARowOnEveryTick) {
  ModuleWriter m;
  m.Put(0, 0, 0, {.command = 0xF, .param = 0});
  ModPlayer p;
  Start(p, m);
  Ticks(p, 3);
  EXPECT_EQ(p.speed, 0);
  EXPECT_EQ(p.rowPos, 3);
  EXPECT_EQ(p.tick, 0);
}

struct JumpCase {
  const char* what;
  std::vector<CellSpec> cells;  // channels 0.. of the row
  int startOrder, startRow;     // where the row is fetched from
  int order, row;               // next row to fetch afterwards
};

class PositionCommands : public ::testing::TestWithParam<JumpCase> {};

TEST_P(PositionCommands, DecideTheNextRow) {
  const JumpCase& c = GetParam();
  ModuleWriter m;
  m.SetOrders({0, 1, 2, 3});  // four orders, pattern n at order n
  for (std::size_t ch = 0; ch < c.cells.size(); ++ch) m.Put(c.startOrder, c.startRow, static_cast<int>(ch), c.cells[ch]);
  ModPlayer p;
  Start(p, m);
  p.orderPos = c.startOrder;
  p.rowPos = c.startRow;
  Ticks(p, 1);
  EXPECT_EQ(p.orderPos, c.order);
  EXPECT_EQ(p.rowPos, c.row);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PositionCommands,
    ::testing::Values(
        JumpCase{"B to order 2", {{.command = 0xB, .param = 2}}, 0, 5, 2, 0},
        JumpCase{"B past songLength", {{.command = 0xB, .param = 4}}, 1, 5, 0, 0},
        JumpCase{"D to row 12", {{.command = 0xD, .param = 0x12}}, 1, 5, 2, 12},
        JumpCase{"D above 63", {{.command = 0xD, .param = 0x64}}, 1, 5, 2, 0},
        JumpCase{"D on the last order", {{.command = 0xD, .param = 0x01}}, 3, 5, 0, 1},
        JumpCase{"D on row 63", {{.command = 0xD, .param = 0x07}}, 1, 63, 2, 7},
        JumpCase{"D on row 63 of the last order", {{.command = 0xD, .param = 0x07}}, 3, 63, 0, 7},
        JumpCase{"B then D", {{.command = 0xB, .param = 3}, {.command = 0xD, .param = 0x05}}, 0, 9, 1, 5},
        JumpCase{"D then B", {{.command = 0xD, .param = 0x05}, {.command = 0xB, .param = 3}}, 0, 9, 3, 0},
        JumpCase{"row 63 wraps", {}, 3, 63, 0, 0}),
    [](const ::testing::TestParamInfo<JumpCase>& info) {
      std::string name = info.param.what;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

struct SlideCase {
  const char* what;
  int period;  // note given on the row with sample 1 (volume 32)
  int command, param;
  int expectPeriod, expectVolume;  // after the whole row (speed 6)
};

class Slides : public ::testing::TestWithParam<SlideCase> {};

TEST_P(Slides, ActOnTheirTicksAndStopAtTheirLimits) {
  const SlideCase& c = GetParam();
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 1, {.sample = 1, .period = c.period, .command = c.command, .param = c.param});
  ModPlayer p;
  Start(p, m);
  Ticks(p, 6);
  const ModChannel& ch = p.channels[1];
  EXPECT_EQ(ch.period, c.expectPeriod);
  EXPECT_EQ(ch.volume, c.expectVolume);
  EXPECT_EQ(ch.mixVolume, c.expectVolume);
  if (ch.period > 0) {
    EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(ch.period));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Slides,
    ::testing::Values(SlideCase{"slide up", 428, 0x1, 0x10, 428 - 80, 32},
                      SlideCase{"slide up stops at 54", 113, 0x1, 0x20, 54, 32},
                      SlideCase{"slide down has no limit", 856, 0x2, 0xFF, 856 + 5 * 255, 32},
                      SlideCase{"fine slide up once", 428, 0xE, 0x15, 423, 32},
                      SlideCase{"fine slide down once", 428, 0xE, 0x2F, 443, 32},
                      SlideCase{"fine slide up has no limit", 113, 0xE, 0x1F, 98, 32},
                      SlideCase{"volume slide x minus y", 428, 0xA, 0x31, 428, 42},
                      SlideCase{"volume slide up stops at 64", 428, 0xA, 0xF0, 428, 64},
                      SlideCase{"volume slide down stops at 0", 428, 0xA, 0x0F, 428, 0},
                      SlideCase{"fine volume up", 428, 0xE, 0xA5, 428, 37},
                      SlideCase{"fine volume down", 428, 0xE, 0xB5, 428, 27},
                      SlideCase{"set volume", 428, 0xC, 0x50, 428, 64}),
    [](const ::testing::TestParamInfo<SlideCase>& info) {
      std::string name = info.param.what;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(Sequencer, TonePortamentoSlidesToItsTargetWithAndWithoutANote) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428});
  m.Put(0, 1, 0, {.period = 214, .command = 0x3, .param = 0x10});
  m.Put(0, 2, 0, {.command = 0x3, .param = 0x00});  // keeps speed 16
  m.Put(0, 3, 0, {.command = 0x3, .param = 0xFF});
  m.Put(0, 4, 0, {.sample = 1, .period = 856, .command = 0x5, .param = 0x20});
  ModPlayer p;
  Start(p, m);
  const ModChannel& ch = p.channels[0];
  Ticks(p, 6);
  p.channels[0].position = 5000;
  Ticks(p, 1);  // row 1 starts: the note only sets the target
  EXPECT_EQ(ch.period, 428);
  EXPECT_EQ(ch.portaTarget, 214);
  EXPECT_EQ(ch.position, 5000);
  Ticks(p, 5);
  EXPECT_EQ(ch.period, 428 - 5 * 16);
  Ticks(p, 6);
  EXPECT_EQ(ch.period, 428 - 10 * 16);
  EXPECT_EQ(ch.portaSpeed, 16);
  Ticks(p, 6);
  EXPECT_EQ(ch.period, 214);  // does not overshoot
  EXPECT_FLOAT_EQ(ch.frequency, kClock / 214.0f);
  p.channels[0].position = 7000;
  Ticks(p, 6);  // command 5: sample given, position kept, porta upward with its old speed
  EXPECT_EQ(ch.position, 7000);
  EXPECT_EQ(ch.portaTarget, 856);
  EXPECT_EQ(ch.period, 856);
  EXPECT_EQ(ch.volume, 32 + 5 * 2);
}

TEST(Sequencer, TonePortamentoVolumeSlideAndTargetFinetune) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 856});
  m.Put(0, 1, 0, {.sample = 2, .period = 428, .command = 0x5, .param = 0x02});
  ModPlayer p;
  Start(p, m);
  Ticks(p, 6);
  Ticks(p, 1);
  const ModChannel& ch = p.channels[0];
  // Sample 2 has finetune -1: the target comes from the cell's slot.
  EXPECT_EQ(ch.portaTarget, PeriodAt(104 - 1));
  EXPECT_EQ(ch.volume, 64);
  Ticks(p, 5);
  EXPECT_EQ(ch.volume, 64 - 10);
  EXPECT_EQ(ch.mixVolume, 54);
}

TEST(Sequencer, VibratoMemoryIsClearedByANewNote) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0x4, .param = 0x48});
  m.Put(0, 1, 0, {.command = 0x4, .param = 0x06});
  m.Put(0, 2, 0, {.period = 428, .command = 0x4, .param = 0x40});
  ModPlayer p;
  Start(p, m);
  const ModChannel& ch = p.channels[0];
  Ticks(p, 2);  // row start and one vibrato tick at wavePos 0 (no deviation)
  EXPECT_EQ(ch.vibratoSpeed, 4);
  EXPECT_EQ(ch.vibratoDepth, 8);
  EXPECT_EQ(ch.wavePos, 4);
  Ticks(p, 1);  // wavePos 4: d = 97 * 8 >> 7 = 6
  EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(428 + 6));
  EXPECT_EQ(ch.period, 428);
  Ticks(p, 3);
  Ticks(p, 1);  // row 1, no note: depth 6, speed kept, wave continues
  EXPECT_EQ(ch.vibratoSpeed, 4);
  EXPECT_EQ(ch.vibratoDepth, 6);
  EXPECT_EQ(ch.wavePos, 20);
  Ticks(p, 5);
  EXPECT_EQ(ch.waveNegative, 1);
  Ticks(p, 1);  // row 2: the note cleared depth and wave
  EXPECT_EQ(ch.vibratoSpeed, 4);
  EXPECT_EQ(ch.vibratoDepth, 0);
  EXPECT_EQ(ch.wavePos, 0);
  EXPECT_EQ(ch.waveNegative, 0);
}

TEST(Sequencer, TremoloMovesMixVolumeOnly) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0x7, .param = 0x8F});
  m.Put(0, 1, 0, {.command = 0x7, .param = 0x00});  // goes on with the same speed and depth
  ModPlayer p;
  Start(p, m);
  const ModChannel& ch = p.channels[0];
  Ticks(p, 3);  // second tremolo tick at wavePos 8: d = 180 * 15 >> 6 = 42
  EXPECT_EQ(ch.volume, 32);
  EXPECT_EQ(ch.mixVolume, 64);
  Ticks(p, 2);  // wavePos 24 then wraps: negative half from wavePos 0
  Ticks(p, 1);
  EXPECT_EQ(ch.waveNegative, 1);
  EXPECT_EQ(ch.mixVolume, 32);  // lower half, but at wavePos 0 the deviation is 0
  Ticks(p, 2);                  // next row: wavePos 8 of the lower half, 42 below volume

  EXPECT_EQ(ch.mixVolume, 0);
  EXPECT_EQ(ch.volume, 32);
}

TEST(Sequencer, TremoloMemoryIsClearedByANewNote) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0x7, .param = 0x34});
  m.Put(0, 1, 0, {.command = 0x7, .param = 0x00});
  m.Put(0, 2, 0, {.period = 214, .command = 0x7, .param = 0x50});
  ModPlayer p;
  Start(p, m);
  const ModChannel& ch = p.channels[0];
  Ticks(p, 7);  // row 1 keeps speed 3, depth 4 and the wave's place
  EXPECT_EQ(ch.tremoloSpeed, 3);
  EXPECT_EQ(ch.tremoloDepth, 4);
  EXPECT_EQ(ch.wavePos, 15);
  Ticks(p, 6);  // row 2: the note clears the depth, the command sets only the speed
  EXPECT_EQ(ch.tremoloSpeed, 5);
  EXPECT_EQ(ch.tremoloDepth, 0);
  EXPECT_EQ(ch.wavePos, 0);
  Ticks(p, 3);
  EXPECT_EQ(ch.mixVolume, 32);  // depth 0: no movement
}

struct CutCase {
  int param;
  int silentFromTick;  // -1 = never
};

class NoteCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(NoteCut, SilencesFromItsTick) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0xE, .param = GetParam().param});
  ModPlayer p;
  Start(p, m);
  for (int tick = 0; tick < 6; ++tick) {
    Ticks(p, 1);
    const bool silent = GetParam().silentFromTick >= 0 && tick >= GetParam().silentFromTick;
    EXPECT_EQ(p.channels[0].mixVolume, silent ? 0 : 32) << tick;
    EXPECT_EQ(p.channels[0].volume, silent ? 0 : 32) << tick;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, NoteCut,
                         ::testing::Values(CutCase{0xC0, -1}, CutCase{0xC1, 1}, CutCase{0xC3, 3},
                                           CutCase{0xC5, 5}, CutCase{0xC6, -1}));

TEST(Sequencer, SetFinetuneChangesTheSampleForTheRestOfTheRun) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .command = 0xE, .param = 0x5F});
  m.Put(0, 1, 0, {.sample = 1, .period = 428});
  m.Put(0, 2, 1, {.command = 0xE, .param = 0x53});  // no sample number: slot 0
  ModPlayer p;
  Start(p, m);
  Ticks(p, 7);
  EXPECT_EQ(p.samples[1].finetune, -1);
  EXPECT_EQ(p.channels[0].period, PeriodAt(104 - 1));
  Ticks(p, 6);
  EXPECT_EQ(p.samples[0].finetune, 3);
  ASSERT_EQ(ResetPlayState(p), 1);
  EXPECT_EQ(p.samples[1].finetune, -1);
}

TEST(Sequencer, ArpeggioCyclesThroughThreePeriods) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 2, .period = 428, .command = 0x0, .param = 0x37});
  ModPlayer p;
  Start(p, m);
  const ModChannel& ch = p.channels[0];
  const int base = 104 - 1;  // sample 2: finetune -1
  Ticks(p, 1);
  EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(PeriodAt(base)));
  Ticks(p, 1);
  EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(PeriodAt(base + 24)));
  Ticks(p, 1);
  EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(PeriodAt(base + 56)));
  Ticks(p, 1);
  EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(PeriodAt(base)));
  EXPECT_EQ(ch.period, PeriodAt(base));
}

TEST(Sequencer, PeriodLookupsAreLimitedToTheTable) {
  EXPECT_EQ(PeriodAt(-20), 907);
  EXPECT_EQ(PeriodAt(295), 108);
  EXPECT_EQ(PeriodAt(400), 108);
  EXPECT_EQ(PeriodAt(104), 428);
  EXPECT_EQ(PeriodAt(16), 808);
}

// Which combinations of sample number, note and command restart the sample.
struct RestartCase {
  const char* what;
  CellSpec cell;
  bool restarts;
};

class SampleRestart : public ::testing::TestWithParam<RestartCase> {};

TEST_P(SampleRestart, FollowsTheCell) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428});
  m.Put(0, 1, 0, GetParam().cell);
  ModPlayer p;
  Start(p, m);
  Ticks(p, 6);
  p.channels[0].position = 12345;
  Ticks(p, 1);
  if (GetParam().restarts) {
    EXPECT_EQ(p.channels[0].position, 0);
  } else {
    EXPECT_EQ(p.channels[0].position, 12345);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SampleRestart,
    ::testing::Values(RestartCase{"bare_note", {.period = 214}, true},
                      RestartCase{"bare_note_with_volume", {.period = 214, .command = 0xC, .param = 3}, false},
                      RestartCase{"sample_only", {.sample = 1}, true},
                      RestartCase{"sample_with_porta", {.sample = 1, .command = 0x3}, false},
                      RestartCase{"note_with_porta", {.period = 214, .command = 0x3, .param = 1}, false},
                      RestartCase{"nothing", {}, false}),
    [](const ::testing::TestParamInfo<RestartCase>& info) { return std::string(info.param.what); });

TEST(Sequencer, SampleOffsetSetsThePosition) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0x9, .param = 0x03});
  ModPlayer p;
  Start(p, m);
  Ticks(p, 1);
  EXPECT_EQ(p.channels[0].position, 3 * 256 * 1024);
}

TEST(Sequencer, SongLoopsBackToTheFirstOrder) {
  ModuleWriter m;
  m.SetOrders({2, 0, 1});
  m.Put(2, 0, 0, {.command = 0xF, .param = 1});
  ModPlayer p;
  Start(p, m);
  Ticks(p, 3 * 64);
  EXPECT_EQ(p.orderPos, 0);
  EXPECT_EQ(p.rowPos, 0);
  Ticks(p, 1);
  EXPECT_EQ(p.currentRow, &p.patterns[2 * 64 * 4]);
}

TEST(Sequencer, MeasureSongFramesFollowsTicksAndJumps) {
  // Two orders of 64 rows at speed 1: 128 ticks of 882 frames.
  ModuleWriter m;
  m.SetOrders({0, 0});
  m.Put(0, 0, 0, {.command = 0xF, .param = 1});
  ModPlayer p;
  std::vector<std::uint8_t> bytes = m.Bytes();
  ASSERT_EQ(LoadModule(p, bytes), 1);
  EXPECT_EQ(MeasureSongFrames(p, 3600LL * kOutputRate), 128 * 882);
  // A limit shorter than the song finds no repeat.
  EXPECT_EQ(MeasureSongFrames(p, 1), 0);
  // A jump back to row 0 of order 0 on row 9 ends the pass after ten rows.
  m.Put(0, 9, 1, {.command = 0xB, .param = 0});
  bytes = m.Bytes();
  ASSERT_EQ(LoadModule(p, bytes), 1);
  EXPECT_EQ(MeasureSongFrames(p, 3600LL * kOutputRate), 10 * 882);
  EXPECT_EQ(p.orderPos, 0);
  EXPECT_EQ(p.speed, 6);
}

}  // namespace
}  // namespace korvane
