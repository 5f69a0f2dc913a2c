// The archive reader on hand-built archives, for what the corpus does not hold: damaged chains
// and implausible headers, volume naming, and the packed input of an entry across volumes.
#include "engine/data_io.h"
#include "engine/entry_walk.h"
#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

TEST(VolumeNaming, NextName) {
  const struct {
    const char* From;
    const char* To;  // nullptr: no room, name unchanged
    std::size_t Capacity = 64;
  } cases[] = {{"name.rar", "name.r00"},   {"NAME.RAR", "NAME.R00"},     {"setup.exe", "setup.r00"},
               {"SETUP.EXE", "SETUP.r00"}, {"data", "data.r00"},         {"name.", "name.r00"},
               {"name.r00", "name.r01"},   {"name.r09", "name.r10"},     {"name.r99", "name.s00"},
               {"name.R99", "name.S00"},   {"name.998", "name.999"},     {"name.999", "name.A00"},
               {"a.b.exe", "a.b.r00"},     {"x.r", "x.r00"},             {"x.r5", "x.r00"},
               {"x.rar5", "x.r00"},        {"x.r0012", "x.r0112"},
               // A dot in a directory name is not the extension.
               {"disk.1\\data", "disk.1\\data.r00"}, {"disk.1/set.r41", "disk.1/set.r42"},
               {"abcdefg.rar", nullptr, 12},  // needs 4 more than the 11 characters and the zero
               {"abcdefg.rar", "abcdefg.r00", 16}};
  for (const auto& c : cases) {
    char name[64] = {};
    std::strcpy(name, c.From);
    EXPECT_EQ(AdvanceVolumeName(name, c.Capacity), c.To != nullptr) << c.From;
    EXPECT_STREQ(name, c.To != nullptr ? c.To : c.From);
  }
}

TEST(Percent, ScalesDownAboveTenThousandAndSurvivesSizesPast2GiB) {
  const std::int32_t cases[][3] = {{0, 0, 0},       {5000, 20000, 25},   {15000, 20000, 75}, {300, 200, 100},
                                   {10000, 10001, 99}, {10050, 99, 0},  // total scaled down to 0
                                   {-2000000000, -1000000000, 200}, {2147483647, 2147483647, 100}};
  for (const auto& c : cases) EXPECT_EQ(PercentOf(c[0], c[1]), c[2]) << c[0] << " of " << c[1];
}

class ReaderTest : public EngineTest {
 protected:
  // Writes and opens bytes; then NextBlock's result for the first entry.
  std::uint32_t OpenFirst(const Bytes& bytes) {
    if (!Open(Write("a.rar", bytes))) return 0;
    return NextBlock(Reader, kFileHead, true);
  }
  void SkipData() { Reader.Input.Seek(Reader.Archive.NextBlockPos, kSeekStart); }
};

// A header whose sizes do not move the walk forward must end it like the end of the file,
// keeping the last good entry.
TEST_F(ReaderTest, DamagedChainEndsTheWalk) {
  const struct {
    const char* What;
    int HeadSize;
    std::int64_t PackSize;
  } cases[] = {{"head size 0", 0, -1},
               {"head size 6", 6, -1},
               {"stands still", 38, 0x100000000LL - 38},  // 32 + 6 bytes of header: lands on itself
               {"wraps backwards", 38, 0xFFFFFFFFLL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    EntrySpec broken = StoredEntry("broken", BytesOf("data"));
    broken.HeadSize = c.HeadSize;
    broken.PackSize = c.PackSize;
    ASSERT_NE(OpenFirst(Archive({StoredEntry("good", BytesOf("g")), broken, StoredEntry("never", BytesOf("n"))})), 0u);
    SkipData();
    EXPECT_EQ(NextBlock(Reader, kFileHead, true), 0u);
    EXPECT_EQ(Reader.Archive.Block.HeadType, 0);
    EXPECT_STREQ(Reader.Archive.EntryName, "good");
    EXPECT_EQ(Reader.Archive.File.PackSize, 1u);
  }
}

// A name longer than the reader holds is marked, for the driver to fail; the walk goes on.
TEST_F(ReaderTest, LongNamesAreMarkedAndAttributesFollowTheHostSystem) {
  const std::string longer(kMaxNameBytes + 41, 'n');
  ASSERT_EQ(OpenFirst(Archive({StoredEntry(longer, BytesOf("x")), StoredEntry("short", BytesOf("y"))})),
            32u + kMaxNameBytes);
  EXPECT_EQ(std::string(Reader.Archive.EntryName), longer.substr(0, kMaxNameBytes));
  EXPECT_TRUE(Reader.Archive.NameTooLong);
  SkipData();
  ASSERT_NE(NextBlock(Reader, kFileHead, true), 0u);
  EXPECT_STREQ(Reader.Archive.EntryName, "short");
  EXPECT_FALSE(Reader.Archive.NameTooLong);
  const struct {
    std::uint8_t HostOs;
    std::uint16_t Flags;
    std::uint32_t Attr, WantAttr;
    std::uint8_t WantHost;
  } cases[] = {{0, 0x00E0, 0x21, 0x21, 0}, {3, 0x00C0, 0x41ED, 0x20, 3},  // only all three bits mean a directory
               {5, 0x00E0, 0x20, 0x10, 0}, {4, 0, 0x10, 0x20, 0}};         // unknown systems: Unix rules, host 0
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "host " << int{c.HostOs} << " attr " << c.Attr);
    EntrySpec e = StoredEntry("x", {});
    e.HostOS = c.HostOs;
    e.Flags = c.Flags;
    e.Attr = c.Attr;
    ASSERT_NE(OpenFirst(Archive({e})), 0u);
    EXPECT_EQ(Reader.Archive.File.FileAttr, c.WantAttr);
    EXPECT_EQ(Reader.Archive.File.HostOS, c.WantHost);
  }
}

