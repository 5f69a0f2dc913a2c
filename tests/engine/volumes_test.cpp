#include "engine/volumes.h"

#include <cstring>
#include <filesystem>

#include "engine/archive_format.h"
#include "engine/file_ops.h"
#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

struct NameStep {
  const char* from;
  const char* to;
};

class VolumeNaming : public ::testing::TestWithParam<NameStep> {};

TEST_P(VolumeNaming, NextName) {
  char name[64] = {};
  std::strcpy(name, GetParam().from);
  ASSERT_TRUE(AdvanceVolumeName(name, sizeof name));
  EXPECT_STREQ(name, GetParam().to);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VolumeNaming,
    ::testing::Values(NameStep{"name.rar", "name.r00"}, NameStep{"NAME.RAR", "NAME.R00"},
                      NameStep{"setup.exe", "setup.r00"}, NameStep{"SETUP.EXE", "SETUP.r00"},
                      NameStep{"data", "data.r00"}, NameStep{"name.", "name.r00"}, NameStep{"name.r00", "name.r01"},
                      NameStep{"name.r09", "name.r10"}, NameStep{"name.r99", "name.s00"},
                      NameStep{"name.R99", "name.S00"}, NameStep{"name.998", "name.999"},
                      NameStep{"name.999", "name.A00"}, NameStep{"a.b.exe", "a.b.r00"}, NameStep{"x.r", "x.r00"},
                      NameStep{"x.r5", "x.r00"}, NameStep{"x.rar5", "x.r00"}, NameStep{"x.r0012", "x.r0112"},
                      // A dot in a directory name is not the extension.
                      NameStep{"disk.1\\data", "disk.1\\data.r00"}, NameStep{"disk.1/set.r41", "disk.1/set.r42"}));

TEST(VolumeNamingLimits, NameWithoutRoomIsLeftAlone) {
  char name[12] = "abcdefg.rar";  // 11 characters, needs 4 more than the 11 + zero
  EXPECT_FALSE(AdvanceVolumeName(name, sizeof name));
  EXPECT_STREQ(name, "abcdefg.rar");
  char fits[16] = "abcdefg.rar";
  EXPECT_TRUE(AdvanceVolumeName(fits, sizeof fits));
}

TEST(NameHelpers, ReplaceExtensionAndCompareNoCase) {
  char a[32] = "data";
  ASSERT_TRUE(ReplaceExtension(a, sizeof a, "rar"));
  EXPECT_STREQ(a, "data.rar");
  char b[32] = "a.b.exe";
  ASSERT_TRUE(ReplaceExtension(b, sizeof b, "rar"));
  EXPECT_STREQ(b, "a.b.rar");
  char c[32] = "name.";
  ASSERT_TRUE(ReplaceExtension(c, sizeof c, "rar"));
  EXPECT_STREQ(c, "name.rar");
  char tight[8] = "abcdef";
  EXPECT_FALSE(ReplaceExtension(tight, sizeof tight, "rar"));
  EXPECT_EQ(CompareNoCase("x.RAR", "x.rar"), 0);
  EXPECT_EQ(CompareNoCase("a", "b"), -1);
  EXPECT_EQ(CompareNoCase("b", "A"), 1);
  EXPECT_EQ(CompareNoCase("\xE9", "a"), 1);  // bytes compare unsigned
  EXPECT_EQ(CompareNoCase("ab", "abc"), -1);
}

// ---- identification ----

class Identify : public EngineTest {
 protected:
  Bytes Program(std::size_t size, bool rsfx) {
    Bytes b(size, 0x90);
    b[0] = 'M';
    b[1] = 'Z';
    if (rsfx && size >= 32) std::memcpy(b.data() + 28, "RSFX", 4);
    return b;
  }
  Bytes NewArchive() {
    NewArchiveWriter w;
    w.Main().File(StoredEntry("inside.txt", BytesOf("x")));
    return w.bytes();
  }
  bool IdentifyBytes(const Bytes& bytes) { return OpenArchive(Write("sfx.exe", bytes)); }
};

TEST_F(Identify, PlainArchivesOfBothLayouts) {
  ASSERT_TRUE(IdentifyBytes(NewArchive()));
  EXPECT_EQ(engine.Archive.Format, ArchiveFormat::kNew);
  EXPECT_EQ(engine.Archive.MainHeaderLength, 13u);
  OldArchiveWriter o;
  o.Main(0x08).File(StoredEntry("A", BytesOf("x"), true));
  ASSERT_TRUE(IdentifyBytes(o.bytes()));
  EXPECT_EQ(engine.Archive.Format, ArchiveFormat::kOld);
  EXPECT_EQ(engine.Archive.MainHeaderLength, 7u);
  EXPECT_TRUE(engine.Archive.SolidArchive);
}

