// The loader, sequencer and mixer on modules built for the case at hand; then real modules from
// the shared corpus: the loader's facts against the manifest (written by an independent parser),
// a minute of rendering for every file, traps included, the exact output of a few, and the
// plausibility check.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "player/mod_player.h"
#include "player/module_check.h"
#include "tests/player/module_writer.h"
#include "tests/support/corpus.h"

namespace korvane {
namespace {

using namespace testing;

constexpr float kClock = 3579545.25f;

const ModCell& CellAt(const ModPlayer& p, int pattern, int row, int channel) {
  return p.patterns[(static_cast<std::size_t>(pattern) * 64 + row) * p.channelCount + channel];
}

// The blocks' samples, left and right interleaved: the PCM's byte order is the host's (x86).
std::vector<std::int16_t> Render(ModPlayer& p, int blocks = 1) {
  std::vector<std::int16_t> out(std::size_t(blocks) * 2 * kBlockFrames);
  for (int n = 0; n < blocks; ++n)
    EXPECT_EQ(RenderBlock(p, reinterpret_cast<std::uint8_t*>(&out[std::size_t(n) * 2 * kBlockFrames])), 1);
  return out;
}

// Every layout must find the same cells and sample bytes: a wrong pattern offset or channel
// count shifts both. Orders past the song length still count towards the patterns stored;
// the song length is kept within the order table.
TEST(Loader, ReadsEveryLayout) {
  const struct {
    const char* signature;
    int channels, slots, storedLength, songLength;
  } layouts[] = {{"M.K.", 4, 32, 3, 3},     {"FLT4", 4, 32, 0, 1}, {"FLT8", 8, 32, 129, 128},
                 {"6CHN", 6, 32, 255, 128}, {"8CHN", 8, 32, 3, 3}, {"", 4, 16, 3, 3}};
  for (const auto& c : layouts) {
    SCOPED_TRACE(c.signature);
    ModuleWriter m(c.signature);
    m.title = "layout test";
    m.samples[1] = {.finetuneByte = 8, .volume = 70, .data = Ramp(10)};
    m.samples[c.slots - 1] = {.name = "last", .finetuneByte = 7, .data = Ramp(6)};
    m.orders = {0, 1, 0, 5};
    m.songLength = c.storedLength;
    m.Put(5, 63, c.channels - 1, {.sample = c.slots - 1, .period = 428, .command = 0xC, .param = 0x20});
    m.Put(0, 0, 0, {.sample = 1, .period = 856, .command = 0xF, .param = 3});
    m.Put(0, 0, 1, {.sample = c.slots, .period = 428});  // a number without a slot reads as none
    ModPlayer p;
    ASSERT_EQ(LoadModule(p, m.Bytes()), 1);
    EXPECT_STREQ(p.title, "layout test");
    EXPECT_STREQ(p.signature, c.signature);
    EXPECT_STREQ(p.samples[c.slots - 1].name, "last");
    EXPECT_EQ((std::vector<int>{p.channelCount, p.sampleSlots, p.songLength, p.patternCount, p.orderTable[3]}),
              (std::vector<int>{c.channels, c.slots, c.songLength, 6, 5}));
    auto cell = [&](int pattern, int row, int channel) {
      const ModCell& x = CellAt(p, pattern, row, channel);
      return std::vector<int>{x.sample, x.note, x.command, x.param};
    };
    EXPECT_EQ(cell(5, 63, c.channels - 1), (std::vector<int>{c.slots - 1, 104, 0xC, 0x20}));
    EXPECT_EQ(cell(0, 0, 0), (std::vector<int>{1, 8, 0xF, 3}));
    EXPECT_EQ(cell(0, 0, 1), (std::vector<int>{0, 104, 0, 0}));
    EXPECT_EQ(cell(0, 1, 0), (std::vector<int>{0, -1, 0, 0}));
    // Length, volume as stored (limited where it is applied), finetune, first and last byte, guard.
    auto sample = [&](int slot) {
      const ModSample& s = p.samples[slot];
      return std::vector<int>{s.length, s.volume, s.finetune, s.data[0], s.data[s.length - 1], s.data[s.length]};
    };
    EXPECT_EQ(sample(1), (std::vector<int>{10, 70, -8, 1, 10, 0}));
    EXPECT_EQ(sample(c.slots - 1), (std::vector<int>{6, 64, 7, 1, 6, 0}));
  }
}

// A module cut anywhere is refused (header incomplete) or loads with the missing cells empty
// and the missing sample bytes silent, and plays; the sanitizer build watches for over-reads.
TEST(Loader, TruncatedModulesLoadWhatIsThereOrAreRefused) {
  for (const char* signature : {"M.K.", ""}) {
    ModuleWriter m(signature);
    m.orders = {0, 1};
    m.Put(1, 63, 3, {.sample = 2, .period = 214, .command = 0xA, .param = 1});
    m.samples[1] = {.data = Ramp(100), .loopStart = 10, .loopLength = 50};
    m.samples[2] = {.data = Ramp(60)};
    const std::vector<std::uint8_t> whole = m.Bytes();
    const std::size_t patternOffset = *signature ? 1084 : 600, sampleOffset = whole.size() - 160;
    for (std::size_t size = 0; size <= whole.size(); size += (size < patternOffset ? 97 : 13)) {
      SCOPED_TRACE(size);
      const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + size);  // exact size
      ModPlayer p;
      // Below 1084 bytes no signature can be seen; from 600 on they read as the 15-sample layout.
      ASSERT_EQ(LoadModule(p, cut.data(), cut.size()), size >= 600 ? 1 : 0);
      EXPECT_EQ(p.patterns == nullptr, size < 600);
      if (size < patternOffset) continue;
      EXPECT_EQ(p.samples[1].length, 100);
      EXPECT_EQ(CellAt(p, 1, 63, 3).note, size >= sampleOffset ? 200 : -1);
      const std::size_t present = size > sampleOffset ? size - sampleOffset : 0;
      for (std::size_t i = 0; i < 100; ++i)  // but 60, the loop partner
        ASSERT_EQ(p.samples[1].data[i], i == 60 ? p.samples[1].data[10] : i < present ? std::int8_t(i + 1) : 0) << i;
      ASSERT_EQ(ResetPlayState(p), 1);
      Render(p);
    }
  }
}

void Ticks(ModPlayer& p, int n) {
  for (int i = 0; i < n; ++i) BeginTick(p, p, SamplesPerTick(p.tempo));
}

// Sample 1 (volume 32) and sample 2 (finetune -1, volume 80) under the given cells, on rows
// 0, 1, ... of one channel; the song at its beginning.
bool StartWith(ModPlayer& p, const std::vector<CellSpec>& rows, int channel = 0) {
  ModuleWriter m;
  m.samples[1] = {.volume = 32, .data = std::vector<std::uint8_t>(64, 0x10)};
  m.samples[2] = {.finetuneByte = 15, .volume = 80, .data = std::vector<std::uint8_t>(64, 0x10)};
  for (std::size_t row = 0; row < rows.size(); ++row) m.Put(0, int(row), channel, rows[row]);
  return Start(p, m);
}

// A tick lasts 44100 / (2 * tempo / 5) frames, both divisions truncated. Speed acts at once (0
// starts a row on every tick, so row 1's tempo comes on the second). The first block keeps the
// tick length it started with; the tempo command's 1002 frames apply from the second block, and
// the last tick runs across into the third.
TEST(Sequencer, TempoTakesEffectFromTheNextBlockSpeedAtOnce) {
  const int cases[][2] = {{125, 882}, {126, 882}, {127, 882}, {128, 864}, {110, 1002}, {32, 3675}, {255, 432}};
  for (const auto& c : cases) EXPECT_EQ(SamplesPerTick(c[0]), c[1]) << c[0];
  ModPlayer p;
  ASSERT_TRUE(StartWith(p, {{.command = 0xF, .param = 0}, {.command = 0xF, .param = 110}}));
  Render(p);
  EXPECT_EQ((std::vector<int>{p.tempo, p.samplesLeftInTick, p.rowPos, p.tick}),
            (std::vector<int>{110, 0, 25, 0}));  // 25 ticks of 882 frames fill the block exactly
  Render(p);
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
    ModPlayer p;
    ASSERT_TRUE(StartWith(p, {{.sample = 1, .period = c.period, .command = c.command, .param = c.param}}, 1));
    Ticks(p, 6);
    const ModChannel& ch = p.channels[1];
    EXPECT_EQ((std::vector<int>{ch.period, ch.volume, ch.mixVolume}),
              (std::vector<int>{c.expectPeriod, c.expectVolume, c.expectVolume}));
    EXPECT_FLOAT_EQ(ch.frequency, kClock / static_cast<float>(ch.period));
  }
}

