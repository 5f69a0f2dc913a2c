#include <gtest/gtest.h>

#include <vector>

#include "player/mod_player.h"
#include "tests/player/module_writer.h"

namespace korvane {
namespace {

using namespace testing;

const ModCell& CellAt(const ModPlayer& p, int pattern, int row, int channel) {
  return p.patterns[(static_cast<std::size_t>(pattern) * 64 + row) * p.channelCount + channel];
}

// Every layout must find the same cells and sample bytes: a wrong pattern offset or channel
// count shifts both. Orders past the song length still count towards the patterns stored.
TEST(Loader, ReadsEveryLayout) {
  const struct {
    const char* signature;
    int channels, slots;
  } layouts[] = {{"M.K.", 4, 32}, {"FLT4", 4, 32}, {"FLT8", 8, 32}, {"6CHN", 6, 32}, {"8CHN", 8, 32}, {"", 4, 16}};
  for (const auto& c : layouts) {
    SCOPED_TRACE(c.signature);
    ModuleWriter m(c.signature);
    m.title = "layout test";
    m.samples[1] = {.finetuneByte = 8, .volume = 70, .data = Ramp(10)};
    m.samples[c.slots - 1] = {.name = "last", .finetuneByte = 7, .data = Ramp(6)};
    m.orders = {0, 1, 0, 5};
    m.songLength = 3;
    m.Put(5, 63, c.channels - 1, {.sample = c.slots - 1, .period = 428, .command = 0xC, .param = 0x20});
    m.Put(0, 0, 0, {.sample = 1, .period = 856, .command = 0xF, .param = 3});
    m.Put(0, 0, 1, {.sample = c.slots, .period = 428});  // a number without a slot reads as none
    const std::vector<std::uint8_t> bytes = m.Bytes();
    ModPlayer p;
    ASSERT_EQ(LoadModule(p, bytes), 1);
    EXPECT_STREQ(p.title, "layout test");
    EXPECT_STREQ(p.signature, c.signature);
    EXPECT_STREQ(p.samples[c.slots - 1].name, "last");
    EXPECT_EQ((std::vector<int>{p.channelCount, p.sampleSlots, p.songLength, p.patternCount, p.orderTable[3]}),
              (std::vector<int>{c.channels, c.slots, 3, 6, 5}));
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

TEST(Loader, SongLengthIsKeptWithinTheOrderTable) {
  for (int stored : {0, 129, 255}) {
    ModuleWriter m;
    m.songLength = stored;
    const std::vector<std::uint8_t> bytes = m.Bytes();
    ModPlayer p;
    ASSERT_EQ(LoadModule(p, bytes), 1);
    EXPECT_EQ(p.songLength, stored == 0 ? 1 : 128) << stored;
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
      std::vector<std::uint8_t> pcm(kBlockBytes);
      ASSERT_EQ(ResetPlayState(p), 1);
      EXPECT_EQ(RenderBlock(p, pcm.data()), 1);
    }
  }
}

TEST(Loader, AFreedRecordRendersSilenceAndLoadsAgain) {
  ModPlayer p;
  ModuleWriter eight("8CHN");
  eight.samples[1] = {.data = Ramp(30)};
  ASSERT_TRUE(Start(p, eight));
  FreeModule(p);
  std::vector<std::uint8_t> pcm(kBlockBytes, 0xAA);
  EXPECT_EQ(RenderBlock(p, pcm.data()), 0);
  EXPECT_EQ(pcm, std::vector<std::uint8_t>(kBlockBytes, 0));
  ASSERT_TRUE(Start(p, ModuleWriter()));
  EXPECT_EQ(p.channelCount, 4);
  EXPECT_EQ(RenderBlock(p, pcm.data()), 1);
}

}  // namespace
}  // namespace korvane
