#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "player/mod_player.h"
#include "tests/player/module_writer.h"

namespace korvane {
namespace {

using testing::CellSpec;
using testing::Constant;
using testing::ModuleWriter;
using testing::SampleSpec;

std::vector<std::uint8_t> Ramp(int n) {
  std::vector<std::uint8_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 3 + 1);
  return v;
}

const ModCell& CellAt(const ModPlayer& p, int pattern, int row, int channel) {
  return p.patterns[(static_cast<std::size_t>(pattern) * 64 + row) * p.channelCount + channel];
}

struct LayoutCase {
  const char* signature;
  int channels;
  int slots;
};

class LoaderLayouts : public ::testing::TestWithParam<LayoutCase> {};

// Every layout must find the same cells and the same sample bytes: a wrong pattern offset
// or channel count shifts both.
TEST_P(LoaderLayouts, ReadsCellsAndSampleDataAtTheLayoutsOffsets) {
  const LayoutCase& c = GetParam();
  ModuleWriter m(c.signature);
  m.SetTitle("layout test");
  m.AddSample(1, {.name = "first", .volume = 40, .data = Ramp(10)});
  m.AddSample(c.slots - 1, {.name = "last", .volume = 64, .data = Ramp(6)});
  m.SetOrders({0, 1, 0});
  m.Put(1, 63, c.channels - 1, {.sample = c.slots - 1, .period = 428, .command = 0xC, .param = 0x20});
  m.Put(0, 0, 0, {.sample = 1, .period = 856, .command = 0xF, .param = 3});
  std::vector<std::uint8_t> bytes = m.Bytes();

  ModPlayer p;
  ASSERT_EQ(LoadModule(p, bytes.data(), bytes.size()), 1);
  EXPECT_STREQ(p.title, "layout test");
  EXPECT_STREQ(p.signature, c.signature);
  EXPECT_EQ(p.channelCount, c.channels);
  EXPECT_EQ(p.sampleSlots, c.slots);
  EXPECT_EQ(p.songLength, 3);
  EXPECT_EQ(p.patternCount, 2);
  EXPECT_EQ(p.orderTable[1], 1);
  const ModCell& last = CellAt(p, 1, 63, c.channels - 1);
  EXPECT_EQ(last.sample, c.slots - 1);
  EXPECT_EQ(last.note, 104);
  EXPECT_EQ(last.command, 0xC);
  EXPECT_EQ(last.param, 0x20);
  EXPECT_EQ(CellAt(p, 0, 0, 0).note, 8);
  EXPECT_EQ(CellAt(p, 0, 0, 1).note, -1);
  EXPECT_STREQ(p.samples[1].name, "first");
  EXPECT_EQ(p.samples[1].volume, 40);
  ASSERT_EQ(p.samples[1].length, 10);
  EXPECT_EQ(static_cast<std::uint8_t>(p.samples[1].data[9]), Ramp(10)[9]);
  EXPECT_EQ(p.samples[1].data[10], 0);  // guard
  ASSERT_EQ(p.samples[c.slots - 1].length, 6);
  EXPECT_EQ(static_cast<std::uint8_t>(p.samples[c.slots - 1].data[0]), Ramp(6)[0]);
  EXPECT_EQ(p.samples[0].length, 0);
  EXPECT_EQ(p.samples[0].data, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Signatures, LoaderLayouts,
                         ::testing::Values(LayoutCase{"M.K.", 4, 32}, LayoutCase{"FLT4", 4, 32},
                                           LayoutCase{"FLT8", 8, 32}, LayoutCase{"6CHN", 6, 32},
                                           LayoutCase{"8CHN", 8, 32}, LayoutCase{"", 4, 16}));

TEST(Loader, ReadWordLengthDoublesTheBigEndianWordAndAdvances) {
  const std::uint8_t bytes[] = {0x12, 0x34, 0xFF, 0xFF};
  std::size_t cursor = 0;
  EXPECT_EQ(ReadWordLength(bytes, cursor), 0x2468);
  EXPECT_EQ(cursor, 2u);
  EXPECT_EQ(ReadWordLength(bytes, cursor), 131070);
  EXPECT_EQ(cursor, 4u);
}

TEST(Loader, NoteIndicesFromPeriods) {
  const struct {
    std::int32_t period, note;
  } cases[] = {{856, 8}, {428, 104}, {214, 200}, {113, 288}, {907, 0}, {808, 16}, {0, -1}, {1000, -14}};
  for (const auto& c : cases) EXPECT_EQ(NoteFromPeriod(c.period), c.note) << c.period;
  EXPECT_LT(NoteFromPeriod(911), 0);
  EXPECT_GE(NoteFromPeriod(910), 0);
}

TEST(Loader, FinetuneBytesAndHeaderFields) {
  ModuleWriter m;
  m.AddSample(1, {.finetuneByte = 15, .data = Ramp(4)});
  m.AddSample(2, {.finetuneByte = 8, .data = Ramp(4)});
  m.AddSample(3, {.finetuneByte = 7, .volume = 70, .data = Ramp(4)});
  std::vector<std::uint8_t> bytes = m.Bytes();
  ModPlayer p;
  ASSERT_EQ(LoadModule(p, bytes), 1);
  EXPECT_EQ(p.samples[1].finetune, -1);
  EXPECT_EQ(p.samples[2].finetune, -8);
  EXPECT_EQ(p.samples[3].finetune, 7);
  EXPECT_EQ(p.samples[3].volume, 70);  // taken as stored; limited where it is applied
}

TEST(Loader, LoopsCopyTheLoopStartByteToTheLoopEnd) {
  ModuleWriter m;
  m.AddSample(1, {.data = Ramp(20), .loopStart = 4, .loopLength = 10});
  m.AddSample(2, {.data = Ramp(20), .loopStart = 0, .loopLength = 2});   // one word: plays once
  m.AddSample(3, {.data = Ramp(20), .loopStart = 12, .loopLength = 16});  // runs past the end
  std::vector<std::uint8_t> bytes = m.Bytes();
  ModPlayer p;
  ASSERT_EQ(LoadModule(p, bytes), 1);
  const ModSample& a = p.samples[1];
  EXPECT_EQ(a.loopEnd, 14);
  EXPECT_TRUE(a.loops);
  EXPECT_EQ(a.data[14], a.data[4]);
  const ModSample& b = p.samples[2];
  EXPECT_EQ(b.loopEnd, 2);
  EXPECT_FALSE(b.loops);
  EXPECT_EQ(static_cast<std::uint8_t>(b.data[2]), Ramp(20)[2]);  // untouched
  const ModSample& c = p.samples[3];
  EXPECT_EQ(c.loopEnd, 20);
  EXPECT_EQ(c.loopLength, 16);  // keeps its stored value
  EXPECT_TRUE(c.loops);
  EXPECT_EQ(c.data[20], c.data[12]);
}

// Loops the mixer could not wrap safely are played once, and their guard byte stays zero.
TEST(Loader, UnplayableLoopsPlayOnce) {
  ModuleWriter m;
  m.AddSample(1, {.data = Ramp(20), .loopStart = 24, .loopLength = 8});   // starts past the end
  m.AddSample(2, {.data = Ramp(20), .loopStart = 10, .loopLength = 0});   // no length
  m.AddSample(3, {.data = Ramp(20), .loopStart = 6, .loopLength = 40});   // longer than loopEnd
  m.AddSample(4, {.data = Ramp(20), .loopStart = 20, .loopLength = 4});   // starts at the end
  std::vector<std::uint8_t> bytes = m.Bytes();
  ModPlayer p;
  ASSERT_EQ(LoadModule(p, bytes), 1);
  for (int slot = 1; slot <= 4; ++slot) {
    EXPECT_FALSE(p.samples[slot].loops) << slot;
    EXPECT_EQ(p.samples[slot].data[20], 0) << slot;
    EXPECT_LE(p.samples[slot].loopEnd, 20) << slot;
  }
}

TEST(Loader, OrderEntriesAfterSongLengthRaisePatternCountAndAreRead) {
  ModuleWriter m;
  m.SetOrders({0, 1, 5}, 2);
  m.Put(5, 10, 2, {.sample = 3, .period = 214});
  m.AddSample(3, {.data = Ramp(8)});
  std::vector<std::uint8_t> bytes = m.Bytes();
  ModPlayer p;
  ASSERT_EQ(LoadModule(p, bytes), 1);
  EXPECT_EQ(p.songLength, 2);
  EXPECT_EQ(p.patternCount, 6);
  EXPECT_EQ(CellAt(p, 5, 10, 2).note, 200);
  EXPECT_EQ(static_cast<std::uint8_t>(p.samples[3].data[7]), Ramp(8)[7]);
}

TEST(Loader, SampleNumbersWithoutASlotReadAsNone) {
  ModuleWriter m("");  // 16 slots: 16 and above have none
  m.Put(0, 0, 0, {.sample = 16, .period = 428});
  m.Put(0, 0, 1, {.sample = 15, .period = 428});
  std::vector<std::uint8_t> bytes = m.Bytes();
  ModPlayer p;
  ASSERT_EQ(LoadModule(p, bytes), 1);
  EXPECT_EQ(CellAt(p, 0, 0, 0).sample, 0);
  EXPECT_EQ(CellAt(p, 0, 0, 0).note, 104);
  EXPECT_EQ(CellAt(p, 0, 0, 1).sample, 15);
}

TEST(Loader, SongLengthIsKeptWithinTheOrderTable) {
  for (int stored : {0, 129, 255}) {
    ModuleWriter m;
    m.SetSongLengthByte(stored);
    std::vector<std::uint8_t> bytes = m.Bytes();
    ModPlayer p;
    ASSERT_EQ(LoadModule(p, bytes), 1);
    EXPECT_GE(p.songLength, 1) << stored;
    EXPECT_LE(p.songLength, 128) << stored;
  }
}

// A block that stops anywhere must either be refused (header incomplete) or load with the
// missing bytes silent; never read past its end (the sanitizer build watches the copies).
TEST(Loader, TruncatedModulesLoadWhatIsThereOrAreRefused) {
  for (const char* signature : {"M.K.", ""}) {
    ModuleWriter m(signature);
    m.SetOrders({0, 1});
    m.Put(1, 63, 3, {.sample = 2, .period = 214, .command = 0xA, .param = 1});
    m.AddSample(1, {.data = Ramp(100), .loopStart = 10, .loopLength = 50});
    m.AddSample(2, {.data = Ramp(60)});
    const std::vector<std::uint8_t> whole = m.Bytes();
    const std::size_t patternOffset = m.PatternOffset();
    const std::size_t sampleOffset = m.SampleDataOffset();
    for (std::size_t size = 0; size <= whole.size(); size += (size < patternOffset ? 97 : 13)) {
      // An exact-size copy so that any read past the end is outside the allocation.
      std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + size);
      ModPlayer p;
      const int loaded = LoadModule(p, cut.data(), cut.size());
      // Below the pattern data of the 31-sample layout a signature cannot be seen, and the
      // bytes are read as the 15-sample layout when they are long enough for it.
      if (size < 600) {
        EXPECT_EQ(loaded, 0) << size;
        EXPECT_EQ(p.patterns, nullptr);
        continue;
      }
      ASSERT_EQ(loaded, 1) << size;
      if (size < patternOffset) continue;
      EXPECT_EQ(p.samples[1].length, 100);
      const ModCell& cell = CellAt(p, 1, 63, 3);
      const bool cellPresent = size >= sampleOffset;
      EXPECT_EQ(cell.note, cellPresent ? 200 : -1) << size;
      const std::size_t present = size > sampleOffset ? size - sampleOffset : 0;
      for (std::size_t i = 0; i < 100; ++i) {
        if (i == 60) continue;  // loopEnd: holds the loop start's byte
        ASSERT_EQ(static_cast<std::uint8_t>(p.samples[1].data[i]), i < present ? Ramp(100)[i] : 0) << size;
      }
      std::vector<std::uint8_t> rendered(kBlockBytes);
      ASSERT_EQ(ResetPlayState(p), 1);
      EXPECT_EQ(RenderBlock(p, rendered.data()), 1);
    }
  }
}

TEST(Loader, FreeModuleReleasesAndTheRecordLoadsAgain) {
  ModuleWriter m("8CHN");
  m.AddSample(1, {.data = Ramp(30)});
  std::vector<std::uint8_t> bytes = m.Bytes();
  ModPlayer p;
  ASSERT_EQ(LoadModule(p, bytes), 1);
  ASSERT_EQ(ResetPlayState(p), 1);
  FreeModule(p);
  EXPECT_EQ(p.patterns, nullptr);
  EXPECT_EQ(p.samples, nullptr);
  EXPECT_EQ(p.delayLeft, nullptr);
  EXPECT_EQ(p.channelCount, 0);
  std::vector<std::uint8_t> pcm(kBlockBytes, 0xAA);
  EXPECT_EQ(RenderBlock(p, pcm.data()), 0);
  EXPECT_EQ(pcm, std::vector<std::uint8_t>(kBlockBytes, 0));
  ModuleWriter four;
  std::vector<std::uint8_t> again = four.Bytes();
  ASSERT_EQ(LoadModule(p, again), 1);
  EXPECT_EQ(p.channelCount, 4);
}

}  // namespace
}  // namespace korvane