// A porta row's note only sets the target, 3 with param 0 keeps the speed, and 5 slides the
// volume as well; a sample given with either keeps the position, and the target takes the
// finetune of the cell's sample. The period stops at the target, from either side.
TEST(Sequencer, TonePortamentoWithAndWithoutANote) {
  ModPlayer p;
  ASSERT_TRUE(StartWith(p, {{.sample = 1, .period = 428},
                            {.period = 214, .command = 0x3, .param = 0x10},
                            {.command = 0x3, .param = 0x00},
                            {.command = 0x3, .param = 0xFF},
                            {.sample = 2, .period = 856, .command = 0x5, .param = 0x02}}));  // finetune -1, volume 64
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
  ModPlayer p;
  ASSERT_TRUE(StartWith(p, {{.sample = 1, .period = 428, .command = 0x4, .param = 0x48},
                            {.command = 0x4, .param = 0x06},
                            {.period = 428, .command = 0x4, .param = 0x00}}));
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
  ModPlayer p;
  ASSERT_TRUE(StartWith(p, {{.sample = 1, .period = 428, .command = 0x7, .param = 0x8F},
                            {.command = 0x7, .param = 0x00},
                            {.period = 214, .command = 0x7, .param = 0x50}}));
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
  for (const auto& [param, silentFrom] : cases) {
    ModPlayer p;
    ASSERT_TRUE(StartWith(p, {{.sample = 1, .period = 428, .command = 0xE, .param = param}}));
    for (int tick = 0; tick < 6; ++tick) {
      Ticks(p, 1);
      const int expected = silentFrom >= 0 && tick >= silentFrom ? 0 : 32;
      EXPECT_EQ((std::vector<int>{p.channels[0].mixVolume, p.channels[0].volume}), std::vector<int>(2, expected))
          << param << " " << tick;
    }
  }
}

