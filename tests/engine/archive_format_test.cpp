#include "engine/archive_format.h"

#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

class ArchiveFormatTest : public EngineTest {
 protected:
  // Writes a new-layout archive holding the given entries and opens it.
  void OpenNew(const std::vector<EntrySpec>& entries) {
    NewArchiveWriter w;
    w.Main();
    for (const EntrySpec& e : entries) w.File(e);
    ASSERT_TRUE(OpenArchive(Write("a.rar", w.bytes())));
  }
  Bytes PackedDataOfCurrentEntry() {
    const FileHeader& h = engine.Archive.File;
    Bytes data(h.PackSize);
    SeekFile(engine.Session.InputFile, engine.Archive.NextBlockPos - h.PackSize, kSeekStart);
    data.resize(ReadFileBytes(engine.Session.InputFile, data.data(), h.PackSize));
    return data;
  }
};

TEST_F(ArchiveFormatTest, GoodHeaderPassesItsCheckAndDecodesEveryField) {
  EntrySpec e = StoredEntry("dir/file.txt", BytesOf("hello"));
  e.hostOS = 2;
  e.attr = 0x21;
  e.flags = 0x10;
  OpenNew({e});
  ASSERT_EQ(NextBlock(engine, kFileHead, true), 32u + 12u);
  const FileHeader& h = engine.Archive.File;
  EXPECT_EQ(h.HeadType, kFileHead);
  EXPECT_EQ(h.HeadFlags, 0x8010);
  EXPECT_EQ(h.PackSize, 5u);
  EXPECT_EQ(h.UnpSize, 5u);
  EXPECT_EQ(h.FileCRC, Crc32Of(BytesOf("hello")));
  EXPECT_EQ(h.FileTime, e.time);
  EXPECT_EQ(h.UnpVer, 20);
  EXPECT_EQ(h.Method, 0x30);
  EXPECT_EQ(h.FileAttr, 0x21u);
  EXPECT_STREQ(engine.Archive.EntryName, "dir\\file.txt");  // slashes become backslashes
  EXPECT_EQ(engine.Archive.Block.HeadType, kFileHead);
  EXPECT_FALSE(host.Saw(status::kBrokFileHead));
  EXPECT_EQ(PackedDataOfCurrentEntry(), BytesOf("hello"));
}

TEST_F(ArchiveFormatTest, WrongHeaderCrcIsReportedAndTheEntryIsStillReturned) {
  EntrySpec bad = StoredEntry("bad.txt", BytesOf("abc"));
  bad.breakCrc = true;
  OpenNew({bad, StoredEntry("next.txt", BytesOf("x"))});
  EXPECT_EQ(WalkNames(), (std::vector<std::string>{"bad.txt", "next.txt"}));
  EXPECT_EQ(host.CountStatus(status::kBrokFileHead), 1);
}

TEST_F(ArchiveFormatTest, HeaderLargerThanNameIsSkippedAndItsCrcCheckFails) {
  // Archivers put extended times behind the name; their CRC covers those bytes, the check
  // here covers only the fixed part and the name.
  EntrySpec e = StoredEntry("t.txt", BytesOf("payload"));
  e.flags = 0x1000;
  e.extra = {1, 2, 3, 4, 5};
  OpenNew({e, StoredEntry("after.txt", BytesOf("z"))});
  ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
  EXPECT_EQ(engine.Archive.File.HeadSize, 32 + 5 + 5);
  EXPECT_EQ(PackedDataOfCurrentEntry(), BytesOf("payload"));
  EXPECT_EQ(host.CountStatus(status::kBrokFileHead), 1);
  SeekFile(engine.Session.InputFile, engine.Archive.NextBlockPos, kSeekStart);
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"after.txt"});
}

TEST_F(ArchiveFormatTest, UnknownBlocksAreSkippedBySize) {
  NewArchiveWriter w;
  w.Main()
      .File(StoredEntry("one", BytesOf("1")))
      .Block(0x75, 0x0000, BytesOf("comment text"))
      .Block(0x7A, 0x8000, BytesOf("xx"), Bytes(100, 0xEE))
      .File(StoredEntry("two", BytesOf("22")));
  ASSERT_TRUE(OpenArchive(Write("c.rar", w.bytes())));
  EXPECT_EQ(WalkNames(), (std::vector<std::string>{"one", "two"}));
}

TEST_F(ArchiveFormatTest, SubBlockIsReturnedWithThePreviousEntryKeptOnlyWhenAccepted) {
  NewArchiveWriter w;
  w.Main().File(StoredEntry("one", BytesOf("1"))).Block(0x77, 0x8000, BytesOf("sub"), Bytes(10, 1));
  w.File(StoredEntry("two", BytesOf("2")));
  const std::string path = Write("s.rar", w.bytes());
  ASSERT_TRUE(OpenArchive(path));
  ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
  SeekFile(engine.Session.InputFile, engine.Archive.NextBlockPos, kSeekStart);
  const std::int64_t subStart = SeekFile(engine.Session.InputFile, 0, kSeekCurrent);
  ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
  EXPECT_EQ(engine.Archive.Block.HeadType, kSubBlock);
  EXPECT_STREQ(engine.Archive.EntryName, "one");
  EXPECT_EQ(engine.Archive.File.HeadType, kFileHead);
  EXPECT_EQ(SeekFile(engine.Session.InputFile, 0, kSeekCurrent), subStart);
  EXPECT_EQ(engine.Archive.NextBlockPos, subStart + 7 + 4 + 3 + 10);
  // Without acceptance the walk passes over it.
  ASSERT_TRUE(OpenArchive(path));
  EXPECT_EQ(WalkNames(), (std::vector<std::string>{"one", "two"}));
}

