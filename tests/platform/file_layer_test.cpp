// The file layer's contract, run against whichever implementation the build links (POSIX
// natively, Win32 under Wine). POSIX-only behaviour (separators, case, links) comes last.
#include "platform/file_layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include "tests/support/corpus.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(FileLayer, ReadSeekAndLength) {
  TempDir dir;
  const std::string path = dir.File("r.bin");
  ASSERT_TRUE(WriteWholeFile(path, Bytes("0123456789")));
  const FileHandle f = OpenFileForReading(path.c_str());
  ASSERT_TRUE(IsOpenFile(f));
  EXPECT_EQ(FileLengthOf(f), 10u);
  char buf[16] = {};
  EXPECT_EQ(ReadFileBytes(f, buf, 4), 4u);
  EXPECT_EQ(SeekFile(f, 0, kSeekCurrent), 4);  // where we are, no move
  EXPECT_EQ(SeekFile(f, 2, kSeekCurrent), 6);
  EXPECT_EQ(ReadFileBytes(f, buf, 16), 4u);  // short read at the end
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_EQ(ReadFileBytes(f, buf, 16), 0u);
  EXPECT_EQ(SeekFile(f, -3, kSeekEnd), 7);
  EXPECT_EQ(SeekFile(f, 1, kSeekStart), 1);
  EXPECT_EQ(ReadFileBytes(f, buf, 1), 1u);
  EXPECT_EQ(buf[0], '1');
  EXPECT_EQ(SeekFile(f, 100, kSeekStart), 100);  // beyond the end: reads then give nothing
  EXPECT_EQ(ReadFileBytes(f, buf, 4), 0u);
  CloseFileHandle(f);
  CloseFileHandle(kNoFile);
  CloseFileHandle(kFailedFile);
  EXPECT_EQ(OpenFileForReading(dir.File("missing").c_str()), kFailedFile);
  EXPECT_EQ(OpenFileForReading(dir.Path().c_str()), kFailedFile);  // a directory is no archive
}

// Reads and seeks of every size and base over a file several read-ahead buffers long, each
// checked against the bytes and the position a plain model of the file gives.
TEST(FileLayer, ReadsAndSeeksAgreeWithTheFileEverywhere) {
  TempDir dir;
  const std::string path = dir.File("long.bin");
  std::vector<std::uint8_t> content(700001);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
  ASSERT_TRUE(WriteWholeFile(path, content));
  const std::int64_t size = static_cast<std::int64_t>(content.size());
  const struct {
    int base;  // -1: read `amount` bytes instead of seeking
    std::int64_t amount;
  } steps[] = {{-1, 7},  {-1, 32},      {kSeekCurrent, -20}, {-1, 13},     {kSeekCurrent, 0},   {kSeekCurrent, 5000},
               {-1, 1},  {kSeekStart, 3}, {-1, 300000},      {-1, 10},     {kSeekCurrent, -300005}, {-1, 40},
               {kSeekStart, 262143}, {-1, 2}, {kSeekEnd, -5},  {-1, 10},     {kSeekStart, 100},  {-1, 600000},
               {-1, 200000}, {kSeekCurrent, -1}, {-1, 4},     {kSeekStart, size + 10}, {-1, 3}, {kSeekCurrent, -size - 20},
               {kSeekCurrent, -100}, {-1, 100}};
  const FileHandle f = OpenFileForReading(path.c_str());
  ASSERT_TRUE(IsOpenFile(f));
  std::int64_t at = 0;
  std::vector<std::uint8_t> got;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const auto& s = steps[i];
    if (s.base < 0) {
      got.assign(static_cast<std::size_t>(s.amount), 0);
      const std::int64_t expected = std::max<std::int64_t>(0, std::min(s.amount, size - at));
      ASSERT_EQ(ReadFileBytes(f, got.data(), static_cast<std::uint32_t>(s.amount)), expected) << "step " << i;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + expected, content.begin() + at)) << "step " << i;
      at += expected;
    } else {
      const std::int64_t target = (s.base == kSeekStart ? 0 : s.base == kSeekEnd ? size : at) + s.amount;
      ASSERT_EQ(SeekFile(f, s.amount, s.base), target < 0 ? -1 : target) << "step " << i;
      if (target >= 0) at = target;  // a failed seek leaves the position where it was
    }
  }
  CloseFileHandle(f);
}

