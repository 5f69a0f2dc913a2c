#include <gtest/gtest.h>

#include <vector>

#include "player/mod_player.h"
#include "tests/player/module_writer.h"

namespace korvane {
namespace {

using namespace testing;

constexpr float kClock = 3579545.25f;

void Ticks(ModPlayer& p, int n) {
  for (int i = 0; i < n; ++i) BeginTick(p, p, SamplesPerTick(p.tempo));
}

ModuleWriter WithSamples() {
  ModuleWriter m;
  m.samples[1] = {.volume = 32, .data = Constant(64, 0x10)};
  m.samples[2] = {.finetuneByte = 15, .volume = 80, .data = Constant(64, 0x10)};
  return m;
}

TEST(Sequencer, SamplesPerTickTruncatesBothDivisions) {
  const int cases[][2] = {{125, 882}, {126, 882}, {127, 882}, {128, 864}, {110, 1002}, {32, 3675}, {255, 432}};
  for (const auto& c : cases) EXPECT_EQ(SamplesPerTick(c[0]), c[1]) << c[0];
}

// Speed acts at once (0 starts a row on every tick). The first block keeps the tick length
// it started with; the tempo command's 1002 frames apply from the second block, and the
// last tick runs across into the third.
TEST(Sequencer, TempoTakesEffectFromTheNextBlockSpeedAtOnce) {
  ModuleWriter m;
  m.Put(0, 0, 0, {.command = 0xF, .param = 0});
  m.Put(0, 0, 1, {.command = 0xF, .param = 110});
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  std::vector<std::uint8_t> pcm(kBlockBytes);
  ASSERT_EQ(RenderBlock(p, pcm.data()), 1);
  EXPECT_EQ(p.tempo, 110);
  EXPECT_EQ(p.samplesLeftInTick, 0);  // 25 ticks of 882 frames fill it exactly
  EXPECT_EQ(p.rowPos, 25);
  EXPECT_EQ(p.tick, 0);
  ASSERT_EQ(RenderBlock(p, pcm.data()), 1);
  EXPECT_EQ(p.samplesLeftInTick, 23 * 1002 - kBlockFrames);
}

TEST(Sequencer, PositionCommandsDecideTheNextRow) {
  const struct {
    const char* what;
    std::vector<CellSpec> cells;  // channels 0.. of the row
    int startOrder, startRow;     // where the row is fetched from
    int order, row;               // the next row to fetch
  } cases[] = {
      {"B to order 2", {{.command = 0xB, .param = 2}}, 0, 5, 2, 0},
      {"B past songLength", {{.command = 0xB, .param = 4}}, 1, 5, 0, 0},
      {"D to row 12", {{.command = 0xD, .param = 0x12}}, 1, 5, 2, 12},
      {"D above 63", {{.command = 0xD, .param = 0x64}}, 1, 5, 2, 0},
      {"D on the last order", {{.command = 0xD, .param = 0x01}}, 3, 5, 0, 1},
      {"D on row 63", {{.command = 0xD, .param = 0x07}}, 1, 63, 2, 7},
      {"D on row 63 of the last order", {{.command = 0xD, .param = 0x07}}, 3, 63, 0, 7},
      {"B then D", {{.command = 0xB, .param = 3}, {.command = 0xD, .param = 0x05}}, 0, 9, 1, 5},
      {"D then B", {{.command = 0xD, .param = 0x05}, {.command = 0xB, .param = 3}}, 0, 9, 3, 0},
      {"row 63 wraps", {}, 3, 63, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ModuleWriter m;
    m.orders = {3, 2, 1, 0};  // order n plays pattern 3 - n
    for (std::size_t ch = 0; ch < c.cells.size(); ++ch) m.Put(3 - c.startOrder, c.startRow, int(ch), c.cells[ch]);
    ModPlayer p;
    ASSERT_TRUE(Start(p, m));
    p.orderPos = c.startOrder;
    p.rowPos = c.startRow;
    Ticks(p, 1);
    EXPECT_EQ(p.orderPos, c.order);
    EXPECT_EQ(p.rowPos, c.row);
  }
}

TEST(Sequencer, SlidesActOnTheirTicksAndStopAtTheirLimits) {
  const struct {
    const char* what;
    int period, command, param;      // on a row with sample 1 (volume 32)
    int expectPeriod, expectVolume;  // after the whole row (speed 6)
  } cases[] = {{"slide up", 428, 0x1, 0x10, 428 - 80, 32},
               {"slide up stops at 54", 113, 0x1, 0x20, 54, 32},
               {"slide down has no limit", 856, 0x2, 0xFF, 856 + 5 * 255, 32},
               {"fine slide up once", 428, 0xE, 0x15, 423, 32},
               {"fine slide down once", 428, 0xE, 0x2F, 443, 32},
               {"fine slide up has no limit", 113, 0xE, 0x1F, 98, 32},
               {"volume slide x minus y", 428, 0xA, 0x31, 428, 42},
               {"volume slide up stops at 64", 428, 0xA, 0xF0, 428, 64},
               {"volume slide down stops at 0", 428, 0xA, 0x0F, 428, 0},
               {"fine volume up", 428, 0xE, 0xA5, 428, 37},
               {"fine volume down", 428, 0xE, 0xB5, 428, 27},
               {"set volume", 428, 0xC, 0x50, 428, 64}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ModuleWriter m = WithSamples();
    m.Put(0, 0, 1, {.sample = 1, .period = c.period, .command = c.command, .param = c.param});
    ModPlayer p;
    ASSERT_TRUE(Start(p, m));
    Ticks(p, 6);
    const ModChannel& ch = p.channels[1];
    EXPECT_EQ(ch.period, c.expectPeriod);
    EXPECT_EQ(ch.volume, c.expectVolume);
    EXPECT_EQ(ch.mixVolume, c.expectVolume);
    EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(ch.period));
  }
}

// A porta row's note only sets the target, 3 with param 0 keeps the speed, and 5 slides the
// volume as well; a sample given with either keeps the position, and the target takes the
// finetune of the cell's sample. The period stops at the target, from either side.
TEST(Sequencer, TonePortamentoWithAndWithoutANote) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428});
  m.Put(0, 1, 0, {.period = 214, .command = 0x3, .param = 0x10});
  m.Put(0, 2, 0, {.command = 0x3, .param = 0x00});
  m.Put(0, 3, 0, {.command = 0x3, .param = 0xFF});
  m.Put(0, 4, 0, {.sample = 2, .period = 856, .command = 0x5, .param = 0x02});  // finetune -1, volume 64
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  const ModChannel& ch = p.channels[0];
  auto state = [&] {
    return std::vector<int>{ch.period, ch.portaTarget, ch.portaSpeed, ch.position, ch.volume, ch.mixVolume};
  };
  Ticks(p, 6);
  p.channels[0].position = 5000;
  Ticks(p, 1);
  EXPECT_EQ(state(), (std::vector<int>{428, 214, 16, 5000, 32, 32}));
  Ticks(p, 11);
  EXPECT_EQ(state(), (std::vector<int>{428 - 10 * 16, 214, 16, 5000, 32, 32}));
  Ticks(p, 2);  // 268 - 255
  EXPECT_EQ(state(), (std::vector<int>{214, 214, 255, 5000, 32, 32}));
  EXPECT_FLOAT_EQ(ch.frequency, kClock / 214.0f);
  Ticks(p, 5);
  EXPECT_EQ(state(), (std::vector<int>{214, PeriodAt(8 - 1), 255, 5000, 64, 64}));
  Ticks(p, 3);  // 214 + 3 * 255
  EXPECT_EQ(state(), (std::vector<int>{PeriodAt(8 - 1), PeriodAt(8 - 1), 255, 5000, 58, 58}));
  Ticks(p, 2);
  EXPECT_EQ(ch.mixVolume, 64 - 10);
}