TEST(Sequencer, SetFinetuneChangesTheSampleForTheRestOfTheRun) {
  ModPlayer p;
  ASSERT_TRUE(StartWith(p, {{.sample = 1, .command = 0xE, .param = 0x5F},
                            {.sample = 1, .period = 428},
                            {.command = 0xE, .param = 0x53}}));  // no sample number: slot 0, not the voice's
  Ticks(p, 7);
  EXPECT_EQ(p.samples[1].finetune, -1);
  EXPECT_EQ(p.channels[0].period, PeriodAt(104 - 1));
  Ticks(p, 6);
  EXPECT_EQ(p.samples[0].finetune, 3);
  ASSERT_EQ(ResetPlayState(p), 1);
  EXPECT_EQ(p.samples[1].finetune, -1);
}

// Arpeggio and finetune reach past both ends of the period table.
TEST(Sequencer, ArpeggioCyclesThroughThreePeriods) {
  ModPlayer p;
  ASSERT_TRUE(StartWith(p, {{.sample = 2, .period = 428, .command = 0x0, .param = 0x37}}));
  const int base = 104 - 1;  // sample 2: finetune -1
  for (int offset : {0, 24, 56, 0}) {
    Ticks(p, 1);
    EXPECT_FLOAT_EQ(p.channels[0].frequency, kClock / static_cast<float>(PeriodAt(base + offset))) << offset;
  }
  EXPECT_EQ(p.channels[0].period, PeriodAt(base));
  EXPECT_EQ((std::vector<int>{PeriodAt(-20), PeriodAt(295), PeriodAt(400)}), (std::vector<int>{907, 108, 108}));
}