TEST(FileLayer, CreateNewRefusesExistingCreateAlwaysReplaces) {
  TempDir dir;
  const std::string path = dir.File("w.bin");
  FileHandle f = CreateFileForWriting(path.c_str(), CreateMode::kCreateNew);
  ASSERT_TRUE(IsOpenFile(f));
  EXPECT_EQ(WriteFileRaw(f, "first version", 13), 13u);
  CloseFileHandle(f);
  EXPECT_EQ(CreateFileForWriting(path.c_str(), CreateMode::kCreateNew), kFailedFile);
  EXPECT_EQ(ReadWholeFile(path), Bytes("first version"));
  f = CreateFileForWriting(path.c_str(), CreateMode::kCreateAlways);
  ASSERT_TRUE(IsOpenFile(f));
  EXPECT_EQ(WriteFileRaw(f, "two", 3), 3u);
  CloseFileHandle(f);
  EXPECT_EQ(ReadWholeFile(path), Bytes("two"));
  EXPECT_EQ(CreateFileForWriting(dir.File("no/such/dir/x").c_str(), CreateMode::kCreateAlways), kFailedFile);
}

TEST(FileLayer, ExistsDeleteDirectoriesAndAttributes) {
  TempDir dir;
  const std::string file = dir.File("f.txt"), ro = dir.File("ro"), other = dir.File("other");
  for (const std::string& p : {file, ro, other}) ASSERT_TRUE(WriteWholeFile(p, Bytes("x")));
  EXPECT_TRUE(PathExists(file.c_str()));
  EXPECT_TRUE(PathExists(dir.Path().c_str()));
  EXPECT_FALSE(PathExists(dir.File("nope").c_str()));
  EXPECT_EQ(CreateDirectoryPath(dir.File("d").c_str()), DirResult::kCreated);
  EXPECT_EQ(CreateDirectoryPath(dir.File("d").c_str()), DirResult::kExists);
  EXPECT_EQ(CreateDirectoryPath(file.c_str()), DirResult::kExists);
  EXPECT_EQ(CreateDirectoryPath(dir.File("p/q/r").c_str()), DirResult::kPathMissing);
  EXPECT_TRUE(fs::is_directory(dir.File("d")));
  EXPECT_FALSE(DeleteFilePath(dir.File("d").c_str()));  // files only
  EXPECT_TRUE(DeleteFilePath(file.c_str()));
  EXPECT_FALSE(PathExists(file.c_str()));
  EXPECT_FALSE(DeleteFilePath(file.c_str()));
  EXPECT_TRUE(SetFileAttributesOf(ro.c_str(), 0x01 | 0x20));
  EXPECT_TRUE(SetFileAttributesOf(other.c_str(), 0x20 | 0x10 | 0x08));  // directory/label bits are dropped
  EXPECT_EQ(fs::status(ro).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(other).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(fs::is_regular_file(other));
}

std::uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<std::uint32_t>((y - 1980) << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s / 2);
}
std::time_t ModifiedAt(const std::string& path) {
  return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(fs::last_write_time(path)));
}