TEST_F(Identify, TooShortOrGarbageIsNotAnArchive) {
  EXPECT_FALSE(IdentifyBytes({}));
  EXPECT_FALSE(IdentifyBytes({0x52, 0x61, 0x72, 0x21}));
  Bytes sigOnly = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00, 0x01, 0x02};  // main header cut short
  EXPECT_FALSE(IdentifyBytes(sigOnly));
  EXPECT_FALSE(IdentifyBytes(Bytes(5000, 0x52)));
  EXPECT_EQ(engine.Archive.Format, ArchiveFormat::kNone);
}

struct SfxCase {
  const char* what;
  std::size_t offset;  // where the archive starts behind the program
  bool withType;       // the main header's type byte 0x73 is there
  bool found;
};

class SfxSearch : public Identify, public ::testing::WithParamInterface<SfxCase> {};

TEST_P(SfxSearch, FindsTheArchiveOnlyInsideTheSearchedBytes) {
  Bytes file = Program(GetParam().offset, false);
  Bytes archive = NewArchive();
  if (!GetParam().withType) archive[9] = 0x74;
  file.insert(file.end(), archive.begin(), archive.end());
  const bool found = IdentifyBytes(file);
  EXPECT_EQ(found, GetParam().found);
  if (found) {
    EXPECT_EQ(WalkNames(), std::vector<std::string>{"inside.txt"});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, SfxSearch,
    ::testing::Values(SfxCase{"at7", 7, true, true}, SfxCase{"small", 6000, true, true},
                      SfxCase{"noType", 6000, false, false},
                      // 131,056 bytes from offset 7 are searched; the type byte 9 behind the
                      // signature must be among them: the last start that counts is 131,053.
                      SfxCase{"lastPlace", 131053, true, true}, SfxCase{"oneTooFar", 131054, true, false},
                      SfxCase{"farBehind", 200000, true, false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(Identify, DecoySignatureWithoutMainHeaderTypeIsPassedOver) {
  Bytes file = Program(3000, false);
  const Bytes decoy = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00, 0x00, 0x00, 0x99};
  file.insert(file.begin() + 100, decoy.begin(), decoy.end());
  file.resize(3000);
  const Bytes archive = NewArchive();
  file.insert(file.end(), archive.begin(), archive.end());
  ASSERT_TRUE(IdentifyBytes(file));
  EXPECT_EQ(WalkNames(), std::vector<std::string>{"inside.txt"});
}

TEST_F(Identify, OldArchiveBehindAProgramNeedsTheRsfxMark) {
  OldArchiveWriter o;
  o.Main().File(StoredEntry("HELLO.TXT", BytesOf("hi"), true));
  for (bool rsfx : {true, false}) {
    Bytes file = Program(6491, rsfx);
    file.insert(file.end(), o.bytes().begin(), o.bytes().end());
    EXPECT_EQ(IdentifyBytes(file), rsfx);
    if (rsfx) {
      EXPECT_EQ(engine.Archive.Format, ArchiveFormat::kOld);
      EXPECT_EQ(WalkNames(), std::vector<std::string>{"HELLO.TXT"});
    }
  }
}

// ---- moving to the next volume ----

class NextVolume : public EngineTest {
 protected:
  void SetUp() override {
    job.ProgressWindow = reinterpret_cast<void*>(0x1234);
    const Bytes content = BytesOf("0123456789abcdefghij");
    volumes_ = StoredVolumeSet({{"split.txt", content, {7, 14}}});
    ASSERT_EQ(volumes_.size(), 3u);
  }
  void WriteVolumes(bool skipMiddle = false) {
    Write("set.rar", volumes_[0]);
    if (!skipMiddle) Write("set.r00", volumes_[1]);
    Write("set.r01", volumes_[2]);
    SetArchiveName(dir.File("set.rar"));
    ASSERT_TRUE(OpenArchive(job.ArchiveName));
    ASSERT_NE(NextBlock(engine, kFileHead, false), 0u);
  }
  std::vector<Bytes> volumes_;
};

TEST_F(NextVolume, OpensTheContinuationAndPositionsAtItsData) {
  WriteVolumes();
  engine.Mode = 'X';
  ASSERT_TRUE(OpenNextVolume(engine, job, false));
  EXPECT_EQ(std::string(job.ArchiveName), dir.File("set.r00"));
  EXPECT_EQ(job.CurrentVolume, 2);
  EXPECT_EQ(engine.Session.PackedLeft, 7u);
  EXPECT_TRUE(engine.Session.EntryContinues);
  EXPECT_EQ(engine.Archive.File.HeadFlags & 0x03, 0x03);
  Bytes data(7);
  ASSERT_EQ(ReadFileBytes(engine.Session.InputFile, data.data(), 7), 7u);
  EXPECT_EQ(data, BytesOf("789abcd"));
  EXPECT_TRUE(host.Saw(status::kExtrVol));
  EXPECT_FALSE(host.Saw(status::kExtrPoints));
  ASSERT_EQ(host.progressWindows.size(), 1u);
  EXPECT_EQ(host.progressWindows[0], job.ProgressWindow);
  EXPECT_TRUE(host.boxes.empty());

  engine.Mode = 'T';
  ASSERT_TRUE(OpenNextVolume(engine, job, true));
  EXPECT_FALSE(engine.Session.EntryContinues);
  EXPECT_EQ(engine.Session.PackedLeft, 6u);
  EXPECT_EQ(job.CurrentVolume, 3);
  EXPECT_TRUE(host.Saw(status::kTestVol));
  EXPECT_TRUE(host.Saw(status::kExtrPoints));
}

TEST_F(NextVolume, MissingVolumeIsToldAndAborts) {
  WriteVolumes(true);
  EXPECT_FALSE(OpenNextVolume(engine, job, true));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Cannot find:\n" + dir.File("set.r00"));
  EXPECT_EQ(host.boxes[0].title, "Zendril 1997");
  EXPECT_EQ(host.boxes[0].style, 16u);
  EXPECT_EQ(host.boxes[0].owner, job.ProgressWindow);
  EXPECT_EQ(job.Abort.load(), 1);
  EXPECT_EQ(job.CurrentVolume, 1);
}

TEST_F(NextVolume, DamagedVolumeIsToldAndAborts) {
  volumes_[1] = BytesOf("this is no archive at all, just text");
  WriteVolumes();
  EXPECT_FALSE(OpenNextVolume(engine, job, false));
  EXPECT_TRUE(host.Saw(status::kBadArc));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "This archive is corrupt:\n" + dir.File("set.r00"));
  EXPECT_EQ(host.boxes[0].title, "Zendril 1997");
  EXPECT_EQ(host.boxes[0].style, 16u);
  EXPECT_EQ(job.Abort.load(), 1);
}

TEST_F(NextVolume, VolumeWithoutAContinuingEntryCountsAsDamaged) {
  NewArchiveWriter empty;
  empty.Main(0x01);
  volumes_[1] = empty.bytes();
  WriteVolumes();
  EXPECT_FALSE(OpenNextVolume(engine, job, false));
  EXPECT_EQ(host.CountBoxes("This archive is corrupt:\n" + dir.File("set.r00")), 1);
  EXPECT_EQ(job.Abort.load(), 1);
}

TEST_F(NextVolume, AbortBeforeTheMoveChangesNothing) {
  WriteVolumes();
  job.Abort = 2;
  EXPECT_FALSE(OpenNextVolume(engine, job, false));
  EXPECT_EQ(std::string(job.ArchiveName), dir.File("set.rar"));
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(job.Abort.load(), 2);
}

// ---- directories ----

TEST_F(EngineTest, MakeDirectoriesCreatesEveryPrefixButNotTheLastPart) {
  namespace fs = std::filesystem;
  std::string path = dir.Path() + "\\inst/sub\\deeper\\file.txt";
  MakeDirectories(engine, path.data());
  EXPECT_TRUE(fs::is_directory(dir.File("inst/sub/deeper")));
  EXPECT_FALSE(fs::exists(dir.File("inst/sub/deeper/file.txt")));
  EXPECT_EQ(host.CountStatus(status::kCreatDir), 3);  // the temp folder itself exists already
  EXPECT_EQ(path.find('/'), std::string::npos);         // separators became backslashes

  std::string trailing = dir.Path() + "\\a\\b\\";
  MakeDirectories(engine, trailing.data());
  EXPECT_TRUE(fs::is_directory(dir.File("a/b")));
}

}  // namespace
}  // namespace korvane::testing