// Which cells restart the sample, leave its place or set it (sample offset).
TEST(Sequencer, CellsRestartTheSampleOrNot) {
  constexpr std::int32_t kKept = 12345;
  const std::pair<CellSpec, std::int32_t> cases[] = {
      {{.period = 214}, 0},                                      // bare note
      {{.period = 214, .command = 0xC, .param = 3}, kKept},      // bare note with volume
      {{.sample = 1}, 0},                                        // sample only
      {{.sample = 1, .command = 0x3}, kKept},                    // sample with porta
      {{.period = 214, .command = 0x3, .param = 1}, kKept},      // note with porta
      {{}, kKept},                                               // nothing
      {{.sample = 1, .period = 214, .command = 0x9, .param = 3}, 3 * 256 * 1024}};  // sample offset
  for (const auto& [cell, position] : cases) {
    ModPlayer p;
    ASSERT_TRUE(StartWith(p, {{.sample = 1, .period = 428}, cell}));
    Ticks(p, 6);
    p.channels[0].position = kKept;
    Ticks(p, 1);
    EXPECT_EQ(p.channels[0].position, position) << cell.sample << " " << cell.period << " " << cell.command;
  }
}

TEST(Sequencer, MeasureSongFramesFollowsTicksAndJumps) {
  ModuleWriter m;  // two orders of 64 rows at speed 2: 256 ticks of 882 frames, rows fetched on every other
  m.orders = {0, 0};
  m.Put(0, 0, 0, {.command = 0xF, .param = 2});
  ModPlayer p;
  ASSERT_EQ(LoadModule(p, m.Bytes()), 1);
  EXPECT_EQ(MeasureSongFrames(p, 3600LL * kOutputRate), 256 * 882);
  EXPECT_EQ(MeasureSongFrames(p, 1), 0);  // no repeat within the limit
  m.Put(0, 9, 1, {.command = 0xB, .param = 0});  // back to the start after ten rows
  ASSERT_EQ(LoadModule(p, m.Bytes()), 1);
  EXPECT_EQ(MeasureSongFrames(p, 3600LL * kOutputRate), 20 * 882);
  EXPECT_EQ(p.orderPos, 0);  // left reset
  EXPECT_EQ(p.speed, 6);
}