TEST(FileLayer, TimesComeFromTheDosStampAsLocalTimeAndOnlyFromRealDates) {
  TempDir dir;
  const std::string path = dir.File("t");
  FileHandle f = CreateFileForWriting(path.c_str(), CreateMode::kCreateNew);
  ASSERT_TRUE(IsOpenFile(f));
  EXPECT_TRUE(SetFileTimesFromDos(f, Dos(1998, 7, 14, 23, 59, 58)));
  CloseFileHandle(f);
  std::tm t{};
  t.tm_year = 98;
  t.tm_mon = 6;
  t.tm_mday = 14;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 58;
  t.tm_isdst = -1;
  EXPECT_EQ(ModifiedAt(path), std::mktime(&t));
  EXPECT_TRUE(IsValidDosDateTime(SplitDosTime(Dos(2000, 2, 29, 12, 34, 0))));  // a leap year

  f = OpenFileForReading(path.c_str());
  const std::time_t before = ModifiedAt(path);
  const std::uint32_t invalid[] = {0,  // month 0, day 0
                                   Dos(1999, 2, 29, 0, 0, 0), Dos(2000, 4, 31, 0, 0, 0), Dos(1999, 13, 1, 0, 0, 0),
                                   Dos(1999, 1, 1, 24, 0, 0), Dos(2001, 1, 1, 0, 0, 0) | 30 /* 60 seconds */};
  for (const std::uint32_t stamp : invalid) {
    EXPECT_FALSE(IsValidDosDateTime(SplitDosTime(stamp))) << std::hex << stamp;
    EXPECT_FALSE(SetFileTimesFromDos(f, stamp)) << std::hex << stamp;
  }
  CloseFileHandle(f);
  EXPECT_EQ(ModifiedAt(path), before);
}

#ifndef _WIN32

TEST(PosixFileLayer, BackslashesAndCaseAreMappedPerComponent) {
  TempDir dir;
  fs::create_directories(dir.File("Data/Sub"));
  ASSERT_TRUE(WriteWholeFile(dir.File("Data/Sub/Disk.R00"), Bytes("v")));
  const std::string spelled = dir.Path() + "\\DATA\\sub\\disk.r00";
  EXPECT_TRUE(PathExists(spelled.c_str()));
  const FileHandle f = OpenFileForReading(spelled.c_str());
  ASSERT_TRUE(IsOpenFile(f));
  CloseFileHandle(f);
  // Creating under a differently spelled directory lands in the existing one, and an
  // existing file in another case is the same file (as on the system the archives come from).
  const FileHandle w = CreateFileForWriting((dir.Path() + "\\data\\SUB\\DISK.r00").c_str(), CreateMode::kCreateAlways);
  ASSERT_TRUE(IsOpenFile(w));
  WriteFileRaw(w, "new", 3);
  CloseFileHandle(w);
  EXPECT_EQ(ReadWholeFile(dir.File("Data/Sub/Disk.R00")), Bytes("new"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("Data/Sub")), {}), 1);
  EXPECT_EQ(CreateDirectoryPath((dir.Path() + "\\DATA\\New").c_str()), DirResult::kCreated);
  EXPECT_TRUE(fs::is_directory(dir.File("Data/New")));
}

TEST(PosixFileLayer, OutputNeverFollowsASymbolicLink) {
  TempDir dir;
  const std::string victim = dir.File("victim.txt"), link = dir.File("out.txt");
  ASSERT_TRUE(WriteWholeFile(victim, Bytes("keep me")));
  fs::create_symlink(victim, link);
  EXPECT_TRUE(PathExists(link.c_str()));
  EXPECT_EQ(CreateFileForWriting(link.c_str(), CreateMode::kCreateNew), kFailedFile);
  const FileHandle f = CreateFileForWriting(link.c_str(), CreateMode::kCreateAlways);
  ASSERT_TRUE(IsOpenFile(f));
  WriteFileRaw(f, "written", 7);
  CloseFileHandle(f);
  EXPECT_EQ(ReadWholeFile(victim), Bytes("keep me"));
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(ReadWholeFile(link), Bytes("written"));
  // A dangling link counts as existing and is removed, not written through, too.
  const std::string dangling = dir.File("dangling");
  fs::create_symlink(dir.File("elsewhere"), dangling);
  EXPECT_TRUE(PathExists(dangling.c_str()));
  const FileHandle g = CreateFileForWriting(dangling.c_str(), CreateMode::kCreateAlways);
  ASSERT_TRUE(IsOpenFile(g));
  CloseFileHandle(g);
  EXPECT_FALSE(fs::exists(dir.File("elsewhere")));
  EXPECT_TRUE(DeleteFilePath(dangling.c_str()));
}

#endif

}  // namespace
}  // namespace korvane
