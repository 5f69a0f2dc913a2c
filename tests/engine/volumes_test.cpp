#include "engine/volumes.h"

#include <cstring>
#include <filesystem>

#include "engine/file_ops.h"
#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

TEST(VolumeNaming, NextName) {
  const struct {
    const char* from;
    const char* to;  // nullptr: no room, name unchanged
    std::size_t capacity = 64;
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
    std::strcpy(name, c.from);
    EXPECT_EQ(AdvanceVolumeName(name, c.capacity), c.to != nullptr) << c.from;
    EXPECT_STREQ(name, c.to != nullptr ? c.to : c.from);
  }
}

// The first-volume search puts .rar and .exe in place of a later volume's extension.
TEST(NameHelpers, ReplaceExtension) {
  const std::pair<const char*, const char*> names[] = {
      {"data", "data.rar"}, {"a.b.r00", "a.b.rar"}, {"name.", "name.rar"}, {"disk.1\\set", "disk.1\\set.rar"}};
  for (const auto& [from, to] : names) {
    char name[32] = {};
    std::strcpy(name, from);
    ASSERT_TRUE(ReplaceExtension(name, sizeof name, "rar"));
    EXPECT_STREQ(name, to);
  }
  char tight[8] = "abcdef";
  EXPECT_FALSE(ReplaceExtension(tight, sizeof tight, "rar"));
  EXPECT_STREQ(tight, "abcdef");
}

// ---- identification (real self-extracting archives and plain ones are in the corpus) ----

class Identify : public EngineTest {
 protected:
  // archive behind a program of the given size (MZ, and RSFX at 28 when asked for)
  static Bytes BehindProgram(std::size_t size, bool rsfx, const Bytes& archive) {
    Bytes b(size, 0x90);
    b[0] = 'M';
    b[1] = 'Z';
    if (rsfx) std::memcpy(b.data() + 28, "RSFX", 4);
    b.insert(b.end(), archive.begin(), archive.end());
    return b;
  }
  bool IdentifyBytes(const Bytes& bytes) { return OpenArchive(Write("sfx.exe", bytes)); }
};

TEST_F(Identify, TooShortOrGarbageIsNotAnArchive) {
  const Bytes cases[] = {{},
                         {0x52, 0x61, 0x72, 0x21},
                         {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00, 0x01, 0x02},  // main header cut short
                         Bytes(5000, 0x52)};
  for (const Bytes& bytes : cases) EXPECT_FALSE(IdentifyBytes(bytes)) << bytes.size();
  EXPECT_EQ(reader.Archive.Format, ArchiveFormat::kNone);
}

// 131,056 bytes from offset 7 are searched and the main header's type byte, 9 behind the
// signature, must be among them: the last start that counts is 131,053.
TEST_F(Identify, ArchiveBehindAProgramIsFoundOnlyInsideTheSearchedBytes) {
  NewArchiveWriter w;
  w.Main().File(StoredEntry("inside.txt", BytesOf("x")));
  const struct {
    std::size_t offset;
    bool withType, found;
  } cases[] = {{7, true, true},          {6000, true, true},        {6000, false, false},
               {131053, true, true},     {131054, true, false},     {200000, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.offset << (c.withType ? "" : " without type"));
    Bytes archive = w.bytes();
    if (!c.withType) archive[9] = 0x74;
    ASSERT_EQ(IdentifyBytes(BehindProgram(c.offset, false, archive)), c.found);
    if (c.found) {
      EXPECT_EQ(WalkNames(), std::vector<std::string>{"inside.txt"});
    }
  }
}

TEST_F(Identify, OldArchiveBehindAProgramNeedsTheRsfxMark) {
  OldArchiveWriter o;
  o.Main().File(StoredEntry("HELLO.TXT", BytesOf("hi"), true));
  for (bool rsfx : {true, false}) {
    ASSERT_EQ(IdentifyBytes(BehindProgram(6491, rsfx, o.bytes())), rsfx);
    if (rsfx) {
      EXPECT_EQ(WalkNames(), std::vector<std::string>{"HELLO.TXT"});
    }
  }
}

// ---- moving to the next volume ----

class NextVolume : public EngineTest {
 protected:
  void SetUp() override {
    job.ProgressWindow = reinterpret_cast<void*>(0x1234);
    volumes = StoredVolumeSet({{"split.txt", BytesOf("0123456789abcdefghij"), {7, 14}}});
    ASSERT_EQ(volumes.size(), 3u);
  }
  void WriteAndOpen() {
    for (std::size_t i = 0; i < volumes.size(); ++i)
      if (!volumes[i].empty()) Write(i == 0 ? "set.rar" : "set.r0" + std::to_string(i - 1), volumes[i]);
    SetArchiveName(dir.File("set.rar"));
    ASSERT_TRUE(OpenArchive(job.ArchiveName));
    ASSERT_NE(NextBlock(reader, kFileHead, false), 0u);
  }
  std::vector<Bytes> volumes;
};

// Inside an entry's data (a decoder's read): the status of the mode, the "..." status and a
// repaint of the progress window; positioned at the continuing part's data.
TEST_F(NextVolume, OpensTheContinuationAndPositionsAtItsData) {
  WriteAndOpen();
  job.Mode = 'T';
  ASSERT_TRUE(OpenNextVolume(reader, job, true));
  EXPECT_EQ(std::string(job.ArchiveName), dir.File("set.r00"));
  EXPECT_EQ(job.CurrentVolume, 2);
  EXPECT_EQ(reader.PackedLeft, 7u);
  EXPECT_TRUE(reader.EntryContinues);
  Bytes data(7);
  ASSERT_EQ(reader.Input.Read(data.data(), 7), 7u);
  EXPECT_EQ(data, BytesOf("789abcd"));
  EXPECT_TRUE(host.Saw(status::kTestVol));
  EXPECT_TRUE(host.Saw(status::kExtrPoints));
  EXPECT_EQ(host.progressWindows, std::vector<void*>{job.ProgressWindow});
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(NextVolume, MissingOrDamagedVolumeIsToldAndAborts) {
  NewArchiveWriter noContinuation;
  noContinuation.Main(0x01);
  const std::pair<Bytes, const char*> cases[] = {{{}, "Cannot find:\n"},
                                                 {BytesOf("no archive, just text"), "This archive is corrupt:\n"},
                                                 {noContinuation.bytes(), "This archive is corrupt:\n"}};
  for (const auto& [middle, message] : cases) {
    SCOPED_TRACE(message);
    host.boxes.clear();
    job.Abort = 0;
    job.CurrentVolume = 1;
    reader.Reset();
    std::filesystem::remove(dir.File("set.r00"));
    volumes[1] = middle;
    WriteAndOpen();
    EXPECT_FALSE(OpenNextVolume(reader, job, false));
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, message + dir.File("set.r00"));
    EXPECT_EQ(host.boxes[0].title, "Zendril 1997");
    EXPECT_EQ(host.boxes[0].style, 16u);
    EXPECT_EQ(host.boxes[0].owner, job.ProgressWindow);
    EXPECT_EQ(job.Abort.load(), 1);
    EXPECT_EQ(job.CurrentVolume, 1);
  }
}

TEST_F(NextVolume, AbortBeforeTheMoveChangesNothing) {
  WriteAndOpen();
  job.Abort = 2;
  EXPECT_FALSE(OpenNextVolume(reader, job, false));
  EXPECT_EQ(std::string(job.ArchiveName), dir.File("set.rar"));
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(job.Abort.load(), 2);
}

}  // namespace
}  // namespace korvane::testing
