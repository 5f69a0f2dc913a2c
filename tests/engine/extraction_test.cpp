// The driver over hand-built archives: names that try to leave the destination, both modes,
// skipped and refused entries, checksum failures, volume moves, the first-volume search, abort.
#include "engine/extraction.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "engine/status.h"
#include "tests/engine/engine_fixture.h"
#include "unpack/unpack_state.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

struct SanitizeCase {
  const char* stored;
  const char* sanitised;
};

class Sanitize : public ::testing::TestWithParam<SanitizeCase> {};

TEST_P(Sanitize, LeavesOnlyARelativePath) {
  char name[260];
  std::strcpy(name, GetParam().stored);
  SanitizeEntryName(name);
  EXPECT_STREQ(name, GetParam().sanitised);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Sanitize,
    ::testing::Values(SanitizeCase{"D:\\x", "x"}, SanitizeCase{".\\x", "x"}, SanitizeCase{"..\\x", "x"},
                      SanitizeCase{"\\x", "x"}, SanitizeCase{"..\\..\\x", "x"}, SanitizeCase{"a\\..\\..\\b", "a\\b"},
                      SanitizeCase{"C:foo", "foo"}, SanitizeCase{"\\\\server\\share\\f", "server\\share\\f"},
                      SanitizeCase{"dir\\C:\\x", "dir\\x"}, SanitizeCase{"a/./b//c/", "a\\b\\c"},
                      SanitizeCase{"...\\. .\\x", "x"}, SanitizeCase{"..", ""}, SanitizeCase{"\\", ""},
                      SanitizeCase{"C:", ""}, SanitizeCase{"plain.txt", "plain.txt"},
                      SanitizeCase{"..a\\b..", "..a\\b.."}));

