// The driver: the per-entry decision, cleaned entry names, names that try to leave the
// destination or that the host cannot create, overwrite answers, a failed checksum, a full
// disk and other write errors, links at output paths, and the search for the first volume.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <tuple>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "engine/entry_decision.h"
#include "engine/entry_name.h"
#include "engine/status.h"
#include "platform/disk_space.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

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
    const EntryDecision d = DecideEntry(h, c.NameUsable, static_cast<JobMode>(c.Mode), c.Solid);
    EXPECT_EQ(d.Action, c.Action);
    EXPECT_EQ(d.UnknownMethod, c.Unknown);
    EXPECT_EQ(d.UnusableName, c.Unusable);
    EXPECT_EQ(d.Errors, c.Errors);
  }
}

// Both rules leave only a relative path; Windows rules also change the names Win32 would open
// as a device or a data stream, refuse, or quietly change.
TEST(Sanitize, LeavesOnlyARelativePathThatTheHostCanCreate) {
  using Case = std::pair<const char*, const char*>;
  const Case portable[] = {
      {"D:\\x", "x"},        {".\\x", "x"},          {"..\\x", "x"},
      {"\\x", "x"},          {"..\\..\\x", "x"},     {"a\\..\\..\\b", "a\\b"},
      {"C:foo", "foo"},      {"\\\\server\\share\\f", "server\\share\\f"},
      {"dir\\C:\\x", "dir\\x"}, {"a/./b//c/", "a\\b\\c"}, {"...\\. .\\x", "x"},
      {"..", ""},            {"\\", ""},             {"C:", ""},
      {"plain.txt", "plain.txt"}, {"..a\\b..", "..a\\b.."}, {"CON\\a:b", "CON\\a:b"}};
  const Case windows[] = {
      {"CON", "_CON"},                 {"aux.txt", "_aux.txt"},         {"d\\NUL.dat", "d\\_NUL.dat"},
      {"com1", "_com1"},               {"LPT9.log.txt", "_LPT9.log.txt"}, {"Prn .txt", "_Prn .txt"},
      {"COM10", "COM10"},              {"CONSOLE.txt", "CONSOLE.txt"},  {"LPT", "LPT"},
      {"d\\a:b", "d\\a_b"},          {"x\\trailing. ", "x\\trailing"}, {"dir. \\f", "dir\\f"},
      {"q<u>o\"t|e?s*", "q_u_o_t_e_s_"}, {"\x01" "ctl\x1f.txt", "_ctl_.txt"}, {"..a\\b..", "..a\\b"},
      {"C:\\con\\x", "_con\\x"},     {"x\\ .\\y", "x\\y"},          {"aux:stream", "aux_stream"}};
  for (const auto& [rules, cases] : {std::pair(NameRules::kPortable, std::span<const Case>(portable)),
                                     std::pair(NameRules::kWindows, std::span<const Case>(windows))})
    for (const auto& [stored, sanitised] : cases) {
      char name[260];
      std::strcpy(name, stored);
      EXPECT_TRUE(SanitizeEntryName(name, sizeof name, rules));
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

// One row per naming rule: where the stored name lands under each host's rules ("" when the
// entry fails and nothing lands). Each entry holds its row number, so a landing is checked by
// content too; on Windows "a:b" becomes "a_b" and the later entry of that name replaces it.
TEST_F(Extraction, NamesLandInsideTheDestinationAsTheHostRulesMakeThem) {
  enum Kind { kFile, kFolder, kBadChecksum };
  const struct { const char* Rule; std::string Stored; Kind What; const char* Posix; const char* Windows; } rows[] = {
      {"parent steps are dropped", "..\\..\\escape1.txt", kFile, "escape1.txt", "escape1.txt"},
      {"'/' separates too", "../escape2.txt", kFile, "escape2.txt", "escape2.txt"},
      {"a leading separator is dropped", "\\abs.txt", kFile, "abs.txt", "abs.txt"},
      {"a drive is dropped", "C:\\drive.txt", kFile, "drive.txt", "drive.txt"},
      {"steps up inside a name stay inside", "sub\\..\\..\\up.txt", kFile, "sub/up.txt", "sub/up.txt"},
      {"a name that cleans to nothing fails", "..", kFile, "", ""},
      {"a folder part that cleans to nothing fails", ".\\", kFile, "", ""},
      {"a folder outside lands inside", "..\\..\\outdir", kFolder, "outdir/", "outdir/"},
      {"a file failing its checksum is deleted, read-only or not", "bad.txt", kBadChecksum, "", ""},
      {"a device name", "CON", kFile, "CON", "_CON"},
      {"a device name with an extension", "aux.txt", kFile, "aux.txt", "_aux.txt"},
      {"a stream name", "d\\a:b", kFile, "d/a:b", "d/a_b"},
      {"trailing dots and spaces", "x\\trailing. ", kFile, "x/trailing. ", "x/trailing"},
      {"characters Windows refuses", "q?.txt", kFile, "q?.txt", "q_.txt"},
      {"the name a stream name meets", "d\\a_b", kFile, "d/a_b", "d/a_b"},
      {"a name beyond the path limit fails alone", std::string(kPathLimit - 10, 'n'), kFile, "", ""}};
  std::vector<EntrySpec> entries;
  std::map<std::string, std::pair<std::string, const char*>> landed;  // path -> last content there, its rule
  std::set<std::string> tree;
  int failing = 0, unnamed = 0;
  for (const auto& row : rows) {
    const std::string content = std::to_string(entries.size()), path = kWindows ? row.Windows : row.Posix;
    entries.push_back(StoredEntry(row.Stored, row.What == kFolder ? Bytes{} : BytesOf(content)));
    entries.back().Attr = row.What == kFolder ? 0x10 : row.What == kBadChecksum ? 0x21 : 0x20;
    entries.back().FileCrc ^= row.What == kBadChecksum ? 1 : 0;
    failing += path.empty();
    unnamed += path.empty() && row.What != kBadChecksum;
    if (!path.empty() && row.What != kFolder) landed[path] = {content, row.Rule};
    for (std::size_t end = path.find('/'); end != std::string::npos; end = path.find('/', end + 1))
      tree.insert(path.substr(0, end + 1));  // the folders on the way, and a folder itself
    if (!path.empty()) tree.insert(path);
  }
  EXPECT_EQ(RunNew(entries, 'X'), static_cast<int>(entries.size()) - unnamed);
  for (const auto& [path, last] : landed) EXPECT_EQ(ReadWholeFile(InDest(path)), BytesOf(last.first)) << last.second;
  EXPECT_EQ(DestTree(), std::vector<std::string>(tree.begin(), tree.end()));
  EXPECT_EQ(Job.ErrorCount, failing);
  EXPECT_EQ(Host.Count(Status::kExtrPathTooLong), 1);
  EXPECT_EQ(Host.Count(Status::kExtrBadCRC), 1);
  EXPECT_TRUE(Host.Saw(Status::kExtrTotalErr));
  EXPECT_EQ(Host.Count(Status::kFileExists), kWindows ? 1 : 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir.Path()), {}), 2);  // a.rar and dest
}

