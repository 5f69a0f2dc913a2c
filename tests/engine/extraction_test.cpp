// The driver over hand-built archives: names that try to leave the destination, both modes,
// skipped and refused entries, checksum failures, volume moves, the first-volume search, abort.
#include "engine/extraction.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "engine/entry_name.h"
#include "engine/messages.h"
#include "engine/status.h"
#include "platform/disk_space.h"
#include "tests/engine/engine_fixture.h"
#include "tests/engine/resplit.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

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
    dest = dir.File("dest");
    fs::create_directory(dest);
    job.ProgressWindow = reinterpret_cast<void*>(0x99);
  }
  std::int32_t RunOn(const std::string& file, char mode) {
    if (mode == 'X') std::snprintf(job.DestinationDir, sizeof job.DestinationDir, "%s\\", dest.c_str());
    return Run(dir.File(file), mode);
  }
  static Bytes Archive(const std::vector<EntrySpec>& entries, std::uint16_t mainFlags = 0) {
    NewArchiveWriter w;
    w.Main(mainFlags);
    for (const auto& e : entries) w.File(e);
    return w.bytes();
  }
  std::int32_t RunNew(const std::vector<EntrySpec>& entries, char mode) {
    Write("a.rar", Archive(entries));
    return RunOn("a.rar", mode);
  }
  void WriteSet(const std::string& stem, const std::vector<Bytes>& volumes) {
    for (std::size_t i = 0; i < volumes.size(); ++i)
      Write(stem + (i == 0 ? ".rar" : ".r0" + std::to_string(i - 1)), volumes[i]);
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
  Write("t.rar",
        Archive({Dir("d1"), StoredEntry("exists.txt", BytesOf("new")), StoredEntry("d1\\f.txt", BytesOf("f"))}));
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

TEST_F(Extraction, DirectoriesAreCountedAndExistingOnesKeptSilently) {
  EXPECT_EQ(RunNew({Dir("a"), Dir("a\\b"), Dir("c\\d\\e")}, 'X'), 3);
  EXPECT_TRUE(fs::is_directory(Dest("a/b")));
  EXPECT_TRUE(fs::is_directory(Dest("c/d/e")));
  EXPECT_EQ(RunNew({Dir("a")}, 'X'), 1);
  EXPECT_FALSE(host.Saw(status::kExtrErrMkDir));
}

TEST_F(Extraction, InstallWritesContentAndReadOnlyAttribute) {
  EntrySpec ro = StoredEntry("dir\\ro.txt", BytesOf("read only"));
  ro.attr = 0x21;
  ASSERT_EQ(RunNew({ro, StoredEntry("plain.bin", BytesOf("plain"))}, 'X'), 2);
  EXPECT_EQ(ReadWholeFile(Dest("dir/ro.txt")), BytesOf("read only"));
  EXPECT_EQ(fs::status(Dest("dir/ro.txt")).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(Dest("plain.bin")).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(std::string(job.CurrentFile), std::string(job.DestinationDir) + "plain.bin");
  EXPECT_FLOAT_EQ(job.FileProgress, 1.0f);
  EXPECT_EQ(host.CountStatus(status::kExtrFile), 2);
}

// One archive or volume set per row: what a run returns, how many entries fail, what is left
// in the destination (a file that failed is deleted) and one status that must be seen.
TEST_F(Extraction, EntriesThatAreSkippedOrFail) {
  EntrySpec bad = StoredEntry("bad.txt", BytesOf("content")), odd = StoredEntry("odd.bin", BytesOf("odd"));
  EntrySpec label = StoredEntry("MYDISK", {});
  bad.fileCrc ^= 1;
  bad.attr = 0x21;  // read-only must not keep it from being deleted
  odd.unpVer = 29;
  label.attr = 0x08;
  const EntrySpec next = StoredEntry("next.txt", BytesOf("n"));
  const struct {
    const char* what;
    std::vector<Bytes> volumes;
    const char* open;
    std::int32_t result, errors;
    std::vector<std::string> tree;
    const char* status;
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
    SCOPED_TRACE(c.what);
    reader.Reset();
    for (const char* stale : {"r.rar", "r.r00"}) fs::remove(dir.File(stale));
    fs::remove_all(dest);
    fs::create_directory(dest);
    WriteSet("r", c.volumes);
    EXPECT_EQ(RunOn(c.open, 'X'), c.result);
    EXPECT_EQ(job.ErrorCount, c.errors);
    EXPECT_EQ(TreeOf(dest), c.tree);
    EXPECT_TRUE(host.Saw(c.status));
  }
  EXPECT_EQ(host.CountBoxes("Cannot find:\n" + dir.File("r.r00")), 1);  // the last row
  EXPECT_EQ(job.Abort.load(), 1);
}

TEST_F(Extraction, OverwriteAnswersHoldForOneRun) {
  Write("dest/a", BytesOf("old a"));
  Write("dest/b", BytesOf("old b"));
  const std::vector<EntrySpec> entries = {StoredEntry("a", BytesOf("new a")), StoredEntry("b", BytesOf("new b"))};
  // Cancel keeps the file and asks again for the next: nothing processed, but no failure either.
  host.defaultAnswer = kIdCancel;
  EXPECT_EQ(RunNew(entries, 'X'), 0);
  EXPECT_EQ(job.ErrorCount, 0);
  EXPECT_EQ(host.CountBoxes("Overwrite all files:"), 2);
  EXPECT_EQ(host.CountStatus(status::kFileExists), 2);
  EXPECT_EQ(ReadWholeFile(Dest("a")), BytesOf("old a"));
  EXPECT_TRUE(host.Saw(status::kExtrNoFiles));
  // OK replaces this and every later file without asking again.
  host.defaultAnswer = kIdOk;
  EXPECT_EQ(RunNew(entries, 'X'), 2);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Overwrite all files:");
  EXPECT_EQ(host.boxes[0].title, "Zendril 97");
  EXPECT_EQ(host.boxes[0].style, 0x11u);
  EXPECT_EQ(host.boxes[0].owner, job.ProgressWindow);
  EXPECT_EQ(ReadWholeFile(Dest("a")), BytesOf("new a"));
  EXPECT_EQ(ReadWholeFile(Dest("b")), BytesOf("new b"));
  host.defaultAnswer = kIdCancel;
  EXPECT_EQ(RunNew(entries, 'X'), 0);
  EXPECT_EQ(host.boxes.size(), 2u);
}

// Names that differ only in case are one file, as on the system the archives come from:
// whether the first spelling was there before the run, made by it, or made and deleted again.
TEST_F(Extraction, NamesDifferingInCaseAreOneFile) {
  Write("dest/Old.TXT", BytesOf("old"));
  EntrySpec bad = StoredEntry("gone.txt", BytesOf("bad"));
  bad.fileCrc ^= 1;
  host.defaultAnswer = kIdOk;
  EXPECT_EQ(RunNew({StoredEntry("a\\B.TXT", BytesOf("first")), StoredEntry("A\\b.txt", BytesOf("second")), Dir("D"),
                    StoredEntry("d\\x.txt", BytesOf("x")), StoredEntry("D\\X.TXT", BytesOf("X")),
                    StoredEntry("old.txt", BytesOf("new")), bad, StoredEntry("GONE.TXT", BytesOf("good"))},
                   'X'),
            8);
  EXPECT_EQ(TreeOf(dest), (std::vector<std::string>{"D/", "D/x.txt", "GONE.TXT", "Old.TXT", "a/", "a/B.TXT"}));
  EXPECT_EQ(ReadWholeFile(Dest("a/B.TXT")), BytesOf("second"));
  EXPECT_EQ(ReadWholeFile(Dest("D/x.txt")), BytesOf("X"));
  EXPECT_EQ(ReadWholeFile(Dest("Old.TXT")), BytesOf("new"));
  EXPECT_EQ(host.CountBoxes("Overwrite all files:"), 1);  // at A\b.txt, the first name found again
  EXPECT_EQ(job.ErrorCount, 1);
}

TEST_F(Extraction, AbortInsideAnEntryDeletesItsPartialFile) {
  host.onProgress = [&] {
    if (job.FileProgress > 0.0f) job.Abort = 2;
  };
  EXPECT_EQ(RunNew({StoredEntry("big.bin", Bytes(200000, 1)), StoredEntry("after", BytesOf("a"))}, 'X'), 1);
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
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Not a valid Archive:\n" + dir.File("text.rar"));
  EXPECT_EQ(host.boxes[0].title, "(none)");
}

// An entry of unknown version is not decoded, so the driver itself moves on at the block
// boundary: it opens the next volume and passes over the continuing part.
TEST_F(Extraction, MoveAtABlockBoundaryAfterASkippedPart) {
  auto volumes = StoredVolumeSet({{"skip.bin", BytesOf("0123456789"), {5}}, {"after.txt", BytesOf("a"), {}}});
  volumes[0][7 + 13 + 24] = 29;  // UnpVer of the first part (the header CRC is then only reported)
  WriteSet("b", volumes);
  EXPECT_EQ(RunOn("b.rar", 'X'), 1);
  EXPECT_EQ(TreeOf(dest), std::vector<std::string>{"after.txt"});
  EXPECT_EQ(job.CurrentVolume, 2);
  EXPECT_FALSE(host.Saw(status::kExtrPoints));
  EXPECT_TRUE(host.Saw(status::kExtrVol));
  // Without the next volume: told by the move and again by the walk that follows.
  reader.Reset();
  fs::remove(dir.File("b.r00"));
  EXPECT_EQ(RunOn("b.rar", 'T'), 0);
  EXPECT_EQ(host.CountBoxes("Cannot find:\n" + dir.File("b.r00")), 2);
  EXPECT_EQ(job.Abort.load(), 1);
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
  EXPECT_EQ(job.ErrorCount, 1);
  EXPECT_EQ(host.CountStatus(status::kExtrPathTooLong), 1);
#ifdef _WIN32
  EXPECT_EQ(TreeOf(dest), (std::vector<std::string>{"_CON", "_aux.txt", "d/", "d/a_b", "q_.txt", "x/", "x/trailing"}));
  EXPECT_EQ(host.CountStatus(status::kFileExists), 1);
  EXPECT_EQ(ReadWholeFile(Dest("d/a_b")), BytesOf("6"));
#else
  EXPECT_EQ(TreeOf(dest), (std::vector<std::string>{"CON", "aux.txt", "d/", "d/a:b", "d/a_b", "q?.txt", "x/",
                                                    "x/trailing. "}));
#endif
}

// A disk that fills up inside the second file ends the job there: one box naming that file,
// its partial file deleted, nothing after it created, and no checksum error claimed.
TEST_F(Extraction, AFullDiskEndsTheJobAtTheFileItHappenedIn) {
  Bytes big(30000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 13 + (i >> 7));
  Write("a.rar", Archive({StoredEntry("first.bin", big), StoredEntry("sub\\second.bin", big),
                          StoredEntry("third.bin", big), Dir("later")}));
  SimulateFreeSpaceForTests(static_cast<std::int64_t>(big.size()) + 1000);
  const std::int32_t result = RunOn("a.rar", 'X');
  SimulateFreeSpaceForTests(-1);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(job.ErrorCount, 1);
  EXPECT_EQ(job.Abort.load(), kEngineGaveUp);
  ASSERT_EQ(host.boxes.size(), 1u);
  char expected[512];
  std::snprintf(expected, sizeof expected, messages::kDiskFull, (std::string(job.DestinationDir) + "sub\\second.bin").c_str());
  EXPECT_EQ(host.boxes[0].text, expected);
  EXPECT_EQ(TreeOf(dest), (std::vector<std::string>{"first.bin", "sub/"}));
  EXPECT_EQ(ReadWholeFile(Dest("first.bin")), big);
  EXPECT_FALSE(host.Saw(status::kExtrBadCRC));
  EXPECT_FALSE(host.Saw(status::kExtrErrWrite));
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
  EXPECT_EQ(job.ErrorCount, 1);
  EXPECT_EQ(host.CountBoxes(messages::kWriteError), 1);
  EXPECT_EQ(host.CountStatus(status::kExtrErrWrite), 1);
  EXPECT_FALSE(host.Saw(status::kExtrBadCRC));
  EXPECT_EQ(TreeOf(dest), (std::vector<std::string>{"small.txt"}));
}
#endif

TEST_F(Extraction, SelfExtractingVolumeThatIsNotTheFirstEndsTheSearch) {
  Write("x.exe", StoredVolumeSet({{"split.txt", Bytes(100, 3), {40}}}, 0x09)[1]);
  EXPECT_EQ(RunOn("x.exe", 'T'), 0);
  EXPECT_TRUE(host.Saw(status::kMissingFirstVolume));
  EXPECT_TRUE(host.Saw(status::kNoFilesFatal));
}

#ifndef _WIN32
TEST_F(Extraction, SymbolicLinkAtAnOutputPathIsReplacedNotWrittenThrough) {
  const std::string outside = Write("outside.txt", BytesOf("untouched"));
  fs::create_symlink(outside, Dest("link.txt"));
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

// Cuts and byte flips of real archives of each layout: every run must end (no hang, no
// out-of-bounds access under the sanitizers) and never claim more than the intact archive.
TEST_F(Extraction, DamagedCorpusArchivesEndCleanly) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  for (const char* file : {"fixc__Rar2.rar", "fixc__Rar15.rar", "dos1402__SOLID.RAR", "dos250__AUDIO.RAR",
                           "music__test_v2.rar", "win154__readme.EXE"}) {
    SCOPED_TRACE(file);
    const Bytes whole = ReadWholeFile(CorpusDir() + "/rar/" + file);
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
}

// A stored entry inside a solid archive must leave the dictionary alone: the compressed entry
// after it still refers to the bytes of the one before.
TEST_F(Extraction, StoredEntryKeepsTheSolidDictionary) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  const auto parsed = ParseArchive(ReadWholeFile(CorpusDir() + "/rar/dos250__SOLID.RAR"));
  ASSERT_TRUE(parsed && parsed->entries.size() == 2);
  Bytes filler(40000);
  for (std::size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  EntrySpec stored = StoredEntry("filler.bin", filler);
  stored.flags = 0x10;  // continues the solid stream
  const Bytes prefixOnly = NewArchiveWriter().Main(0x08).bytes();
  const Bytes withStored = NewArchiveWriter().Main(0x08).File(stored).bytes();
  Bytes archive = parsed->prefix;
  for (const Bytes* part : {&parsed->entries[0].header, &parsed->entries[0].data})
    archive.insert(archive.end(), part->begin(), part->end());
  archive.insert(archive.end(), withStored.begin() + static_cast<std::ptrdiff_t>(prefixOnly.size()), withStored.end());
  for (const Bytes* part : {&parsed->entries[1].header, &parsed->entries[1].data})
    archive.insert(archive.end(), part->begin(), part->end());
  Write("s.rar", archive);
  EXPECT_EQ(RunOn("s.rar", 'T'), 3);
  EXPECT_EQ(job.ErrorCount, 0);
}

}  // namespace
}  // namespace korvane::testing