class Extraction : public EngineTest {
 protected:
  void SetUp() override {
    dest = dir.File("dest");
    fs::create_directory(dest);
    std::snprintf(job.DestinationDir, sizeof job.DestinationDir, "%s\\", dest.c_str());
    job.ProgressWindow = reinterpret_cast<void*>(0x99);
  }
  std::int32_t RunOn(const std::string& file, char mode) {
    SetArchiveName(dir.File(file));
    job.Abort = 0;
    job.CurrentVolume = 1;
    if (mode == 'T') job.DestinationDir[0] = '\0';
    return RunExtraction(engine, *unpack, mode, job.ProgressWindow, job);
  }
  std::int32_t RunNew(const std::vector<EntrySpec>& entries, char mode, std::uint16_t mainFlags = 0) {
    NewArchiveWriter w;
    w.Main(mainFlags);
    for (const auto& e : entries) w.File(e);
    Write("a.rar", w.bytes());
    return RunOn("a.rar", mode);
  }
  std::string Dest(const std::string& rel) const { return (fs::path(dest) / rel).string(); }
  std::vector<std::string> TreeOf(const std::string& root) const {
    std::vector<std::string> out;
    for (const auto& item : fs::recursive_directory_iterator(root))
      out.push_back(fs::relative(item.path(), root).generic_string() + (item.is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
  }
  static EntrySpec Dir(const std::string& name) {
    EntrySpec e = StoredEntry(name, {});
    e.attr = 0x10;
    return e;
  }

  std::string dest;
  std::unique_ptr<UnpackState> unpack = std::make_unique<UnpackState>();
};

TEST_F(Extraction, NothingIsWrittenOutsideTheDestination) {
  const std::vector<EntrySpec> entries = {
      StoredEntry("..\\..\\escape1.txt", BytesOf("1")), StoredEntry("../escape2.txt", BytesOf("2")),
      StoredEntry("\\abs.txt", BytesOf("3")),           StoredEntry("C:\\drive.txt", BytesOf("4")),
      StoredEntry("sub\\..\\..\\up.txt", BytesOf("5")), StoredEntry("..", BytesOf("6")),
      StoredEntry(".\\", BytesOf("7")),                 Dir("..\\..\\outdir")};
  EXPECT_EQ(RunNew(entries, 'X'), 6);
  EXPECT_EQ(job.ErrorCount, 2);  // the two names that are nothing once cleaned
  EXPECT_EQ(TreeOf(dir.Path()),
            (std::vector<std::string>{"a.rar", "dest/", "dest/abs.txt", "dest/drive.txt", "dest/escape1.txt",
                                      "dest/escape2.txt", "dest/outdir/", "dest/sub/", "dest/sub/up.txt"}));
  EXPECT_TRUE(host.Saw(status::kExtrTotalErr));
}

TEST_F(Extraction, TestModeWritesNothingAsksNothingAndCountsDirectoriesToo) {
  Write("dest/exists.txt", BytesOf("old"));
  NewArchiveWriter w;
  w.Main().File(Dir("d1")).File(StoredEntry("exists.txt", BytesOf("new"))).File(StoredEntry("d1\\f.txt", BytesOf("f")));
  Write("t.rar", w.bytes());
  const auto before = TreeOf(dir.Path());
  EXPECT_EQ(RunOn("t.rar", 'T'), 3);
  EXPECT_EQ(TreeOf(dir.Path()), before);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(host.CountStatus(status::kExtrTestDir), 1);
  EXPECT_EQ(host.CountStatus(status::kExtrTestFile), 2);
  EXPECT_EQ(host.CountStatus(status::kExtrOk), 2);
  EXPECT_TRUE(host.Saw(status::kExtrAllOk));
  EXPECT_STREQ(job.CurrentFile, "d1\\f.txt");  // no destination in a test run
  EXPECT_EQ(job.ErrorCount, 0);
}

TEST_F(Extraction, ArchiveOfDirectoriesOnlyCountsThem) {
  EXPECT_EQ(RunNew({Dir("a"), Dir("a\\b"), Dir("c\\d\\e")}, 'X'), 3);
  EXPECT_TRUE(fs::is_directory(Dest("a/b")));
  EXPECT_TRUE(fs::is_directory(Dest("c/d/e")));
  // Existing directories are kept silently.
  host.statuses.clear();
  EXPECT_EQ(RunNew({Dir("a")}, 'X'), 1);
  EXPECT_FALSE(host.Saw(status::kExtrErrMkDir));
}

TEST_F(Extraction, InstallWritesContentTimesAndAttributes) {
  EntrySpec ro = StoredEntry("dir\\ro.txt", BytesOf("read only"));
  ro.attr = 0x21;
  ro.time = DosTime(1997, 12, 24, 18, 30, 0);
  EntrySpec plain = StoredEntry("plain.bin", Bytes(100000, 0x5A));
  plain.time = DosTime(2001, 2, 3, 4, 5, 6);
  ASSERT_EQ(RunNew({ro, plain}, 'X'), 2);
  EXPECT_EQ(ReadWholeFile(Dest("dir/ro.txt")), BytesOf("read only"));
  EXPECT_EQ(ReadWholeFile(Dest("plain.bin")), Bytes(100000, 0x5A));
  EXPECT_EQ(fs::status(Dest("dir/ro.txt")).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(Dest("plain.bin")).permissions() & fs::perms::owner_write, fs::perms::none);
  auto mtime = [](const std::string& p) {
    return std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(fs::last_write_time(p)));
  };
  std::tm t{};
  t.tm_year = 97;
  t.tm_mon = 11;
  t.tm_mday = 24;
  t.tm_hour = 18;
  t.tm_min = 30;
  t.tm_isdst = -1;
  EXPECT_EQ(mtime(Dest("dir/ro.txt")), std::mktime(&t));
  EXPECT_EQ(std::string(job.CurrentFile), std::string(job.DestinationDir) + "plain.bin");
  EXPECT_FLOAT_EQ(job.FileProgress, 1.0f);
  EXPECT_EQ(host.CountStatus(status::kExtrFile), 2);
}

TEST_F(Extraction, WrongChecksumDeletesTheFileInInstallAndChangesNothingInTest) {
  EntrySpec bad = StoredEntry("bad.txt", BytesOf("content"));
  bad.fileCrc ^= 1;
  bad.attr = 0x21;  // read-only must not keep it from being deleted
  EntrySpec secret = StoredEntry("secret.txt", BytesOf("cipher"));
  secret.flags = 0x04;
  secret.fileCrc ^= 1;
  EXPECT_EQ(RunNew({bad, secret, StoredEntry("good.txt", BytesOf("g"))}, 'X'), 3);
  EXPECT_EQ(TreeOf(dest), std::vector<std::string>{"good.txt"});
  EXPECT_EQ(host.CountStatus(status::kExtrBadCRC), 1);
  EXPECT_EQ(host.CountStatus(status::kEncrBadCRC), 1);
  EXPECT_EQ(job.ErrorCount, 2);
  EXPECT_TRUE(host.Saw(status::kExtrTotalErr));
}

TEST_F(Extraction, UnknownVersionIsSkippedOrDecodedForTheDictionary) {
  EntrySpec odd = StoredEntry("odd.bin", BytesOf("odd"));
  odd.unpVer = 29;
  EXPECT_EQ(RunNew({odd, StoredEntry("next.txt", BytesOf("n"))}, 'X'), 1);
  EXPECT_EQ(TreeOf(dest), std::vector<std::string>{"next.txt"});
  EXPECT_EQ(job.ErrorCount, 1);
  EXPECT_TRUE(host.Saw(status::kExtrUnknMeth));

  host.statuses.clear();
  fs::remove(Dest("next.txt"));
  EXPECT_EQ(RunNew({odd, StoredEntry("next.txt", BytesOf("n"))}, 'X', 0x08), 1);
  EXPECT_EQ(host.CountStatus(status::kExtrSkipFile), 1);
  EXPECT_EQ(TreeOf(dest), std::vector<std::string>{"next.txt"});
}

TEST_F(Extraction, VolumeLabelIsIgnoredAndNotCounted) {
  EntrySpec label = StoredEntry("MYDISK", {});
  label.attr = 0x08;
  EXPECT_EQ(RunNew({label, StoredEntry("f", BytesOf("x"))}, 'X'), 1);
  EXPECT_EQ(TreeOf(dest), std::vector<std::string>{"f"});
}

TEST_F(Extraction, OverwriteAnswersThroughAWholeRun) {
  Write("dest/a", BytesOf("old a"));
  Write("dest/b", BytesOf("old b"));
  const std::vector<EntrySpec> entries = {StoredEntry("a", BytesOf("new a")), StoredEntry("b", BytesOf("new b"))};
  host.defaultAnswer = kIdCancel;
  EXPECT_EQ(RunNew(entries, 'X'), 0);  // both refused: nothing processed, but no failure either
  EXPECT_EQ(job.ErrorCount, 0);
  EXPECT_EQ(host.CountBoxes("Overwrite all files:"), 2);
  EXPECT_EQ(ReadWholeFile(Dest("a")), BytesOf("old a"));
  EXPECT_TRUE(host.Saw(status::kExtrNoFiles));

  host.boxes.clear();
  host.defaultAnswer = kIdOk;
  EXPECT_EQ(RunNew(entries, 'X'), 2);
  EXPECT_EQ(host.CountBoxes("Overwrite all files:"), 1);
  EXPECT_EQ(host.boxes[0].owner, job.ProgressWindow);
  EXPECT_EQ(ReadWholeFile(Dest("b")), BytesOf("new b"));

  // The answer holds for one run only.
  host.boxes.clear();
  host.defaultAnswer = kIdCancel;
  EXPECT_EQ(RunNew(entries, 'X'), 0);
  EXPECT_EQ(host.boxes.size(), 2u);
}

TEST_F(Extraction, AbortInsideAnEntryDeletesItsPartialFile) {
  host.onProgress = [&] {
    if (engine.Session.BytesWritten > 0) job.Abort = 2;
  };
  const std::int32_t result = RunNew({StoredEntry("big.bin", Bytes(200000, 1)), StoredEntry("after", BytesOf("a"))}, 'X');
  EXPECT_EQ(result, 1);
  EXPECT_EQ(job.ErrorCount, 1);
  EXPECT_TRUE(TreeOf(dest).empty());
}

TEST_F(Extraction, MissingArchiveAndNonArchiveAreToldOnce) {
  EXPECT_EQ(RunOn("absent.rar", 'T'), 0);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Cannot find:\n" + dir.File("absent.rar"));
  EXPECT_EQ(host.boxes[0].title, "Zendril 1997");
  EXPECT_EQ(host.boxes[0].style, 16u);
  EXPECT_EQ(host.boxes[0].owner, job.ProgressWindow);
  Write("text.rar", BytesOf("just some words, no archive here"));
  EXPECT_EQ(RunOn("text.rar", 'T'), 0);
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[1].text, "Not a valid Archive:\n" + dir.File("text.rar"));
  EXPECT_EQ(host.boxes[1].title, "(none)");
}