// A volume that ends inside a header or inside an entry's packed data fails that entry, told
// once as the end of the archive and never as a checksum error; a cut between two entries is
// an archive that simply ends there. Both layouts, tested and installed.
TEST_F(Extraction, ACutArchiveFailsTheEntryItCuts) {
  enum class Part { kFromStart, kHeader, kName, kData };  // where in the second entry (or the file)
  const struct {
    const char* What;
    Part Where;
    std::size_t At;
    std::int32_t Result, Errors;
  } cases[] = {{"30 bytes in: the first header", Part::kFromStart, 30, 0, 1},
               {"second header, fixed part", Part::kHeader, 12, 1, 1},
               {"second header, name", Part::kName, 4, 1, 1},
               {"second entry's data", Part::kData, 7, 2, 1},
               {"between the entries", Part::kHeader, 0, 1, 0}};
  for (const bool old : {false, true})
    for (const auto& c : cases)
      for (const char mode : {'T', 'X'}) {
        SCOPED_TRACE(::testing::Message() << c.What << (old ? ", old layout, " : ", ") << mode);
        const EntrySpec first = StoredEntry("first.txt", Bytes(30, 'a'), old);
        const std::size_t between = Archive({first}, old).size(), fixed = old ? 21 : 32;
        const std::size_t cut = c.Where == Part::kFromStart ? c.At
                                : c.Where == Part::kHeader  ? between + c.At
                                : c.Where == Part::kName    ? between + fixed + c.At
                                                            : between + fixed + 10 + c.At;
        const Bytes whole = Archive({first, StoredEntry("second.txt", Bytes(48, 'b'), old)}, old);
        Write("a.rar", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        fs::remove_all(Dest);
        fs::create_directory(Dest);
        EXPECT_EQ(RunOn("a.rar", mode), c.Result);
        EXPECT_EQ(Job.ErrorCount, c.Errors);
        EXPECT_EQ(Host.Count(Status::kUnexpEOF), c.Errors);
        EXPECT_FALSE(Host.Saw(Status::kExtrBadCRC));
        EXPECT_EQ(Host.Count(Status::kExtrOk), c.Result > 0 ? 1 : 0);
        if (mode == 'X') {
          EXPECT_EQ(DestTree(), std::vector<std::string>(c.Result > 0 ? 1 : 0, "first.txt"));
        }
      }
  // A middle volume cut inside the data of the entry that spans it: that entry fails, and the
  // run goes on in the next volume.
  std::vector<Bytes> set =
      StoredVolumeSet({{"big.bin", Bytes(9000, 'c'), {3000, 6000}}, {"after.txt", BytesOf("a"), {}}});
  set[1].resize(set[1].size() - 1000);
  WriteSet("set", set);
  EXPECT_EQ(RunOn("set.rar", 'T'), 2);
  EXPECT_EQ(Job.ErrorCount, 1);
  EXPECT_EQ(Host.Count(Status::kUnexpEOF), 1);
  EXPECT_FALSE(Host.Saw(Status::kExtrBadCRC));
  EXPECT_EQ(Host.Count(Status::kExtrOk), 1);
  EXPECT_EQ(Job.CurrentVolume, 3);
}

// A stored entry's data is its content: packed sizes (of all its parts together) that differ
// from the unpacked size are damage, whatever the checksum says. Encryption pads the data, so
// an encrypted entry still fails as encrypted.
TEST_F(Extraction, StoredEntryWhoseSizesDifferIsDamaged) {
  const Bytes ten = BytesOf("0123456789");
  EntrySpec claims = StoredEntry("claims4000.txt", ten), longer = StoredEntry("longer.txt", BytesOf("0123456789ab"));
  EntrySpec encrypted = StoredEntry("secret.txt", Bytes(16, 7));
  claims.UnpSize = 4000;
  longer.UnpSize = 10;
  longer.FileCrc = Crc32Of(ten);
  encrypted.UnpSize = 9;
  encrypted.Flags = 0x04;
  EXPECT_EQ(RunNew({claims, longer, encrypted, StoredEntry("fine.txt", ten)}, 'X'), 4);
  EXPECT_EQ(Host.Count(Status::kExtrBadSize), 2);
  EXPECT_EQ(Host.Count(Status::kEncrBadCRC), 1);
  EXPECT_EQ(Job.ErrorCount, 3);
  EXPECT_EQ(DestTree(), std::vector<std::string>{"fine.txt"});
  EntrySpec part1 = StoredEntry("split.bin", Bytes(ten.begin(), ten.begin() + 4)), part2 = StoredEntry("split.bin", {});
  part2.Packed.assign(ten.begin() + 4, ten.end());
  part1.UnpSize = part2.UnpSize = 12;  // the parts hold 4 + 6
  part1.Flags = 0x02;
  part2.Flags = 0x01;
  part2.FileCrc = Crc32Of(ten);
  WriteSet("set", {ArchiveWriter().Main(0x01).File(part1).Data(), ArchiveWriter().Main(0x01).File(part2).Data()});
  EXPECT_EQ(RunOn("set.rar", 'T'), 1);
  EXPECT_EQ(Host.Count(Status::kExtrBadSize), 1);
}

// A disk that fills up inside the second file ends the job there: one box naming that file,
// its partial file deleted, nothing after it created, and no checksum error claimed.
TEST_F(Extraction, AFullDiskEndsTheJobAtTheFileItHappenedIn) {
  Bytes big(30000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 13 + (i >> 7));
  EntrySpec later = StoredEntry("later", {});
  later.Attr = 0x10;
  SimulateFreeSpaceForTests(static_cast<std::int64_t>(big.size()) + 1000);
  const std::int32_t result = RunNew({StoredEntry("first.bin", big), StoredEntry("sub\\second.bin", big),
                                      StoredEntry("third.bin", big), later}, 'X');
  SimulateFreeSpaceForTests(-1);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(Job.ErrorCount, 1);
  EXPECT_EQ(Job.StopReason(), AbortState::kEngineGaveUp);
  ASSERT_EQ(Host.Boxes.size(), 1u);
  EXPECT_EQ(Host.Boxes[0].Text, "The disk is full!\nCannot write:\n" + Dest + "\\sub\\second.bin");
  EXPECT_EQ(DestTree(), (std::vector<std::string>{"first.bin", "sub/"}));
  EXPECT_EQ(ReadWholeFile(Dest + "/first.bin"), big);
  EXPECT_FALSE(Host.Saw(Status::kExtrBadCRC));
  EXPECT_FALSE(Host.Saw(Status::kExtrErrWrite));
}

// Cancel keeps the file and asks again for the next, without failing; OK replaces this and
// every later file of the run; the next run asks again. Names that differ only in case are one
// file, as on the installer's own file systems.
TEST_F(Extraction, OverwriteAnswersHoldForOneRunAndNamesDifferingInCaseAreOneFile) {
  Write("dest/a", BytesOf("old a"));
  Write("dest/b", BytesOf("old b"));
  Write("dest/Old.TXT", BytesOf("old"));
  const std::vector<EntrySpec> entries = {StoredEntry("a", BytesOf("new a")), StoredEntry("b", BytesOf("new b"))};
  Host.Answer = false;
  EXPECT_EQ(RunNew(entries, 'X'), 0);
  EXPECT_EQ(Job.ErrorCount, 0);
  EXPECT_EQ(Host.CountBoxes("Overwrite all files:"), 2);
  EXPECT_EQ(Host.Count(Status::kFileExists), 2);
  EXPECT_EQ(ReadWholeFile(InDest("a")), BytesOf("old a"));
  EXPECT_TRUE(Host.Saw(Status::kExtrNoFiles));
  Host.Answer = true;
  EntrySpec bad = StoredEntry("gone.txt", BytesOf("bad")), dir = StoredEntry("D", {});
  bad.FileCrc ^= 1;
  dir.Attr = 0x10;
  EXPECT_EQ(RunNew({StoredEntry("c\\B.TXT", BytesOf("first")), StoredEntry("C\\b.txt", BytesOf("second")), dir,
                    StoredEntry("d\\x.txt", BytesOf("x")), StoredEntry("D\\X.TXT", BytesOf("X")),
                    StoredEntry("old.txt", BytesOf("new")), bad, StoredEntry("GONE.TXT", BytesOf("good")), entries[0],
                    entries[1]},
                   'X'),
            10);
  ASSERT_EQ(Host.Boxes.size(), 1u);  // at C\b.txt, the first name found again
  EXPECT_EQ(Host.Boxes[0].Title, "Zendril 97");
  EXPECT_EQ(Host.Boxes[0].Style, 0x11u);
  EXPECT_TRUE(Host.Boxes[0].Owned);
  EXPECT_EQ(Job.ErrorCount, 1);
  EXPECT_EQ(DestTree(), (std::vector<std::string>{"D/", "D/x.txt", "GONE.TXT", "Old.TXT", "a", "b", "c/", "c/B.TXT"}));
  const std::pair<const char*, const char*> contents[] = {
      {"c/B.TXT", "second"}, {"D/x.txt", "X"}, {"Old.TXT", "new"}, {"a", "new a"}, {"b", "new b"}};
  for (const auto& [file, content] : contents) EXPECT_EQ(ReadWholeFile(InDest(file)), BytesOf(content)) << file;
  Host.Answer = false;
  EXPECT_EQ(RunNew(entries, 'X'), 0);
  EXPECT_EQ(Host.Boxes.size(), 2u);
}

#ifndef _WIN32
// On POSIX only the system's path limit bounds a name: names of 300 and 1000 bytes extract, and
// a path beyond the limit fails its entry alone, as does a name longer than the reader holds,
// which is never cut into a shorter one.
TEST_F(Extraction, LongNamesAreBoundOnlyByThePathLimit) {
  const auto name = [](std::size_t length, char leaf) {  // components well under the system's limit
    std::string s;
    while (s.size() + 100 < length) s += std::string(99, 'd') + '\\';
    return s + std::string(length - s.size(), leaf);
  };
  const std::size_t room = kPathLimit - Dest.size() - 1;  // behind the destination and its separator
  EXPECT_EQ(RunNew({StoredEntry(name(300, 'a'), BytesOf("300")), StoredEntry(name(1000, 'b'), BytesOf("1000")),
                    StoredEntry(name(room, 'c'), BytesOf("at the limit")),
                    StoredEntry(name(kPathLimit + 50, 'e'), BytesOf("longer than the reader holds"))},
                   'X'),
            2);
  EXPECT_EQ(Host.Count(Status::kExtrPathTooLong), 2);
  EXPECT_EQ(Job.ErrorCount, 2);
  for (const auto& [length, leaf, content] : {std::tuple(300, 'a', "300"), std::tuple(1000, 'b', "1000")}) {
    std::string path = name(length, leaf);
    std::replace(path.begin(), path.end(), '\\', '/');
    EXPECT_EQ(ReadWholeFile(InDest(path)), BytesOf(content)) << length;
  }
  const auto isFile = [](const fs::directory_entry& e) { return e.is_regular_file(); };
  EXPECT_EQ(std::count_if(fs::recursive_directory_iterator(Dest), {}, isFile), 2);
}

// A write that fails for another reason than a full disk fails its entry as a write error,
// not as a checksum error, and the run goes on.
TEST_F(Extraction, OtherWriteErrorsFailTheirEntryNotAsChecksumErrors) {
  Write("a.rar", Archive({StoredEntry("big.bin", Bytes(20000, 0x5A)), StoredEntry("small.txt", BytesOf("fits"))}));
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
  EXPECT_EQ(Host.CountBoxes("EWRITE,WRITE_ERROR"), 1);
  EXPECT_EQ(Host.Count(Status::kExtrErrWrite), 1);
  EXPECT_FALSE(Host.Saw(Status::kExtrBadCRC));
  EXPECT_EQ(DestTree(), (std::vector<std::string>{"small.txt"}));
}

// A link at an output path is replaced, never written through; a failed entry leaves the link
// as it was and the file it points at untouched.
TEST_F(Extraction, SymbolicLinkAtAnOutputPathIsReplacedNotWrittenThrough) {
  const std::string outside = Write("outside.txt", BytesOf("untouched"));
  EntrySpec bad = StoredEntry("bad.txt", BytesOf("archive data"));
  bad.FileCrc ^= 1;
  for (const char* name : {"link.txt", "bad.txt"}) fs::create_symlink(outside, InDest(name));
  RunNew({StoredEntry("link.txt", BytesOf("archive data")), bad}, 'X');
  EXPECT_EQ(ReadWholeFile(outside), BytesOf("untouched"));
  EXPECT_FALSE(fs::is_symlink(InDest("link.txt")));
  EXPECT_EQ(ReadWholeFile(InDest("link.txt")), BytesOf("archive data"));
  EXPECT_TRUE(fs::is_symlink(InDest("bad.txt")));
  EXPECT_EQ(DestTree(), (std::vector<std::string>{"bad.txt", "link.txt"}));
}
#endif

// Regression: x.exe itself starts with a continued entry and no x.rar exists, so searching
// again would find x.exe again and go round for ever.
TEST_F(Extraction, SelfExtractingVolumeThatIsNotTheFirstEndsTheSearch) {
  Write("x.exe", StoredVolumeSet({{"split.txt", Bytes(100, 3), {40}}}, 0x09)[1]);
  EXPECT_EQ(RunOn("x.exe", 'T'), 0);
  EXPECT_TRUE(Host.Saw(Status::kMissingFirstVolume));
  EXPECT_TRUE(Host.Saw(Status::kNoFilesFatal));
}

}  // namespace
}  // namespace korvane::testing