// Vibrato moves the frequency only, either way; a row without a note keeps its memory and
// wave, a note clears them.
TEST(Sequencer, VibratoMemoryIsClearedByANewNote) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0x4, .param = 0x48});
  m.Put(0, 1, 0, {.command = 0x4, .param = 0x06});
  m.Put(0, 2, 0, {.period = 428, .command = 0x4, .param = 0x00});
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  const ModChannel& ch = p.channels[0];
  auto memory = [&] { return std::vector<int>{ch.vibratoSpeed, ch.vibratoDepth, ch.wavePos, ch.waveNegative}; };
  Ticks(p, 2);  // row start and one vibrato tick at wavePos 0 (no deviation)
  EXPECT_EQ(memory(), (std::vector<int>{4, 8, 4, 0}));
  Ticks(p, 1);  // wavePos 4: d = 97 * 8 >> 7 = 6
  EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(428 + 6));
  EXPECT_EQ(ch.period, 428);
  Ticks(p, 4);  // row 1
  EXPECT_EQ(memory(), (std::vector<int>{4, 6, 20, 0}));
  Ticks(p, 5);  // lower half, wavePos 4: d = 97 * 6 >> 7 = 4
  EXPECT_EQ(memory(), (std::vector<int>{4, 6, 8, 1}));
  EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(428 - 4));
  Ticks(p, 1);  // row 2
  EXPECT_EQ(memory(), (std::vector<int>{0, 0, 0, 0}));
}

// Tremolo moves mixVolume only; the same memory rules as vibrato, and the command on a note's
// row sets what it names after the note cleared the rest.
TEST(Sequencer, TremoloMovesMixVolumeOnlyAndANoteClearsItsMemory) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0x7, .param = 0x8F});
  m.Put(0, 1, 0, {.command = 0x7, .param = 0x00});
  m.Put(0, 2, 0, {.period = 214, .command = 0x7, .param = 0x50});
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  const ModChannel& ch = p.channels[0];
  auto state = [&] {
    return std::vector<int>{ch.tremoloSpeed, ch.tremoloDepth, ch.wavePos, ch.waveNegative, ch.mixVolume, ch.volume};
  };
  Ticks(p, 3);  // at wavePos 8: 32 + (180 * 15 >> 6), limited to 64
  EXPECT_EQ(state(), (std::vector<int>{8, 15, 16, 0, 64, 32}));
  Ticks(p, 3);  // the wave wrapped: lower half from wavePos 0, where d is 0
  EXPECT_EQ(state(), (std::vector<int>{8, 15, 8, 1, 32, 32}));
  Ticks(p, 2);  // row 1 goes on at wavePos 8: 32 - 42, limited to 0
  EXPECT_EQ(state(), (std::vector<int>{8, 15, 16, 1, 0, 32}));
  Ticks(p, 5);  // row 2
  EXPECT_EQ(state(), (std::vector<int>{5, 0, 0, 0, 64, 32}));
  Ticks(p, 3);
  EXPECT_EQ(state(), (std::vector<int>{5, 0, 15, 0, 32, 32}));
}