TEST_F(Extraction, StoredVolumeSetIsExtractedWhole) {
  const Bytes content = BytesOf(std::string(3000, 'q') + "end");
  const auto volumes = StoredVolumeSet({{"first.txt", BytesOf("one"), {}}, {"split.txt", content, {500, 1500}},
                                        {"last.txt", BytesOf("three"), {}}});
  ASSERT_EQ(volumes.size(), 3u);
  Write("s.rar", volumes[0]);
  Write("s.r00", volumes[1]);
  Write("s.r01", volumes[2]);
  EXPECT_EQ(RunOn("s.rar", 'X'), 3);
  EXPECT_EQ(ReadWholeFile(Dest("split.txt")), content);
  EXPECT_EQ(ReadWholeFile(Dest("last.txt")), BytesOf("three"));
  EXPECT_EQ(job.CurrentVolume, 3);
  EXPECT_EQ(std::string(job.ArchiveName), dir.File("s.r01"));
  EXPECT_EQ(host.CountStatus(status::kExtrVol), 2);
}

TEST_F(Extraction, MoveAtABlockBoundaryAfterASkippedPart) {
  // The entry with an unknown version is not decoded, so its first part is passed over and the
  // driver itself opens the next volume, skips the continuing part and goes on.
  auto volumes = StoredVolumeSet({{"skip.bin", BytesOf("0123456789"), {5}}, {"after.txt", BytesOf("a"), {}}});
  ASSERT_EQ(volumes.size(), 2u);
  volumes[0][7 + 13 + 24] = 29;  // UnpVer of the first part (header CRC now wrong: only reported)
  Write("b.rar", volumes[0]);
  Write("b.r00", volumes[1]);
  EXPECT_EQ(RunOn("b.rar", 'X'), 1);
  EXPECT_EQ(TreeOf(dest), std::vector<std::string>{"after.txt"});
  EXPECT_EQ(job.CurrentVolume, 2);
  EXPECT_FALSE(host.Saw(status::kExtrPoints));
  EXPECT_TRUE(host.Saw(status::kExtrVol));
}