// left[i] = accL[i] + accR[i - 1002], and the same the other way, across blocks too. Notes
// of constant level fall silent on rows 2, 3 and 4 (ticks of 882 frames, rows of 6 ticks);
// the last lies in the first block's final 1002 frames, which the second block hears. A
// sample number before any note (frequency 0) is silent and keeps its place.
TEST(Mixer, CrossFeedAddsTheOtherSideDelayed) {
  ModuleWriter m;
  const int levels[] = {0x40, 0x20, 0x10}, silentRow[] = {2, 4, 3};  // channel 0 left, 1 and 2 right
  for (int c = 0; c < 3; ++c) {
    m.samples[1 + c] = Level(std::uint8_t(levels[c]));
    m.Put(0, 0, c, {.sample = 1 + c, .period = 428});
    m.Put(0, silentRow[c], c, {.command = 0xC, .param = 0});
  }
  m.Put(0, 0, 3, {.sample = 1});  // left
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  const std::vector<std::int16_t> out = Render(p, 2);
  auto acc = [&](int c, int i) { return i >= 0 && i < silentRow[c] * 6 * 882 ? 64 * levels[c] : 0; };
  for (int i = 0; i < 2 * kBlockFrames; ++i) {
    const int j = i - kDelayFrames;
    ASSERT_EQ(out[2 * i], acc(0, i) + acc(1, j) + acc(2, j)) << i;
    ASSERT_EQ(out[2 * i + 1], acc(1, i) + acc(2, i) + acc(0, j)) << i;
  }
  EXPECT_EQ(p.channels[3].sample, 1);
  EXPECT_EQ(p.channels[3].position, 0);
  EXPECT_EQ(p.channels[3].frequency, 0.0f);
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
    const std::vector<std::int16_t> out = Render(p);
    for (int i = 0; i < 2 * kBlockFrames; ++i)  // left and right alike
      ASSERT_EQ(out[i], i / 2 < kDelayFrames ? c.own : c.both) << int(c.byte) << " " << i;
  }
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
  for (int i = 0; i < 7; ++i)
    m.samples[1 + i] = {.data = Ramp(20), .loopStart = cases[i].start, .loopLength = cases[i].length};
  ModPlayer p;
  ASSERT_TRUE(Start(p, m));
  for (int slot = 1; slot <= 7; ++slot) {
    const auto& c = cases[slot - 1];
    SCOPED_TRACE(slot);
    const ModSample& s = p.samples[slot];
    EXPECT_EQ((std::vector<int>{s.loops != 0, s.loopEnd, s.loopLength}),
              (std::vector<int>{c.loops, c.loopEnd, c.length}));
    for (int i = 0; i <= 20; ++i)
      ASSERT_EQ(s.data[i], c.loops && i == c.loopEnd ? c.start + 1 : i < 20 ? i + 1 : 0) << i;
    ModChannel& ch = p.channels[0];  // straight at the sample, one byte a frame, past the sequencer
    ch.sample = slot;
    ch.frequency = 1024.5f * 44100.0f / 1024.0f;
    ch.volume = ch.mixVolume = 64;
    ch.position = 0;
    std::vector<std::int32_t> l(40), r(40);
    MixChannels(l.data(), r.data(), 40, p, p.channels.get(), p);  // the sanitizer build watches the loops' reads
    if (c.loops) continue;
    for (int i = 0; i < 40; ++i) ASSERT_EQ(l[i], i < 20 ? 64 * (i + 1) : 0) << i;
    EXPECT_EQ(ch.position, 20 * 1024);
    MixChannels(l.data(), r.data(), 40, p, p.channels.get(), p);
    EXPECT_EQ(ch.position, 20 * 1024);
  }
}

