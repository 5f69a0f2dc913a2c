// The file layer's contract, run against whichever implementation the build links (POSIX
// natively, Win32 under Wine). POSIX-only behaviour (separators, case, links) is grouped last.
#include "platform/file_layer.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(SeekFile(f, 0, kSeekCurrent), 4);  // base 1, offset 0: where we are, no move
  EXPECT_EQ(SeekFile(f, 0, kSeekCurrent), 4);
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

TEST(FileLayer, ExistsDeleteAndDirectoryClasses) {
  TempDir dir;
  const std::string file = dir.File("f.txt");
  ASSERT_TRUE(WriteWholeFile(file, Bytes("x")));
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
}

TEST(FileLayer, ReadOnlyAttributeRemovesWritePermission) {
  TempDir dir;
  const std::string a = dir.File("a"), b = dir.File("b");
  ASSERT_TRUE(WriteWholeFile(a, Bytes("x")));
  ASSERT_TRUE(WriteWholeFile(b, Bytes("x")));
  EXPECT_TRUE(SetFileAttributesOf(a.c_str(), 0x01 | 0x20));
  EXPECT_TRUE(SetFileAttributesOf(b.c_str(), 0x20 | 0x10 | 0x08));  // directory/label bits are dropped
  EXPECT_EQ(fs::status(a).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(b).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(fs::is_regular_file(b));
}

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::time_t ModifiedAt(const std::string& path) {
  const auto ft = fs::last_write_time(path);
  return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(ft));
}

std::uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<std::uint32_t>((y - 1980) << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s / 2);
}

TEST(FileLayer, TimesComeFromTheDosStampAsLocalTime) {
  TempDir dir;
  const std::string path = dir.File("t");
  FileHandle f = CreateFileForWriting(path.c_str(), CreateMode::kCreateNew);
  ASSERT_TRUE(IsOpenFile(f));
  EXPECT_TRUE(SetFileTimesFromDos(f, Dos(1998, 7, 14, 23, 59, 58)));
  CloseFileHandle(f);
  EXPECT_EQ(ModifiedAt(path), LocalTime(1998, 7, 14, 23, 59, 58));

  f = OpenFileForReading(path.c_str());
  const std::time_t before = ModifiedAt(path);
  EXPECT_FALSE(SetFileTimesFromDos(f, 0));                         // month 0, day 0
  EXPECT_FALSE(SetFileTimesFromDos(f, Dos(1999, 2, 29, 0, 0, 0)));  // not a leap year
  EXPECT_FALSE(SetFileTimesFromDos(f, Dos(1999, 13, 1, 0, 0, 0)));
  EXPECT_FALSE(SetFileTimesFromDos(f, Dos(1999, 1, 1, 24, 0, 0)));
  CloseFileHandle(f);
  EXPECT_EQ(ModifiedAt(path), before);
}

TEST(DosTime, SplitAndValidity) {
  const DosDateTime t = SplitDosTime(Dos(2000, 2, 29, 12, 34, 0));
  EXPECT_EQ(t.year, 2000);
  EXPECT_EQ(t.month, 2);
  EXPECT_EQ(t.day, 29);
  EXPECT_EQ(t.hour, 12);
  EXPECT_EQ(t.minute, 34);
  EXPECT_EQ(t.second, 0);
  EXPECT_TRUE(IsValidDosDateTime(t));
  EXPECT_FALSE(IsValidDosDateTime(SplitDosTime(Dos(1900 + 100, 4, 31, 0, 0, 0))));
  EXPECT_FALSE(IsValidDosDateTime(SplitDosTime(Dos(2001, 1, 1, 0, 0, 0) | 30)));  // 60 seconds
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