TEST(Sequencer, NoteCutSilencesFromItsTick) {
  const int cases[][2] = {{0xC0, -1}, {0xC1, 1}, {0xC3, 3}, {0xC5, 5}, {0xC6, -1}};  // param, first silent tick
  for (const auto& c : cases) {
    ModuleWriter m = WithSamples();
    m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0xE, .param = c[0]});
    ModPlayer p;
    ASSERT_TRUE(Start(p, m));
    for (int tick = 0; tick < 6; ++tick) {
      Ticks(p, 1);
      const int expected = c[1] >= 0 && tick >= c[1] ? 0 : 32;
      EXPECT_EQ(p.channels[0].mixVolume, expected) << c[0] << " " << tick;
      EXPECT_EQ(p.channels[0].volume, expected) << c[0] << " " << tick;
    }
  }
}

TEST(Sequencer, SetFinetuneChangesTheSampleForTheRestOfTheRun) {
  ModuleWriter m = WithSamples();
  m.Put(0, 0, 0, {.sample = 1, .command = 0xE, .param = 0x5F});
  m.Put(0, 1, 0, {.sample = 1, .period = 428});
  m.Put(0, 2, 1, {.command = 0xE, .param = 0x53});  // no sample number: slot 0
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
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
  ASSERT_TRUE(Start(p, m));
  const int base = 104 - 1;  // sample 2: finetune -1
  for (int offset : {0, 24, 56, 0}) {
    Ticks(p, 1);
    EXPECT_FLOAT_EQ(p.channels[0].frequency, kClock / static_cast<float>(PeriodAt(base + offset))) << offset;
  }
  EXPECT_EQ(p.channels[0].period, PeriodAt(base));
  // Arpeggio and finetune reach past both ends of the table.
  EXPECT_EQ(PeriodAt(-20), 907);
  EXPECT_EQ(PeriodAt(295), 108);
  EXPECT_EQ(PeriodAt(400), 108);
}

// Which cells restart the sample, leave its place or set it (sample offset).
TEST(Sequencer, CellsRestartTheSampleOrNot) {
  constexpr std::int32_t kKept = 12345;
  const struct {
    const char* what;
    CellSpec cell;
    std::int32_t position;
  } cases[] = {{"bare note", {.period = 214}, 0},
               {"bare note with volume", {.period = 214, .command = 0xC, .param = 3}, kKept},
               {"sample only", {.sample = 1}, 0},
               {"sample with porta", {.sample = 1, .command = 0x3}, kKept},
               {"note with porta", {.period = 214, .command = 0x3, .param = 1}, kKept},
               {"nothing", {}, kKept},
               {"sample offset", {.sample = 1, .period = 214, .command = 0x9, .param = 3}, 3 * 256 * 1024}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ModuleWriter m = WithSamples();
    m.Put(0, 0, 0, {.sample = 1, .period = 428});
    m.Put(0, 1, 0, c.cell);
    ModPlayer p;
    ASSERT_TRUE(Start(p, m));
    Ticks(p, 6);
    p.channels[0].position = kKept;
    Ticks(p, 1);
    EXPECT_EQ(p.channels[0].position, c.position);
  }
}

TEST(Sequencer, MeasureSongFramesFollowsTicksAndJumps) {
  ModuleWriter m;  // two orders of 64 rows at speed 1: 128 ticks of 882 frames
  m.orders = {0, 0};
  m.Put(0, 0, 0, {.command = 0xF, .param = 1});
  ModPlayer p;
  std::vector<std::uint8_t> bytes = m.Bytes();
  ASSERT_EQ(LoadModule(p, bytes), 1);
  EXPECT_EQ(MeasureSongFrames(p, 3600LL * kOutputRate), 128 * 882);
  EXPECT_EQ(MeasureSongFrames(p, 1), 0);  // no repeat within the limit
  m.Put(0, 9, 1, {.command = 0xB, .param = 0});  // back to the start after ten rows
  bytes = m.Bytes();
  ASSERT_EQ(LoadModule(p, bytes), 1);
  EXPECT_EQ(MeasureSongFrames(p, 3600LL * kOutputRate), 10 * 882);
  EXPECT_EQ(p.orderPos, 0);  // left reset
  EXPECT_EQ(p.speed, 6);
}

}  // namespace
}  // namespace korvane