TEST_F(Extraction, MissingNextVolumeAtABlockBoundaryIsToldTwice) {
  auto volumes = StoredVolumeSet({{"skip.bin", BytesOf("0123456789"), {5}}});
  volumes[0][7 + 13 + 24] = 29;
  Write("m.rar", volumes[0]);
  EXPECT_EQ(RunOn("m.rar", 'T'), 0);
  EXPECT_EQ(host.CountBoxes("Cannot find:\n" + dir.File("m.r00")), 2);
  EXPECT_EQ(job.Abort.load(), 1);
}

TEST_F(Extraction, MissingNextVolumeInsideDataFailsTheEntry) {
  const auto volumes = StoredVolumeSet({{"split.txt", Bytes(1000, 3), {400}}});
  Write("m.rar", volumes[0]);
  EXPECT_EQ(RunOn("m.rar", 'X'), 1);
  EXPECT_EQ(host.CountBoxes("Cannot find:\n" + dir.File("m.r00")), 1);
  EXPECT_EQ(job.ErrorCount, 1);
  EXPECT_EQ(job.Abort.load(), 1);
  EXPECT_TRUE(TreeOf(dest).empty());  // the partial file was deleted
}

TEST_F(Extraction, ContinuedPartOfANonSolidArchiveIsSkipped) {
  const auto volumes = StoredVolumeSet({{"split.txt", Bytes(100, 3), {40}}, {"next.txt", BytesOf("n"), {}}});
  Write("c.rar", volumes[0]);
  Write("c.r00", volumes[1]);
  EXPECT_EQ(RunOn("c.r00", 'X'), 1);
  EXPECT_EQ(TreeOf(dest), std::vector<std::string>{"next.txt"});
}