struct BrokenChain {
  const char* what;
  int headSize;
  std::int64_t packSize;
};

class DamagedChain : public ArchiveFormatTest, public ::testing::WithParamInterface<BrokenChain> {};

TEST_P(DamagedChain, EndsTheWalkLikeTheEndOfFile) {
  EntrySpec broken = StoredEntry("broken", BytesOf("data"));
  broken.headSize = GetParam().headSize;
  broken.packSize = GetParam().packSize;
  OpenNew({StoredEntry("good", BytesOf("g")), broken, StoredEntry("never", BytesOf("n"))});
  ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
  SeekFile(engine.Session.InputFile, engine.Archive.NextBlockPos, kSeekStart);
  EXPECT_EQ(NextBlock(engine, kFileHead, true), 0u);
  EXPECT_EQ(engine.Archive.Block.HeadType, 0);
  EXPECT_STREQ(engine.Archive.EntryName, "good");
  EXPECT_EQ(engine.Archive.File.PackSize, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Walk, DamagedChain,
    ::testing::Values(BrokenChain{"head size 0", 0, -1}, BrokenChain{"head size 6", 6, -1},
                      // 32 + 6 bytes of header and a data size that lands exactly on the block itself
                      BrokenChain{"stands still", 38, 0x100000000LL - 38},
                      BrokenChain{"wraps backwards", 38, 0xFFFFFFFFLL}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& c : n)
        if (c == ' ') c = '_';
      return n;
    });

TEST_F(ArchiveFormatTest, LongNameIsCutTo259BytesAndTheWalkContinues) {
  const std::string longName(300, 'n');
  OpenNew({StoredEntry(longName, BytesOf("x")), StoredEntry("short", BytesOf("y"))});
  ASSERT_EQ(NextBlock(engine, kFileHead, true), 32u + 259u);
  EXPECT_EQ(std::string(engine.Archive.EntryName), std::string(259, 'n'));
  SeekFile(engine.Session.InputFile, engine.Archive.NextBlockPos, kSeekStart);
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"short"});
}

struct HostCase {
  std::uint8_t hostOS;
  std::uint16_t flags;
  std::uint32_t attr;
  std::uint32_t wantAttr;
  std::uint8_t wantHost;
};

class HostNormalising : public ArchiveFormatTest, public ::testing::WithParamInterface<HostCase> {};

TEST_P(HostNormalising, AttributesFollowTheHostSystem) {
  EntrySpec e = StoredEntry("x", {});
  e.hostOS = GetParam().hostOS;
  e.flags = GetParam().flags;
  e.attr = GetParam().attr;
  OpenNew({e});
  ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
  EXPECT_EQ(engine.Archive.File.FileAttr, GetParam().wantAttr);
  EXPECT_EQ(engine.Archive.File.HostOS, GetParam().wantHost);
}

INSTANTIATE_TEST_SUITE_P(Walk, HostNormalising,
                         ::testing::Values(HostCase{0, 0x00E0, 0x21, 0x21, 0}, HostCase{2, 0, 0x10, 0x10, 2},
                                           HostCase{3, 0x00E0, 0x81A4, 0x10, 3}, HostCase{3, 0x00C0, 0x41ED, 0x20, 3},
                                           HostCase{5, 0x00E0, 0x20, 0x10, 0}, HostCase{4, 0, 0x10, 0x20, 0}));

TEST_F(ArchiveFormatTest, TruncatedArchiveReportsUnexpectedEnd) {
  NewArchiveWriter w;
  w.Main().File(StoredEntry("one", Bytes(50, 7)));
  Bytes cut = w.bytes();
  cut.resize(cut.size() - 20);
  ASSERT_TRUE(OpenArchive(Write("t.rar", cut)));
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"one"});
  EXPECT_EQ(host.CountStatus(status::kUnexpEOF), 1);

  host.statuses.clear();
  ASSERT_TRUE(OpenArchive(Write("whole.rar", w.bytes())));
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"one"});
  EXPECT_FALSE(host.Saw(status::kUnexpEOF));
}

TEST_F(ArchiveFormatTest, PartialHeaderAtTheEndIsTheEnd) {
  NewArchiveWriter w;
  w.Main().File(StoredEntry("one", BytesOf("1"))).Raw({0x00, 0x00, 0x74, 0x00, 0x80, 0x40, 0x00, 0x01});
  ASSERT_TRUE(OpenArchive(Write("p.rar", w.bytes())));
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"one"});
}

