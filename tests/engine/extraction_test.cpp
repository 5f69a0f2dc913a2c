// The driver: the per-entry decision, names that try to leave the destination, both modes,
// skipped and refused entries, checksum failures, volume moves, the first-volume search, abort.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "engine/entry_decision.h"
#include "engine/entry_name.h"
#include "engine/messages.h"
#include "engine/status.h"
#include "platform/disk_space.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

TEST(EntryDecision, EveryKindOfEntryInEachModeAndArchive) {
  using A = EntryAction;
  constexpr std::uint32_t kFile = 0x20, kDir = 0x10, kLabel = 0x08;
  const struct {
    const char* What;
    std::uint16_t Flags;
    std::uint8_t UnpVer;
    std::uint32_t Attr;
    bool NameUsable, Solid;
    char Mode;
    A Action;
    bool Unknown, Unusable;
    int Errors;
  } cases[] = {
      {"file, install", 0, 20, kFile, true, false, 'X', A::kExtract, false, false, 0},
      {"file, test", 0, 13, kFile, true, false, 'T', A::kTest, false, false, 0},
      {"file, solid", 0x10, 15, kFile, true, true, 'X', A::kExtract, false, false, 0},
      {"version 12", 0, 12, kFile, true, false, 'X', A::kSkipFile, true, false, 1},
      {"version 21", 0, 21, kFile, true, false, 'T', A::kSkipFile, true, false, 1},
      {"version 29, solid", 0, 29, kFile, true, true, 'X', A::kDecodeForDictionary, true, false, 1},
      {"name too long", 0, 20, kFile, false, false, 'X', A::kSkipFile, false, true, 1},
      {"name too long, solid", 0, 20, kFile, false, true, 'T', A::kDecodeForDictionary, false, true, 1},
      {"unknown version and name too long", 0, 29, kFile, false, false, 'X', A::kSkipFile, true, false, 1},
      {"continued part", 0x01, 20, kFile, true, false, 'X', A::kPassOver, false, false, 0},
      {"continued part, unknown version", 0x03, 29, kFile, true, false, 'X', A::kPassOver, false, false, 0},
      {"continued part, solid", 0x01, 20, kFile, true, true, 'X', A::kDecodeForDictionary, false, false, 0},
      {"continued, solid, unknown version", 0x01, 29, kFile, true, true, 'T', A::kDecodeForDictionary, true, false, 0},
      {"continued, solid, name too long", 0x01, 20, kFile, false, true, 'X', A::kDecodeForDictionary, false, false, 0},
      {"directory, install", 0, 20, kDir, true, false, 'X', A::kDirectory, false, false, 0},
      {"directory, test", 0, 20, kDir, true, true, 'T', A::kDirectory, false, false, 0},
      {"directory, unknown version", 0, 29, kDir, true, false, 'X', A::kDirectory, true, false, 1},
      {"directory, name too long", 0, 20, kDir, false, false, 'X', A::kPassOver, false, false, 1},
      {"directory, continued, solid", 0x01, 20, kDir, false, true, 'X', A::kPassOverDirectory, false, false, 0},
      {"volume label", 0, 20, kLabel | kDir, true, false, 'X', A::kPassOver, false, false, 0},
      {"volume label, unknown version", 0, 10, kLabel, false, true, 'T', A::kPassOver, true, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    FileHeader h;
    h.HeadFlags = c.Flags;
    h.UnpVer = c.UnpVer;
    h.FileAttr = c.Attr;
    const EntryDecision d = DecideEntry(h, c.NameUsable, c.Mode, c.Solid);
    EXPECT_EQ(d.Action, c.Action);
    EXPECT_EQ(d.UnknownMethod, c.Unknown);
    EXPECT_EQ(d.UnusableName, c.Unusable);
    EXPECT_EQ(d.Errors, c.Errors);
    EXPECT_EQ(d.WithoutOutput, c.Solid ? A::kDecodeForDictionary : A::kSkipFile);
  }
}

TEST(Sanitize, LeavesOnlyARelativePath) {
  const std::pair<const char*, const char*> cases[] = {
      {"D:\\x", "x"},        {".\\x", "x"},          {"..\\x", "x"},
      {"\\x", "x"},          {"..\\..\\x", "x"},     {"a\\..\\..\\b", "a\\b"},
      {"C:foo", "foo"},      {"\\\\server\\share\\f", "server\\share\\f"},
      {"dir\\C:\\x", "dir\\x"}, {"a/./b//c/", "a\\b\\c"}, {"...\\. .\\x", "x"},
      {"..", ""},            {"\\", ""},             {"C:", ""},
      {"plain.txt", "plain.txt"}, {"..a\\b..", "..a\\b.."}, {"CON\\a:b", "CON\\a:b"}};
  for (const auto& [stored, sanitised] : cases) {
    char name[260];
    std::strcpy(name, stored);
    EXPECT_TRUE(SanitizeEntryName(name, sizeof name, NameRules::kPortable));
    EXPECT_STREQ(name, sanitised) << stored;
  }
}

// Names Win32 would open as a device or a data stream, refuse, or quietly change.
TEST(Sanitize, WindowsRulesMakeEveryComponentCreatable) {
  const std::pair<const char*, const char*> cases[] = {
      {"CON", "_CON"},                 {"aux.txt", "_aux.txt"},         {"d\\NUL.dat", "d\\_NUL.dat"},
      {"com1", "_com1"},               {"LPT9.log.txt", "_LPT9.log.txt"}, {"Prn .txt", "_Prn .txt"},
      {"COM10", "COM10"},              {"CONSOLE.txt", "CONSOLE.txt"},  {"LPT", "LPT"},
      {"d\\a:b", "d\\a_b"},          {"x\\trailing. ", "x\\trailing"}, {"dir. \\f", "dir\\f"},
      {"q<u>o\"t|e?s*", "q_u_o_t_e_s_"}, {"\x01" "ctl\x1f.txt", "_ctl_.txt"}, {"..a\\b..", "..a\\b"},
      {"C:\\con\\x", "_con\\x"},     {"x\\ .\\y", "x\\y"},          {"aux:stream", "aux_stream"}};
  for (const auto& [stored, sanitised] : cases) {
    char name[260];
    std::strcpy(name, stored);
    EXPECT_TRUE(SanitizeEntryName(name, sizeof name, NameRules::kWindows));
    EXPECT_STREQ(name, sanitised) << stored;
  }
  // Every component grows by one: the name no longer fits and must not be created.
  std::string devices;
  for (int i = 0; i < 60; ++i) devices += "CON\\";
  char name[260];
  std::strcpy(name, devices.c_str());
  EXPECT_FALSE(SanitizeEntryName(name, sizeof name, NameRules::kWindows));
  EXPECT_EQ(std::strlen(name), sizeof name - 1);
}

class Extraction : public EngineTest {
 protected:
  void SetUp() override {
    Dest = Dir.File("dest");
    fs::create_directory(Dest);
    Job.ProgressWindow = reinterpret_cast<void*>(0x99);
  }
  std::int32_t RunOn(const std::string& file, char mode) {
    if (mode == 'X') std::snprintf(Job.DestinationDir, sizeof Job.DestinationDir, "%s\\", Dest.c_str());
    return Run(Dir.File(file), mode);
  }
  static Bytes Archive(const std::vector<EntrySpec>& entries, std::uint16_t mainFlags = 0) {
    ArchiveWriter w;
    w.Main(mainFlags);
    for (const auto& e : entries) w.File(e);
    return w.Data();
  }
  std::int32_t RunNew(const std::vector<EntrySpec>& entries, char mode) {
    Write("a.rar", Archive(entries));
    return RunOn("a.rar", mode);
  }
  std::string InDest(const std::string& rel) const { return (fs::path(Dest) / rel).string(); }
  static std::vector<std::string> TreeOf(const std::string& root) {
    std::vector<std::string> out;
    for (const auto& item : fs::recursive_directory_iterator(root))
      out.push_back(fs::relative(item.path(), root).generic_string() + (item.is_directory() ? "/" : ""));
    std::sort(out.begin(), out.end());
    return out;
  }
  static EntrySpec DirEntry(const std::string& name) {
    EntrySpec e = StoredEntry(name, {});
    e.Attr = 0x10;
    return e;
  }

  std::string Dest;
};

TEST_F(Extraction, NothingIsWrittenOutsideTheDestination) {
  const std::vector<EntrySpec> entries = {
      StoredEntry("..\\..\\escape1.txt", BytesOf("1")), StoredEntry("../escape2.txt", BytesOf("2")),
      StoredEntry("\\abs.txt", BytesOf("3")),           StoredEntry("C:\\drive.txt", BytesOf("4")),
      StoredEntry("sub\\..\\..\\up.txt", BytesOf("5")), StoredEntry("..", BytesOf("6")),
      StoredEntry(".\\", BytesOf("7")),                 DirEntry("..\\..\\outdir")};
  EXPECT_EQ(RunNew(entries, 'X'), 6);
  EXPECT_EQ(Job.ErrorCount, 2);  // the two names that are nothing once cleaned
  EXPECT_EQ(TreeOf(Dir.Path()),
            (std::vector<std::string>{"a.rar", "dest/", "dest/abs.txt", "dest/drive.txt", "dest/escape1.txt",
                                      "dest/escape2.txt", "dest/outdir/", "dest/sub/", "dest/sub/up.txt"}));
  EXPECT_TRUE(Host.Saw(status::kExtrTotalErr));
}

TEST_F(Extraction, TestModeWritesNothingAsksNothingAndCountsDirectoriesToo) {
  Write("dest/exists.txt", BytesOf("old"));
  Write("t.rar", Archive({DirEntry("d1"), StoredEntry("exists.txt", BytesOf("new")), StoredEntry("d1\\f.txt", BytesOf("f"))}));
  const auto before = TreeOf(Dir.Path());
  EXPECT_EQ(RunOn("t.rar", 'T'), 3);
  EXPECT_EQ(TreeOf(Dir.Path()), before);
  EXPECT_TRUE(Host.Boxes.empty());
  EXPECT_EQ(Host.Count(status::kExtrTestDir), 1);
  EXPECT_EQ(Host.Count(status::kExtrTestFile), 2);
  EXPECT_EQ(Host.Count(status::kExtrOk), 2);
  EXPECT_TRUE(Host.Saw(status::kExtrAllOk));
  EXPECT_STREQ(Job.CurrentFile, "d1\\f.txt");  // no destination in a test run
  EXPECT_EQ(Job.ErrorCount, 0);
}

TEST_F(Extraction, InstallWritesContentDirectoriesAndTheReadOnlyAttribute) {
  EntrySpec ro = StoredEntry("dir\\ro.txt", BytesOf("read only"));
  ro.Attr = 0x21;
  ASSERT_EQ(RunNew({ro, StoredEntry("plain.bin", BytesOf("plain")), DirEntry("a\\b"), DirEntry("c\\d\\e")}, 'X'), 4);
  EXPECT_EQ(ReadWholeFile(InDest("dir/ro.txt")), BytesOf("read only"));
  EXPECT_EQ(fs::status(InDest("dir/ro.txt")).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(InDest("plain.bin")).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_TRUE(fs::is_directory(InDest("a/b")));
  EXPECT_TRUE(fs::is_directory(InDest("c/d/e")));
  EXPECT_EQ(std::string(Job.CurrentFile), std::string(Job.DestinationDir) + "plain.bin");
  EXPECT_FLOAT_EQ(Job.FileProgress, 1.0f);
  EXPECT_EQ(Host.Count(status::kExtrFile), 2);
  EXPECT_EQ(RunNew({DirEntry("a")}, 'X'), 1);  // an existing directory is kept silently
  EXPECT_FALSE(Host.Saw(status::kExtrErrMkDir));
}

// One archive or volume set per row: what a run returns, how many entries fail, what is left
// in the destination (a file that failed is deleted) and one status that must be seen.
TEST_F(Extraction, EntriesThatAreSkippedOrFail) {
  EntrySpec bad = StoredEntry("bad.txt", BytesOf("content")), odd = StoredEntry("odd.bin", BytesOf("odd"));
  EntrySpec label = StoredEntry("MYDISK", {});
  bad.FileCrc ^= 1;
  bad.Attr = 0x21;  // read-only must not keep it from being deleted
  odd.UnpVer = 29;
  label.Attr = 0x08;
  const EntrySpec next = StoredEntry("next.txt", BytesOf("n"));
  const struct {
    const char* What;
    std::vector<Bytes> Volumes;
    const char* Open;
    std::int32_t Result, Errors;
    std::vector<std::string> Tree;
    const char* Status;
  } cases[] = {
      {"wrong checksum", {Archive({bad, next})}, "r.rar", 2, 1, {"next.txt"}, status::kExtrBadCRC},
      {"unknown version", {Archive({odd, next})}, "r.rar", 1, 1, {"next.txt"}, status::kExtrUnknMeth},
      {"unknown version, solid: decoded for the dictionary", {Archive({odd, next}, 0x08)}, "r.rar", 1, 1, {"next.txt"},
       status::kExtrSkipFile},
      {"volume label", {Archive({label, next})}, "r.rar", 1, 0, {"next.txt"}, status::kExtrAllOk},
      {"continued part, not solid", StoredVolumeSet({{"split.txt", Bytes(100, 3), {40}}, {"next.txt", {'n'}, {}}}),
       "r.r00", 1, 0, {"next.txt"}, status::kExtrAllOk},
      {"next volume missing inside data", {StoredVolumeSet({{"split.txt", Bytes(1000, 3), {400}}})[0]}, "r.rar", 1,
       1, {}, status::kExtrTotalErr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    Reader.Reset();
    for (const char* stale : {"r.rar", "r.r00"}) fs::remove(Dir.File(stale));
    fs::remove_all(Dest);
    fs::create_directory(Dest);
    WriteSet("r", c.Volumes);
    EXPECT_EQ(RunOn(c.Open, 'X'), c.Result);
    EXPECT_EQ(Job.ErrorCount, c.Errors);
    EXPECT_EQ(TreeOf(Dest), c.Tree);
    EXPECT_TRUE(Host.Saw(c.Status));
  }
  EXPECT_EQ(Host.CountBoxes("Cannot find:\n" + Dir.File("r.r00")), 1);  // the last row
  EXPECT_EQ(Job.Abort.load(), kEngineGaveUp);
}

TEST_F(Extraction, OverwriteAnswersHoldForOneRun) {
  Write("dest/a", BytesOf("old a"));
  Write("dest/b", BytesOf("old b"));
  const std::vector<EntrySpec> entries = {StoredEntry("a", BytesOf("new a")), StoredEntry("b", BytesOf("new b"))};
  // Cancel keeps the file and asks again for the next: nothing processed, but no failure either.
  Host.Answer = kIdCancel;
  EXPECT_EQ(RunNew(entries, 'X'), 0);
  EXPECT_EQ(Job.ErrorCount, 0);
  EXPECT_EQ(Host.CountBoxes("Overwrite all files:"), 2);
  EXPECT_EQ(Host.Count(status::kFileExists), 2);
  EXPECT_EQ(ReadWholeFile(InDest("a")), BytesOf("old a"));
  EXPECT_TRUE(Host.Saw(status::kExtrNoFiles));
  // OK replaces this and every later file without asking again.
  Host.Answer = kIdOk;
  EXPECT_EQ(RunNew(entries, 'X'), 2);
  ASSERT_EQ(Host.Boxes.size(), 1u);
  EXPECT_EQ(Host.Boxes[0].Title, "Zendril 97");
  EXPECT_EQ(Host.Boxes[0].Style, 0x11u);
  EXPECT_EQ(Host.Boxes[0].Owner, Job.ProgressWindow);
  EXPECT_EQ(ReadWholeFile(InDest("a")), BytesOf("new a"));
  EXPECT_EQ(ReadWholeFile(InDest("b")), BytesOf("new b"));
  Host.Answer = kIdCancel;
  EXPECT_EQ(RunNew(entries, 'X'), 0);  // the next run asks again
  EXPECT_EQ(Host.Boxes.size(), 2u);
}

TEST_F(Extraction, AbortInsideAnEntryDeletesItsPartialFile) {
  Host.OnProgress = [&] {
    if (Job.FileProgress > 0.0f) Job.Abort = kUserAborted;
  };
  EXPECT_EQ(RunNew({StoredEntry("big.bin", Bytes(200000, 1)), StoredEntry("after", BytesOf("a"))}, 'X'), 1);
  EXPECT_EQ(Job.ErrorCount, 1);
  EXPECT_TRUE(TreeOf(Dest).empty());
}

TEST_F(Extraction, MissingArchiveAndNonArchiveAreToldOnce) {
  EXPECT_EQ(RunOn("absent.rar", 'T'), 0);
  ASSERT_EQ(Host.Boxes.size(), 1u);
  EXPECT_EQ(Host.Boxes[0].Text, "Cannot find:\n" + Dir.File("absent.rar"));
  EXPECT_EQ(Host.Boxes[0].Title, "Zendril 1997");
  EXPECT_EQ(Host.Boxes[0].Style, 16u);
  EXPECT_EQ(Host.Boxes[0].Owner, Job.ProgressWindow);
  Write("text.rar", BytesOf("just some words, no archive here"));
  EXPECT_EQ(RunOn("text.rar", 'T'), 0);
  ASSERT_EQ(Host.Boxes.size(), 1u);
  EXPECT_EQ(Host.Boxes[0].Text, "Not a valid Archive:\n" + Dir.File("text.rar"));
  EXPECT_EQ(Host.Boxes[0].Title, "(none)");
}

// An entry of unknown version is not decoded, so the walk itself moves on at the block
// boundary: it opens the next volume and passes over the continuing part. Without that volume
// the move tells it, and so does the start-over that follows.
TEST_F(Extraction, MoveAtABlockBoundaryAfterASkippedPart) {
  auto volumes = StoredVolumeSet({{"skip.bin", BytesOf("0123456789"), {5}}, {"after.txt", BytesOf("a"), {}}});
  volumes[0][7 + 13 + 24] = 29;  // UnpVer of the first part (the header CRC is then only reported)
  WriteSet("b", volumes);
  EXPECT_EQ(RunOn("b.rar", 'X'), 1);
  EXPECT_EQ(TreeOf(Dest), std::vector<std::string>{"after.txt"});
  EXPECT_EQ(Job.CurrentVolume, 2);
  EXPECT_FALSE(Host.Saw(status::kExtrPoints));
  EXPECT_TRUE(Host.Saw(status::kExtrVol));
  Reader.Reset();
  fs::remove(Dir.File("b.r00"));
  EXPECT_EQ(RunOn("b.rar", 'T'), 0);
  EXPECT_EQ(Host.CountBoxes("Cannot find:\n" + Dir.File("b.r00")), 2);
  EXPECT_EQ(Job.Abort.load(), kEngineGaveUp);
}

// Names that differ only in case are one file, as on the system the archives come from:
// whether the first spelling was there before the run, made by it, or made and deleted again.
TEST_F(Extraction, NamesDifferingInCaseAreOneFile) {
  Write("dest/Old.TXT", BytesOf("old"));
  EntrySpec bad = StoredEntry("gone.txt", BytesOf("bad"));
  bad.FileCrc ^= 1;
  Host.Answer = kIdOk;
  EXPECT_EQ(RunNew({StoredEntry("a\\B.TXT", BytesOf("first")), StoredEntry("A\\b.txt", BytesOf("second")), DirEntry("D"),
                    StoredEntry("d\\x.txt", BytesOf("x")), StoredEntry("D\\X.TXT", BytesOf("X")),
                    StoredEntry("old.txt", BytesOf("new")), bad, StoredEntry("GONE.TXT", BytesOf("good"))},
                   'X'),
            8);
  EXPECT_EQ(TreeOf(Dest), (std::vector<std::string>{"D/", "D/x.txt", "GONE.TXT", "Old.TXT", "a/", "a/B.TXT"}));
  EXPECT_EQ(ReadWholeFile(InDest("a/B.TXT")), BytesOf("second"));
  EXPECT_EQ(ReadWholeFile(InDest("D/x.txt")), BytesOf("X"));
  EXPECT_EQ(ReadWholeFile(InDest("Old.TXT")), BytesOf("new"));
  EXPECT_EQ(Host.CountBoxes("Overwrite all files:"), 1);  // at A\b.txt, the first name found again
  EXPECT_EQ(Job.ErrorCount, 1);
}

// Regression: x.exe itself starts with a continued entry and no x.rar exists, so searching
// again would find x.exe again and go round for ever.
// Hostile names in a crafted archive land as the host's rules make them (under Wine: as Win32
// can create them; two that become one name meet the overwrite question), and a path beyond
// the path limit fails its entry without being cut into another name.
TEST_F(Extraction, HostileNamesLandAsTheHostRulesMakeThem) {
  const std::vector<EntrySpec> entries = {
      StoredEntry("CON", BytesOf("1")),           StoredEntry("aux.txt", BytesOf("2")),
      StoredEntry("d\\a:b", BytesOf("3")),        StoredEntry("x\\trailing. ", BytesOf("4")),
      StoredEntry("q?.txt", BytesOf("5")),        StoredEntry("d\\a_b", BytesOf("6")),
      StoredEntry(std::string(250, 'n'), BytesOf("7"))};
  EXPECT_EQ(RunNew(entries, 'X'), 6);
  EXPECT_EQ(Job.ErrorCount, 1);
  EXPECT_EQ(Host.Count(status::kExtrPathTooLong), 1);
#ifdef _WIN32
  EXPECT_EQ(TreeOf(Dest), (std::vector<std::string>{"_CON", "_aux.txt", "d/", "d/a_b", "q_.txt", "x/", "x/trailing"}));
  EXPECT_EQ(Host.Count(status::kFileExists), 1);
  EXPECT_EQ(ReadWholeFile(InDest("d/a_b")), BytesOf("6"));
#else
  EXPECT_EQ(TreeOf(Dest), (std::vector<std::string>{"CON", "aux.txt", "d/", "d/a:b", "d/a_b", "q?.txt", "x/",
                                                    "x/trailing. "}));
#endif
}

// A disk that fills up inside the second file ends the job there: one box naming that file,
// its partial file deleted, nothing after it created, and no checksum error claimed.
TEST_F(Extraction, AFullDiskEndsTheJobAtTheFileItHappenedIn) {
  Bytes big(30000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 13 + (i >> 7));
  Write("a.rar", Archive({StoredEntry("first.bin", big), StoredEntry("sub\\second.bin", big),
                          StoredEntry("third.bin", big), DirEntry("later")}));
  SimulateFreeSpaceForTests(static_cast<std::int64_t>(big.size()) + 1000);
  const std::int32_t result = RunOn("a.rar", 'X');
  SimulateFreeSpaceForTests(-1);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(Job.ErrorCount, 1);
  EXPECT_EQ(Job.Abort.load(), kEngineGaveUp);
  ASSERT_EQ(Host.Boxes.size(), 1u);
  char expected[512];
  std::snprintf(expected, sizeof expected, messages::kDiskFull, (std::string(Job.DestinationDir) + "sub\\second.bin").c_str());
  EXPECT_EQ(Host.Boxes[0].Text, expected);
  EXPECT_EQ(TreeOf(Dest), (std::vector<std::string>{"first.bin", "sub/"}));
  EXPECT_EQ(ReadWholeFile(InDest("first.bin")), big);
  EXPECT_FALSE(Host.Saw(status::kExtrBadCRC));
  EXPECT_FALSE(Host.Saw(status::kExtrErrWrite));
}

#ifndef _WIN32
// Any other failed write (here: past the process's file size limit) fails its entry as a write
// error, once, and the job goes on with the next entry.
TEST_F(Extraction, OtherWriteErrorsFailTheirEntryNotAsChecksumErrors) {
  Bytes big(20000, 0x5A);
  Write("a.rar", Archive({StoredEntry("big.bin", big), StoredEntry("small.txt", BytesOf("fits"))}));
  struct rlimit saved {};
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit limit = saved;
  limit.rlim_cur = 10000;
  void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const std::int32_t result = RunOn("a.rar", 'X');
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(Job.ErrorCount, 1);
  EXPECT_EQ(Host.CountBoxes(messages::kWriteError), 1);
  EXPECT_EQ(Host.Count(status::kExtrErrWrite), 1);
  EXPECT_FALSE(Host.Saw(status::kExtrBadCRC));
  EXPECT_EQ(TreeOf(Dest), (std::vector<std::string>{"small.txt"}));
}
#endif

// Regression: x.exe itself starts with a continued entry and no x.rar exists, so searching
// again would find x.exe again and go round for ever.
TEST_F(Extraction, SelfExtractingVolumeThatIsNotTheFirstEndsTheSearch) {
  Write("x.exe", StoredVolumeSet({{"split.txt", Bytes(100, 3), {40}}}, 0x09)[1]);
  EXPECT_EQ(RunOn("x.exe", 'T'), 0);
  EXPECT_TRUE(Host.Saw(status::kMissingFirstVolume));
  EXPECT_TRUE(Host.Saw(status::kNoFilesFatal));
}

#ifndef _WIN32
TEST_F(Extraction, SymbolicLinkAtAnOutputPathIsReplacedNotWrittenThrough) {
  const std::string outside = Write("outside.txt", BytesOf("untouched"));
  fs::create_symlink(outside, InDest("link.txt"));
  EXPECT_EQ(RunNew({StoredEntry("link.txt", BytesOf("archive data"))}, 'X'), 1);
  EXPECT_EQ(ReadWholeFile(outside), BytesOf("untouched"));
  EXPECT_FALSE(fs::is_symlink(InDest("link.txt")));
  EXPECT_EQ(ReadWholeFile(InDest("link.txt")), BytesOf("archive data"));
  // A failed entry deletes the link it replaced, never the file the link pointed at.
  fs::remove(InDest("link.txt"));
  fs::create_symlink(outside, InDest("link.txt"));
  EntrySpec bad = StoredEntry("link.txt", BytesOf("archive data"));
  bad.FileCrc ^= 1;
  RunNew({bad}, 'X');
  EXPECT_EQ(ReadWholeFile(outside), BytesOf("untouched"));
  EXPECT_FALSE(fs::exists(InDest("link.txt")));
}
#endif

}  // namespace
}  // namespace korvane::testing
