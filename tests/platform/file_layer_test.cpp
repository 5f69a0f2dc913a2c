// The file layer's contract on whichever implementation the build links; POSIX-only behaviour last.
#include "platform/file_layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include "archive/archive_layout.h"
#include "tests/support/corpus.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

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
  } steps[] = {{-1, 7}, {-1, 32}, {kSeekCurrent, -20}, {-1, 13}, {kSeekCurrent, 0}, {kSeekCurrent, 5000}, {-1, 1},
               {kSeekStart, 3}, {-1, 300000}, {-1, 10}, {kSeekCurrent, -300005}, {-1, 40}, {kSeekStart, 262143},
               {-1, 2}, {kSeekEnd, -5}, {-1, 10}, {kSeekStart, 100}, {-1, 600000}, {-1, 200000}, {kSeekCurrent, -1},
               {-1, 4}, {kSeekStart, size + 10}, {-1, 3}, {kSeekCurrent, -size - 20}, {kSeekCurrent, -100}, {-1, 100}};
  const FileHandle f = OpenFileForReading(path.c_str());
  ASSERT_TRUE(IsOpenFile(f));
  EXPECT_EQ(FileLengthOf(f), content.size());
  std::int64_t at = 0;
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const auto& s = steps[i];
    if (s.base < 0) {
      std::vector<std::uint8_t> got(static_cast<std::size_t>(s.amount));
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
  EXPECT_EQ(OpenFileForReading(dir.File("missing").c_str()), kFailedFile);
  EXPECT_EQ(OpenFileForReading(dir.Path().c_str()), kFailedFile);  // a directory is no archive
}

void WriteThrough(const std::string& path, CreateMode mode, const std::string& text) {
  const FileHandle f = CreateFileForWriting(path.c_str(), mode);
  ASSERT_TRUE(IsOpenFile(f)) << path;
  EXPECT_EQ(WriteFileRaw(f, text.data(), static_cast<std::uint32_t>(text.size())), text.size());
  CloseFileHandle(f);
}

TEST(FileLayer, CreateDeleteAndDirectories) {
  TempDir dir;
  const std::string path = dir.File("w.bin");
  WriteThrough(path, CreateMode::kCreateNew, "first");
  EXPECT_EQ(CreateFileForWriting(path.c_str(), CreateMode::kCreateNew), kFailedFile);  // only where none is
  EXPECT_EQ(ReadWholeFile(path), Bytes("first"));
  WriteThrough(path, CreateMode::kCreateAlways, "2");
  EXPECT_EQ(ReadWholeFile(path), Bytes("2"));
  EXPECT_EQ(CreateFileForWriting(dir.File("no/such/dir/x").c_str(), CreateMode::kCreateAlways), kFailedFile);
  EXPECT_EQ(CreateDirectoryPath(dir.File("d").c_str()), DirResult::kCreated);
  EXPECT_EQ(CreateDirectoryPath(dir.File("d").c_str()), DirResult::kExists);
  EXPECT_EQ(CreateDirectoryPath(dir.File("p/q/r").c_str()), DirResult::kPathMissing);
  EXPECT_FALSE(DeleteFilePath(dir.File("d").c_str()));  // files only
  EXPECT_TRUE(PathExists(path.c_str()));
  EXPECT_TRUE(DeleteFilePath(path.c_str()));
  EXPECT_FALSE(PathExists(path.c_str()));
}

std::uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<std::uint32_t>((y - 1980) << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s / 2);
}
std::string ModifiedAt(const std::string& path) {
  const auto t = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(fs::last_write_time(path)));
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
  return text;
}

TEST(FileLayer, TimesComeFromTheDosStampAsLocalTimeAndOnlyFromRealDates) {
  TempDir dir;
  const std::string path = dir.File("t");
  FileHandle f = CreateFileForWriting(path.c_str(), CreateMode::kCreateNew);
  ASSERT_TRUE(IsOpenFile(f));
  EXPECT_TRUE(SetFileTimesFromDos(f, Dos(1998, 7, 14, 23, 59, 58)));
  CloseFileHandle(f);
  EXPECT_EQ(ModifiedAt(path), "1998-07-14 23:59:58");
  EXPECT_TRUE(IsValidDosDateTime(SplitDosTime(Dos(2000, 2, 29, 12, 34, 0))));  // a leap year
  f = OpenFileForReading(path.c_str());
  const std::uint32_t invalid[] = {0,  // month 0, day 0
                                   Dos(1999, 2, 29, 0, 0, 0), Dos(2000, 4, 31, 0, 0, 0), Dos(1999, 13, 1, 0, 0, 0),
                                   Dos(1999, 1, 1, 24, 0, 0), Dos(2001, 1, 1, 0, 0, 0) | 30 /* 60 seconds */};
  for (const std::uint32_t stamp : invalid) {
    EXPECT_FALSE(IsValidDosDateTime(SplitDosTime(stamp))) << std::hex << stamp;
    EXPECT_FALSE(SetFileTimesFromDos(f, stamp)) << std::hex << stamp;
  }
  CloseFileHandle(f);
  EXPECT_EQ(ModifiedAt(path), "1998-07-14 23:59:58");
  // Read back as the writer stamps what it archives; a missing file has no time.
  std::uint32_t stamp = 0;
  EXPECT_TRUE(FileDosTime(path.c_str(), stamp));
  EXPECT_EQ(stamp, Dos(1998, 7, 14, 23, 59, 58));
  EXPECT_FALSE(FileDosTime(dir.File("missing").c_str(), stamp));
}

#ifndef _WIN32
// Backslashes separate and case does not matter, per component, for existing names and for
// new ones under a differently spelled directory; output never follows a symbolic link, even a
// dangling one: the link is replaced.
TEST(PosixFileLayer, CaseFoldedComponentsAndNoSymbolicLinkFollowed) {
  TempDir dir;
  fs::create_directories(dir.File("Data/Sub"));
  ASSERT_TRUE(WriteWholeFile(dir.File("Data/Sub/Zone.R00"), Bytes("v")));
  EXPECT_TRUE(PathExists((dir.Path() + "\\DATA\\sub\\zone.r00").c_str()));
  WriteThrough(dir.Path() + "\\data\\SUB\\ZONE.r00", CreateMode::kCreateAlways, "new");
  EXPECT_EQ(ReadWholeFile(dir.File("Data/Sub/Zone.R00")), Bytes("new"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("Data/Sub")), {}), 1);
  const std::string victim = dir.File("victim.txt"), link = dir.File("out.txt"), dangling = dir.File("dangling");
  ASSERT_TRUE(WriteWholeFile(victim, Bytes("keep me")));
  fs::create_symlink(victim, link);
  fs::create_symlink(dir.File("elsewhere"), dangling);
  EXPECT_TRUE(PathExists(link.c_str()));
  EXPECT_TRUE(PathExists(dangling.c_str()));
  EXPECT_EQ(CreateFileForWriting(link.c_str(), CreateMode::kCreateNew), kFailedFile);
  for (const std::string& p : {link, dangling}) {
    WriteThrough(p, CreateMode::kCreateAlways, "written");
    EXPECT_FALSE(fs::is_symlink(p));
    EXPECT_EQ(ReadWholeFile(p), Bytes("written"));
  }
  EXPECT_EQ(ReadWholeFile(victim), Bytes("keep me"));
  EXPECT_FALSE(fs::exists(dir.File("elsewhere")));
}
#endif

}  // namespace
}  // namespace korvane