// Every file, traps included, either is refused or loads and renders without a sanitizer
// report; songs with sample data must make some sound in the first minute. The command-line
// player's plausibility check takes every real module. Traps' facts are another reader's.
// The first half minute of a few modules (4, 6 and 8 channels, 15 samples, loop and offset
// quirks) is compared as CRC-32 of the PCM, taken from the renderer before its speed work:
// tuning the mixer must not change a single sample.
TEST(PlayerCorpus, EveryModuleLoadsAsTheManifestSaysAndRendersSafely) {
  if (!HaveCorpus()) GTEST_SKIP() << "no module corpus";
  const std::map<std::string, std::uint32_t> crcs = {
      {"qb64mp__space_debris.mod", 0xD142C2ACu},          {"libxmp__cant.mod", 0x17D3D4EBu},
      {"qb64mp__starg12.mod", 0xEECC2A5Du},               {"qb64mp__necros-the_traveler.mod", 0xB41DA49Eu},
      {"qb64mp__SampleLoopQuirks.fst.mod", 0x54ED63D6u},  {"qb64mp__SetSampleOffsetQuirks.mod", 0x297FF0B0u},
      {"qb64mp__offsetweird.mod", 0x299EAB00u}};
  std::vector<std::uint8_t> pcm(kBlockBytes);
  int checked = 0;
  std::size_t compared = 0;
  for (const ManifestRow& row : ReadManifest(CorpusDir() + "/mod/MANIFEST.tsv")) {
    const std::string& file = row.at("file");
    const bool trap = row.at("category") == "trap";
    std::vector<std::uint8_t> bytes = ReadWholeFile(CorpusDir() + "/mod/" + file);
    bytes.shrink_to_fit();  // exact size: a read past the module's end leaves the allocation
    EXPECT_TRUE(trap || LooksLikeModule(bytes.data(), bytes.size())) << file;
    ModPlayer p;
    if (LoadModule(p, bytes) == 0) {
      EXPECT_TRUE(trap) << file << " was refused";
      continue;
    }
    if (!trap) {
      const std::string signature = row.at("signature") == "(none)" ? "" : row.at("signature");
      EXPECT_EQ(p.signature, signature) << file;
      long long withData = 0, sampleBytes = 0;
      for (int s = 1; s < p.sampleSlots; ++s) {
        withData += p.samples[s].length > 0;
        sampleBytes += p.samples[s].length;
      }
      const std::pair<const char*, long long> facts[] = {{"channels", p.channelCount}, {"songLength", p.songLength},
                                                         {"patterns", p.patternCount}, {"samples_with_data", withData},
                                                         {"sample_bytes", sampleBytes}};
      for (const auto& [column, value] : facts)
        EXPECT_EQ(std::to_string(value), row.at(column)) << file << " " << column;
      ++checked;
    }
    ASSERT_EQ(ResetPlayState(p), 1) << file;
    bool sound = false;
    std::uint32_t running = 0xFFFFFFFFu;
    for (int b = 0; b < 120; ++b) {
      ASSERT_EQ(RenderBlock(p, pcm.data()), 1) << file;
      sound = sound || std::any_of(pcm.begin(), pcm.end(), [](std::uint8_t byte) { return byte != 0; });
      if (b < 60) running = UpdateCrc32(running, pcm);
    }
    EXPECT_TRUE(sound || row.at("category") != "music") << file << " stayed silent";
    if (crcs.count(file)) {
      EXPECT_EQ(~running, crcs.at(file)) << file;
      ++compared;
    }
  }
  EXPECT_GT(checked, 100);
  EXPECT_EQ(compared, crcs.size());
}

// The plausibility check refuses the other files of the corpus (archives, pictures, manifests)
// as well as 15-sample headers spoilt in each of the ways it looks for.
TEST(PlayerCorpus, PlausibilityCheckRefusesOtherFiles) {
  if (!HaveCorpus()) GTEST_SKIP() << "no module corpus";
  for (const char* other : {"/rar/MANIFEST.tsv", "/mod/MANIFEST.tsv", "/rar/dos250__SOLID.RAR", "/pcx/MANIFEST.tsv"}) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(CorpusDir() + other);
    EXPECT_FALSE(LooksLikeModule(bytes.data(), bytes.size())) << other;
  }
  const std::vector<std::uint8_t> m15 = ReadWholeFile(CorpusDir() + "/mod/libxmp__cant.mod");
  ASSERT_TRUE(LooksLikeModule(m15.data(), m15.size()));
  const struct {
    std::size_t offset;
    std::uint8_t value;
  } spoilt[] = {{20 + 24, 16}, {20 + 14 * 30 + 25, 65}, {470, 0}, {470, 129}, {472, 128}, {599, 127}};
  for (const auto& s : spoilt) {
    std::vector<std::uint8_t> bytes = m15;
    bytes[s.offset] = s.value;
    EXPECT_FALSE(LooksLikeModule(bytes.data(), bytes.size())) << s.offset << " = " << int{s.value};
  }
  EXPECT_FALSE(LooksLikeModule(m15.data(), 600 + 1024));  // patterns missing
}

}  // namespace
}  // namespace korvane