TEST_F(Extraction, SolidArchiveOpenedLaterLooksForItsFirstVolume) {
  const auto volumes = StoredVolumeSet({{"split.txt", Bytes(100, 3), {40}}, {"next.txt", BytesOf("n"), {}}}, 0x09);
  // Neither first volume there: nothing.
  Write("x.r00", volumes[1]);
  EXPECT_EQ(RunOn("x.r00", 'T'), 0);
  EXPECT_TRUE(host.Saw(status::kMissingFirstVolume));
  EXPECT_TRUE(host.Saw(status::kNoFilesFatal));
  // A self-extracting first volume is found by its .exe name.
  Write("x.exe", volumes[0]);
  host.statuses.clear();
  EXPECT_EQ(RunOn("x.r00", 'T'), 2);
  EXPECT_EQ(host.CountStatus(status::kExtrOk), 2);
  EXPECT_EQ(std::string(job.ArchiveName), dir.File("x.r00"));
  // .rar is preferred.
  Write("x.rar", volumes[0]);
  fs::remove(dir.File("x.exe"));
  EXPECT_EQ(RunOn("x.r00", 'T'), 2);
}

TEST_F(Extraction, SelfExtractingVolumeThatIsNotTheFirstEndsTheSearch) {
  // x.exe itself starts with a continued entry and no x.rar exists: searching again would find
  // x.exe again and go round for ever.
  const auto volumes = StoredVolumeSet({{"split.txt", Bytes(100, 3), {40}}}, 0x09);
  Write("x.exe", volumes[1]);
  EXPECT_EQ(RunOn("x.exe", 'T'), 0);
  EXPECT_TRUE(host.Saw(status::kMissingFirstVolume));
}

#ifndef _WIN32
TEST_F(Extraction, SymbolicLinkAtAnOutputPathIsReplacedNotWrittenThrough) {
  const std::string outside = dir.File("outside.txt");
  Write("outside.txt", BytesOf("untouched"));
  fs::create_symlink(outside, Dest("link.txt"));
  host.defaultAnswer = kIdOk;
  EXPECT_EQ(RunNew({StoredEntry("link.txt", BytesOf("archive data"))}, 'X'), 1);
  EXPECT_EQ(ReadWholeFile(outside), BytesOf("untouched"));
  EXPECT_FALSE(fs::is_symlink(Dest("link.txt")));
  EXPECT_EQ(ReadWholeFile(Dest("link.txt")), BytesOf("archive data"));
  // A failed entry deletes the link it replaced, never the file the link pointed at.
  fs::remove(Dest("link.txt"));
  fs::create_symlink(outside, Dest("link.txt"));
  EntrySpec bad = StoredEntry("link.txt", BytesOf("archive data"));
  bad.fileCrc ^= 1;
  RunNew({bad}, 'X');
  EXPECT_EQ(ReadWholeFile(outside), BytesOf("untouched"));
  EXPECT_FALSE(fs::exists(Dest("link.txt")));
}
#endif

}  // namespace
}  // namespace korvane::testing

namespace korvane::testing {
namespace {

// Truncations and byte flips of real archives of each layout: every run must end (no hang, no
// out-of-bounds access under the sanitizers) and never claim more than the intact archive.
class DamagedCorpus : public Extraction, public ::testing::WithParamInterface<const char*> {};

TEST_P(DamagedCorpus, EveryCutAndFlipEndsCleanly) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  const Bytes whole = ReadWholeFile(CorpusDir() + "/rar/" + GetParam());
  ASSERT_GT(whole.size(), 100u);
  Write("d.rar", whole);
  const std::int32_t intact = RunOn("d.rar", 'T');
  ASSERT_GT(intact, 0);
  const std::size_t step = std::max<std::size_t>(1, whole.size() / 97);
  for (std::size_t at = 0; at < whole.size(); at += step) {
    SCOPED_TRACE(at);
    Write("d.rar", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(at)));
    EXPECT_LE(RunOn("d.rar", 'T'), intact);
    Bytes flipped = whole;
    flipped[at] ^= static_cast<std::uint8_t>(0x01 << (at % 8));
    Write("d.rar", flipped);
    EXPECT_LE(RunOn("d.rar", 'T'), intact + 1);  // a flipped attribute may turn a file into a directory
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedCorpus,
                         ::testing::Values("fixc__Rar2.rar", "fixc__Rar15.rar", "dos1402__SOLID.RAR",
                                           "dos250__AUDIO.RAR", "music__test_v2.rar", "win154__readme.EXE"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

}  // namespace
}  // namespace korvane::testing