// The old layout has no header CRC: implausible fields are what reject a header.
TEST_F(ReaderTest, OldHeaders) {
  ArchiveWriter w(true);
  w.Main(0xC8).File(StoredEntry("DIR/OLD.TXT", BytesOf("abc"), true));
  ASSERT_EQ(OpenFirst(w.Data()), 21u + 11u);
  EXPECT_EQ(Reader.Archive.Main.HeadFlags, 0x08);  // the low six flag bits
  EXPECT_STREQ(Reader.Archive.EntryName, "DIR\\OLD.TXT");
  const struct {
    const char* What;
    std::uint8_t Method;
    int NameSize;
    std::uint8_t UnpVer;
    int HeadSize;
    std::uint16_t Flags;
    std::int64_t PackSize;
    int WantVer;  // 0: rejected
  } cases[] = {{"plain", 0, -1, 2, -1, 0, -1, 13},
               {"version 1", 0, -1, 1, -1, 0, -1, 10},
               {"method 7", 7, -1, 2, -1, 0, -1, 13},
               {"method 8", 8, -1, 2, -1, 0, -1, 0},
               {"name 0", 0, 0, 2, 21, 0, -1, 0},
               {"name 81", 0, 81, 2, 102, 0, -1, 0},
               {"version 0", 0, -1, 0, -1, 0, -1, 0},
               {"version 21", 0, -1, 21, -1, 0, -1, 0},
               {"head 21 with flag 8", 0, -1, 2, 21, 8, -1, 0},
               {"larger head, low flags", 0, -1, 2, 40, 0, -1, 0},
               {"larger head with flag 8", 0, -1, 2, 40, 8, -1, 13},
               {"packed size wraps onto itself", 0, -1, 2, -1, 0, 0x100000000LL - 7 - 29, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    EntrySpec e = StoredEntry("NAME.TXT", BytesOf("x"), true);
    e.Method = c.Method;
    e.NameSize = c.NameSize;
    e.UnpVer = c.UnpVer;
    e.HeadSize = c.HeadSize;
    e.Flags = c.Flags;
    e.PackSize = c.PackSize;
    const bool accepted = OpenFirst(Archive({e}, true)) != 0;
    EXPECT_EQ(accepted, c.WantVer != 0);
    if (accepted) {
      EXPECT_EQ(Reader.Archive.File.UnpVer, c.WantVer);
    }
  }
}

// Every read is served in full across volume moves (one read may span several), each move with
// its "..." status, so the decoders never see a gap or a short read in the middle of an entry.
TEST_F(ReaderTest, EntryOverThreeVolumesIsReadWithoutAGapOrAShortRead) {
  Bytes content(5000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  for (const std::uint32_t step : {1u, 13u, 700u, 4096u}) {
    SCOPED_TRACE(step);
    Job.CurrentVolume = 1;
    WriteSet("set", StoredVolumeSet({{"big.bin", content, {1234, 3000}}}));
    ASSERT_TRUE(Open(Dir.File("set.rar")));
    ASSERT_EQ(NextEntry(Reader, Job), WalkStep::kEntry);
    Reader.PackedLeft = Reader.Archive.File.PackSize;
    Bytes out, buffer(step);
    while (std::uint32_t n = ReadPackedData(Reader, Job, buffer.data(), step)) {
      ASSERT_EQ(n, std::min<std::size_t>(step, content.size() - out.size()));
      out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    EXPECT_EQ(out, content);
    EXPECT_EQ(Job.CurrentVolume, 3);
    EXPECT_EQ(Host.Count(Status::kExtrPoints), 2);
    EXPECT_FALSE(Reader.EntryContinues);
  }
}

}  // namespace
}  // namespace korvane::testing
