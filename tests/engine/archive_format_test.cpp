// The block walk on hand-built archives: damage the corpus does not hold. Field decoding,
// header CRCs, extra header bytes, sub-blocks, other blocks and comments are proven by the corpus.
#include "engine/archive_format.h"

#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

class ArchiveFormatTest : public EngineTest {
 protected:
  // Writes and opens the archive; then NextBlock's result for its first entry.
  std::uint32_t OpenFirst(const Bytes& bytes) {
    if (!OpenArchive(Write("a.rar", bytes))) {
      ADD_FAILURE() << "not identified";
      return 0;
    }
    return NextBlock(reader, kFileHead, true);
  }
  std::uint32_t OpenFirst(const std::vector<EntrySpec>& entries) {
    NewArchiveWriter w;
    w.Main();
    for (const EntrySpec& e : entries) w.File(e);
    return OpenFirst(w.bytes());
  }
  void SkipData() { reader.Input.Seek(reader.Archive.NextBlockPos, kSeekStart); }
};

// A header whose sizes do not move the walk forward must end it like the end of the file,
// keeping the last good entry.
TEST_F(ArchiveFormatTest, DamagedChainEndsTheWalk) {
  const struct {
    const char* what;
    int headSize;
    std::int64_t packSize;
  } cases[] = {{"head size 0", 0, -1},
               {"head size 6", 6, -1},
               {"stands still", 38, 0x100000000LL - 38},  // 32 + 6 bytes of header: lands on itself
               {"wraps backwards", 38, 0xFFFFFFFFLL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EntrySpec broken = StoredEntry("broken", BytesOf("data"));
    broken.headSize = c.headSize;
    broken.packSize = c.packSize;
    ASSERT_NE(OpenFirst({StoredEntry("good", BytesOf("g")), broken, StoredEntry("never", BytesOf("n"))}), 0u);
    SkipData();
    EXPECT_EQ(NextBlock(reader, kFileHead, true), 0u);
    EXPECT_EQ(reader.Archive.Block.HeadType, 0);
    EXPECT_STREQ(reader.Archive.EntryName, "good");
    EXPECT_EQ(reader.Archive.File.PackSize, 1u);
  }
}

TEST_F(ArchiveFormatTest, LongNameIsCutTo259BytesAndTheWalkContinues) {
  ASSERT_EQ(OpenFirst({StoredEntry(std::string(300, 'n'), BytesOf("x")), StoredEntry("short", BytesOf("y"))}),
            32u + 259u);
  EXPECT_EQ(std::string(reader.Archive.EntryName), std::string(259, 'n'));
  SkipData();
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"short"});
}

TEST_F(ArchiveFormatTest, AttributesFollowTheHostSystem) {
  const struct {
    std::uint8_t hostOS;
    std::uint16_t flags;
    std::uint32_t attr, wantAttr;
    std::uint8_t wantHost;
  } cases[] = {{0, 0x00E0, 0x21, 0x21, 0}, {3, 0x00C0, 0x41ED, 0x20, 3},  // only all three bits mean a directory
               {5, 0x00E0, 0x20, 0x10, 0}, {4, 0, 0x10, 0x20, 0}};         // unknown systems: Unix rules, host 0
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "host " << int{c.hostOS} << " attr " << c.attr);
    EntrySpec e = StoredEntry("x", {});
    e.hostOS = c.hostOS;
    e.flags = c.flags;
    e.attr = c.attr;
    ASSERT_NE(OpenFirst({e}), 0u);
    EXPECT_EQ(reader.Archive.File.FileAttr, c.wantAttr);
    EXPECT_EQ(reader.Archive.File.HostOS, c.wantHost);
  }
}

TEST_F(ArchiveFormatTest, CutArchivesEndAfterTheLastWholeEntry) {
  NewArchiveWriter w;
  w.Main().File(StoredEntry("one", Bytes(50, 7)));
  Bytes dataCut = w.bytes(), partialHeader = w.bytes();
  dataCut.resize(dataCut.size() - 20);
  partialHeader.insert(partialHeader.end(), {0x00, 0x00, 0x74, 0x00, 0x80, 0x40, 0x00, 0x01});
  const std::pair<Bytes, int> cases[] = {{w.bytes(), 0}, {dataCut, 1}, {partialHeader, -1}};  // -1: either
  for (const auto& [bytes, eof] : cases) {
    SCOPED_TRACE(bytes.size());
    host.statuses.clear();
    ASSERT_TRUE(OpenArchive(Write("t.rar", bytes)));
    EXPECT_EQ(WalkNames(), std::vector<std::string>{"one"});
    if (eof >= 0) {
      EXPECT_EQ(host.Saw(status::kUnexpEOF), eof == 1);
    }
  }
}

TEST_F(ArchiveFormatTest, BrokenMainHeaderIsReportedAndUsed) {
  NewArchiveWriter w;
  w.Main(0x08, true).File(StoredEntry("one", BytesOf("1")));
  ASSERT_TRUE(OpenArchive(Write("m.rar", w.bytes())));
  EXPECT_TRUE(host.Saw(status::kBrokArcHead));
  EXPECT_TRUE(reader.Archive.SolidArchive);
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"one"});
}

TEST_F(ArchiveFormatTest, OldMainHeaderKeepsItsLowSixFlagBits) {
  OldArchiveWriter w;
  w.Main(0xC8).File(StoredEntry("DIR/OLD.TXT", BytesOf("abc"), true));
  ASSERT_EQ(OpenFirst(w.bytes()), 21u + 11u);
  EXPECT_EQ(reader.Archive.Format, ArchiveFormat::kOld);
  EXPECT_EQ(reader.Archive.Main.HeadFlags, 0x08);
  EXPECT_TRUE(reader.Archive.SolidArchive);
  EXPECT_STREQ(reader.Archive.EntryName, "DIR\\OLD.TXT");
  EXPECT_EQ(reader.Archive.NextBlockPos, 7u + 21u + 11u + 3u);
}

// The old layout has no header CRC: implausible fields are what reject a header.
TEST_F(ArchiveFormatTest, OldHeaderChecks) {
  const struct {
    const char* what;
    std::uint8_t method;
    int nameSize;
    std::uint8_t unpVer;
    int headSize;
    std::uint16_t flags;
    std::int64_t packSize;
    int wantVer;  // 0: rejected
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
    SCOPED_TRACE(c.what);
    EntrySpec e = StoredEntry("NAME.TXT", BytesOf("x"), true);
    e.method = c.method;
    e.nameSize = c.nameSize;
    e.unpVer = c.unpVer;
    e.headSize = c.headSize;
    e.flags = c.flags;
    e.packSize = c.packSize;
    OldArchiveWriter w;
    w.Main().File(e);
    const bool accepted = OpenFirst(w.bytes()) != 0;
    EXPECT_EQ(accepted, c.wantVer != 0);
    if (accepted) {
      EXPECT_EQ(reader.Archive.File.UnpVer, c.wantVer);
    }
  }
}

}  // namespace
}  // namespace korvane::testing