TEST_F(ArchiveFormatTest, BrokenMainHeaderIsReportedAndUsed) {
  NewArchiveWriter w;
  w.Main(0x08, {}, true).File(StoredEntry("one", BytesOf("1")));
  ASSERT_TRUE(OpenArchive(Write("m.rar", w.bytes())));
  EXPECT_TRUE(host.Saw(status::kBrokArcHead));
  EXPECT_TRUE(engine.Archive.SolidArchive);
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"one"});
}

TEST_F(ArchiveFormatTest, MainHeaderCommentIsSkipped) {
  NewArchiveWriter w;
  w.Main(0x02, Bytes(31, 'c')).File(StoredEntry("one", BytesOf("1")));
  ASSERT_TRUE(OpenArchive(Write("m.rar", w.bytes())));
  EXPECT_EQ(engine.Archive.Main.HeadSize, 13 + 31);
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"one"});
}

// ---- old layout ----

TEST_F(ArchiveFormatTest, OldEntryIsConvertedToTheNewForm) {
  OldArchiveWriter w;
  EntrySpec e = StoredEntry("DIR/OLD.TXT", BytesOf("abc"), true);
  e.method = 3;
  e.flags = 0x02;
  e.attr = 0x21;
  w.Main(0xC8).File(e);
  ASSERT_TRUE(OpenArchive(Write("o.rar", w.bytes())));
  EXPECT_EQ(engine.Archive.Format, ArchiveFormat::kOld);
  EXPECT_EQ(engine.Archive.Main.HeadFlags, 0x08);  // only the low six bits are kept
  EXPECT_TRUE(engine.Archive.SolidArchive);
  ASSERT_EQ(NextBlock(engine, kFileHead, true), 21u + 11u);
  const FileHeader& h = engine.Archive.File;
  EXPECT_EQ(h.HeadFlags, 0x8002);
  EXPECT_EQ(h.Method, 0x33);
  EXPECT_EQ(h.UnpVer, 13);
  EXPECT_EQ(h.FileCRC, 0x0556u);
  EXPECT_EQ(h.FileAttr, 0x21u);
  EXPECT_EQ(h.HeadType, kFileHead);
  EXPECT_STREQ(engine.Archive.EntryName, "DIR\\OLD.TXT");
  EXPECT_EQ(engine.Archive.NextBlockPos, 7u + 21u + 11u + 3u);
}

struct OldReject {
  const char* what;
  std::uint8_t method;
  int nameSize;
  std::uint8_t unpVer;
  int headSize;
  std::uint16_t flags;
  bool accepted;
};

class OldHeaderChecks : public ArchiveFormatTest, public ::testing::WithParamInterface<OldReject> {};

TEST_P(OldHeaderChecks, RejectedHeadersEndTheWalk) {
  const OldReject& c = GetParam();
  EntrySpec e = StoredEntry("NAME.TXT", BytesOf("x"), true);
  e.method = c.method;
  e.nameSize = c.nameSize;
  e.unpVer = c.unpVer;
  e.headSize = c.headSize;
  e.flags = c.flags;
  OldArchiveWriter w;
  w.Main().File(e);
  ASSERT_TRUE(OpenArchive(Write("o.rar", w.bytes())));
  EXPECT_EQ(NextBlock(engine, kFileHead, true) != 0, c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Walk, OldHeaderChecks,
    ::testing::Values(OldReject{"plain", 0, -1, 2, -1, 0, true}, OldReject{"method7", 7, -1, 2, -1, 0, true},
                      OldReject{"method8", 8, -1, 2, -1, 0, false}, OldReject{"name0", 0, 0, 2, 21, 0, false},
                      OldReject{"name81", 0, 81, 2, 102, 0, false}, OldReject{"ver0", 0, -1, 0, -1, 0, false},
                      OldReject{"ver21", 0, -1, 21, -1, 0, false}, OldReject{"head21", 0, -1, 2, 21, 8, false},
                      OldReject{"sizeMismatchLowFlags", 0, -1, 2, 40, 0, false},
                      OldReject{"largerWithFlag8", 0, -1, 2, 40, 8, true}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(ArchiveFormatTest, OldVersionOneBecomesTen) {
  EntrySpec e = StoredEntry("A", BytesOf("x"), true);
  e.unpVer = 1;
  OldArchiveWriter w;
  w.Main().File(e);
  ASSERT_TRUE(OpenArchive(Write("o.rar", w.bytes())));
  ASSERT_NE(NextBlock(engine, kFileHead, true), 0u);
  EXPECT_EQ(engine.Archive.File.UnpVer, 10);
}

TEST_F(ArchiveFormatTest, OldEntryWhosePackedSizeWrapsOntoItselfEndsTheWalk) {
  EntrySpec e = StoredEntry("A", BytesOf("x"), true);
  e.packSize = 0x100000000LL - 7 - 22;  // position 7 + size + HeadSize 22 wraps to 7
  OldArchiveWriter w;
  w.Main().File(e);
  ASSERT_TRUE(OpenArchive(Write("o.rar", w.bytes())));
  EXPECT_EQ(NextBlock(engine, kFileHead, true), 0u);
}

}  // namespace
}  // namespace korvane::testing
