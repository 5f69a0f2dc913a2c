// The engine on the real corpus: every archive walked entry by entry against the manifests
// (written by an independent parser), every archive tested and installed, volume sets re-cut
// anywhere, and damaged copies that must end cleanly.
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "engine/entry_walk.h"
#include "engine/space_check.h"
#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

std::uint32_t Hex(const std::string& text) { return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 16)); }
unsigned Dec(const std::string& text) { return static_cast<unsigned>(std::stoul(text)); }
std::string Rar(const std::string& file) { return CorpusDir() + "/rar/" + file; }
std::string Stem(const std::string& file) { return file.substr(0, file.rfind('.')); }

// The manifest escapes bytes as \xNN and shows some non-ASCII bytes as '?'; the engine's name
// ends at the first zero byte (the Unicode part of a name is not read).
bool NameMatches(const std::string& expected, const std::string& actual) {
  std::string want;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const bool escaped = expected.compare(i, 2, "\\x") == 0 && i + 3 < expected.size();
    want.push_back(escaped ? static_cast<char>(std::strtoul(expected.substr(i + 2, 2).c_str(), nullptr, 16))
                           : expected[i] == '/' ? '\\' : expected[i]);
    if (escaped) i += 3;
  }
  want.resize(std::min(want.size(), want.find('\0')));
  return want.size() == actual.size() &&
         std::equal(want.begin(), want.end(), actual.begin(), [](char w, char a) { return w == '?' || w == a; });
}

std::string FormatDosTime(std::uint32_t t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", (t >> 25) + 1980, (t >> 21) & 15, (t >> 16) & 31,
                (t >> 11) & 31, (t >> 5) & 63, (t & 31) * 2);
  return text;
}

// The manifest's archives as a run sees them: a plain file, or a volume set from its first
// volume on, with its entries listed once, at their first part.
struct CorpusArchive {
  std::string First, Notes;
  bool OldLayout = false;
  std::vector<ManifestRow> Entries;
  bool Negative() const { return Notes.find("CRAFTED") != Notes.npos || Notes.find("DERIVED") != Notes.npos; }
};

class Corpus : public EngineTest {
 protected:
  void SetUp() override {
    if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
    Files = ReadManifest(Rar("MANIFEST.tsv"));
    for (auto& row : ReadManifest(Rar("ENTRIES.tsv"))) Entries[row["file"]].push_back(row);
    ASSERT_GE(Files.size(), 90u);
  }
  std::vector<CorpusArchive> Archives() {
    std::vector<CorpusArchive> out;
    for (const auto& m : Files) {
      const std::string vol = m.at("volume_flags");
      if (vol != "-" && vol != "vol(first)") continue;
      CorpusArchive a{m.at("file"), m.at("notes"), m.at("layout") == "old", {}};
      for (const auto& [file, rows] : Entries)  // the order of the entries does not matter
        if (file == a.First || (vol == "vol(first)" && Stem(file) == Stem(a.First)))
          for (const auto& r : rows)
            if (!(Hex(r.at("flags")) & 0x01)) a.Entries.push_back(r);
      out.push_back(std::move(a));
    }
    return out;
  }
  static bool Directory(const ManifestRow& e) {
    return Dec(e.at("hostos")) >= 3 ? (Hex(e.at("flags")) & 0xE0) == 0xE0 : (Hex(e.at("attr")) & 0x10) != 0;
  }
  static bool Decodable(const CorpusArchive& a, const ManifestRow& e) {
    const unsigned ver = a.OldLayout ? (Dec(e.at("unpver")) == 2 ? 13 : 10) : Dec(e.at("unpver"));
    return ver >= 13 && ver <= 20 && !(Hex(e.at("flags")) & 0x04);
  }

  std::vector<ManifestRow> Files;
  std::map<std::string, std::vector<ManifestRow>> Entries;
};

TEST_F(Corpus, EveryArchiveWalksAsTheManifestsSay) {
  int walked = 0;
  for (const auto& m : Files) {
    const std::string& file = m.at("file");
    SCOPED_TRACE(file);
    const bool isArchive = Open(Rar(file));
    if (m.at("layout") == "none") {
      EXPECT_FALSE(isArchive);
      continue;
    }
    ASSERT_TRUE(isArchive);
    const bool old = m.at("layout") == "old";
    EXPECT_EQ(Reader.Archive.Format, old ? ArchiveFormat::kOld : ArchiveFormat::kNew);
    EXPECT_EQ(Reader.Archive.SolidArchive, m.at("solid") == "y");
    const auto& want = Entries[file];
    ASSERT_EQ(std::to_string(want.size()), m.at("entry_count"));
    std::size_t i = 0;
    for (; NextBlock(Reader, kFileHead, false) != 0; ++i) {
      ASSERT_LT(i, want.size()) << "more entries than the manifest lists";
      const auto& w = want[i];
      const FileHeader& h = Reader.Archive.File;
      SCOPED_TRACE(w.at("name"));
      EXPECT_TRUE(NameMatches(w.at("name"), Reader.Archive.EntryName)) << Reader.Archive.EntryName;
      EXPECT_EQ(h.HeadFlags, Hex(w.at("flags")) | (old ? 0x8000u : 0u));
      EXPECT_EQ(h.UnpVer, old ? (Dec(w.at("unpver")) == 2 ? 13u : 10u) : Dec(w.at("unpver")));
      EXPECT_EQ(h.Method, Hex(w.at("method")) + (old ? 0x30u : 0u));
      EXPECT_EQ(std::to_string(h.PackSize), w.at("packsize"));
      EXPECT_EQ(std::to_string(h.UnpSize), w.at("unpsize"));
      EXPECT_EQ(h.FileCRC, Hex(w.at("crc")));
      EXPECT_EQ(h.FileAttr, Dec(w.at("hostos")) < 3 ? Hex(w.at("attr")) : (h.HeadFlags & 0xE0) == 0xE0 ? 0x10u : 0x20u);
      EXPECT_EQ(FormatDosTime(h.FileTime), w.at("time"));
      Reader.Input.Seek(Reader.Archive.NextBlockPos, kSeekStart);
    }
    EXPECT_EQ(i, want.size());
    const std::string& notes = m.at("notes");
    if (notes.find("WRONG CRC") != notes.npos || notes.find("covers extra bytes") != notes.npos) {
      EXPECT_TRUE(Host.Saw(Status::kBrokFileHead));
    } else if (notes.find("0x1000") == notes.npos && notes.find("comment") == notes.npos) {
      EXPECT_FALSE(Host.Saw(Status::kBrokFileHead));
    }
    EXPECT_TRUE(notes.find("unexpected EOF") == notes.npos || Host.Saw(Status::kUnexpEOF));
    ++walked;
  }
  EXPECT_GE(walked, 85);
}

// Every entry this engine can decode passes its checksum; encrypted ones fail; crafted and
// derived archives only have to end (the sanitizer build and the fuzz replay see to the rest).
TEST_F(Corpus, TestModeChecksEveryEntry) {
  for (const CorpusArchive& a : Archives()) {
    SCOPED_TRACE(a.First);
    const std::int32_t result = Run(Rar(a.First), 'T');
    if (a.Negative()) continue;
    int good = 0, encrypted = 0, dirs = 0, unknown = 0;
    for (const auto& e : a.Entries)
      ++(Directory(e) ? dirs : Hex(e.at("flags")) & 0x04 ? encrypted : Decodable(a, e) ? good : unknown);
    EXPECT_EQ(Host.Count(Status::kExtrOk), good);
    EXPECT_EQ(Host.Count(Status::kEncrBadCRC), encrypted);
    EXPECT_EQ(Host.Count(Status::kExtrBadCRC), 0);
    EXPECT_EQ(Host.Count(Status::kExtrTestDir), dirs);
    EXPECT_EQ(result, good + encrypted + dirs);
    EXPECT_EQ(Job.ErrorCount, encrypted + unknown);
    EXPECT_TRUE(Host.Boxes.empty());
  }
}

// The installed tree matches the manifest, with sizes and times, failed files deleted, nothing
// else written; whatever a crafted archive's names say, nothing appears beside the destination.
TEST_F(Corpus, InstallModeWritesTheTreeOfTheManifest) {
  for (const CorpusArchive& a : Archives()) {
    SCOPED_TRACE(a.First);
    TempDir root;
    const fs::path dest = fs::path(root.Path()) / "dest";
    fs::create_directory(dest);
    std::snprintf(Job.DestinationDir, sizeof Job.DestinationDir, "%s\\", dest.string().c_str());
    Run(Rar(a.First), 'X');
    if (a.Negative()) {
      for (const auto& item : fs::directory_iterator(root.Path())) EXPECT_EQ(item.path().filename(), "dest");
      continue;
    }
    // Names with escaped bytes are not spelled out in the manifest.
    const auto spelled = [](const ManifestRow& e) {
      return e.at("name").find('?') == std::string::npos && e.at("name").find("\\x") == std::string::npos;
    };
    std::set<std::string> expected;
    for (const auto& e : a.Entries) {
      if (!spelled(e)) continue;
      std::string rel = e.at("name");
      std::replace(rel.begin(), rel.end(), '\\', '/');
      const fs::path p = dest / rel;
      SCOPED_TRACE(rel);
      expected.insert(p.lexically_normal().string());
      if (Directory(e)) {
        EXPECT_TRUE(fs::is_directory(p));
      } else if (Decodable(a, e)) {
        ASSERT_TRUE(fs::is_regular_file(p));
        EXPECT_EQ(std::to_string(fs::file_size(p)), e.at("unpsize"));
        if (e.at("time").substr(5, 2) != "00") {
          const auto written = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(fs::last_write_time(p)));
          char local[32];
          std::strftime(local, sizeof local, "%Y-%m-%d %H:%M:%S", std::localtime(&written));
          EXPECT_EQ(local, e.at("time"));
        }
      } else {
        EXPECT_FALSE(fs::exists(p)) << "a file that failed its check must be deleted";
      }
    }
    if (!std::all_of(a.Entries.begin(), a.Entries.end(), spelled)) continue;
    for (const auto& item : fs::recursive_directory_iterator(dest))
      if (!item.is_directory()) {
        EXPECT_EQ(expected.count(item.path().lexically_normal().string()), 1u) << item.path();
      }
  }
}

enum class Cuts { kThirds, kInsideOneEntry, kAtEntryEnds, kEvery700Bytes };

// Real single-volume archives re-split into volume sets: the result must not depend on where
// the volumes were cut.
TEST_F(Corpus, SameEntriesPassWhereverTheVolumesAreCut) {
  const std::pair<const char*, Cuts> cases[] = {
      {"fixc__Rar2.rar", Cuts::kThirds},          {"fixc__Rar2.rar", Cuts::kAtEntryEnds},
      {"fixc__Rar2.rar", Cuts::kInsideOneEntry},  {"fixc__Rar15.rar", Cuts::kThirds},
      {"fixc__Rar15.rar", Cuts::kEvery700Bytes},  {"dos250__SOLID.RAR", Cuts::kThirds},
      {"dos250__SOLID.RAR", Cuts::kAtEntryEnds},  {"dos250__AUDIO.RAR", Cuts::kEvery700Bytes},
      {"music__test_v2.rar", Cuts::kEvery700Bytes}, {"music__test_v2.rar", Cuts::kAtEntryEnds},
      {"dos1402__SOLID.RAR", Cuts::kThirds},      {"dos1402__SOLID.RAR", Cuts::kAtEntryEnds},
      {"dos1402__BIG80K.RAR", Cuts::kInsideOneEntry}, {"dos1402__MULTIFIL.RAR", Cuts::kAtEntryEnds},
      {"win154__readme_154_normal.rar", Cuts::kEvery700Bytes}};
  int n = 0;
  for (const auto& [file, kind] : cases) {
    SCOPED_TRACE(::testing::Message() << file << " cuts " << static_cast<int>(kind));
    const RawArchive parsed = ParseArchive(ReadWholeFile(Rar(file)));
    ASSERT_TRUE(parsed.Valid);
    std::vector<std::uint64_t> cuts;
    const std::uint64_t total = parsed.PackedTotal();
    if (kind == Cuts::kThirds) cuts = {total / 3, 2 * total / 3};
    if (kind == Cuts::kInsideOneEntry) {  // the largest entry over three volumes, one byte in the first and last
      std::size_t big = 0;
      for (std::size_t i = 0; i < parsed.Entries.size(); ++i)
        if (parsed.Entries[i].Packed.size() > parsed.Entries[big].Packed.size()) big = i;
      cuts = {parsed.PackedStart(big) + 1, parsed.PackedStart(big + 1) - 1};
    }
    for (std::size_t i = 0; kind == Cuts::kAtEntryEnds && i + 1 < parsed.Entries.size(); ++i)
      if (!parsed.Entries[i].Packed.empty()) cuts.push_back(parsed.PackedStart(i + 1));
    for (std::uint64_t c = 700; kind == Cuts::kEvery700Bytes && c < total; c += 700) cuts.push_back(c);
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::erase_if(cuts, [&](std::uint64_t c) { return c == 0 || c >= total; });
    ASSERT_FALSE(cuts.empty());
    const std::int32_t whole = Run(Rar(file), 'T');
    const int wholeOk = Host.Count(Status::kExtrOk);
    ASSERT_GT(whole, 0);
    ASSERT_EQ(Job.ErrorCount, 0);
    const std::string stem = "set" + std::to_string(n++);
    const std::vector<Bytes> volumes = Resplit(parsed, cuts);
    ASSERT_EQ(volumes.size(), cuts.size() + 1);
    WriteSet(stem, volumes);
    EXPECT_EQ(Run(Dir.File(stem + ".rar"), 'T'), whole);
    EXPECT_EQ(Host.Count(Status::kExtrOk), wholeOk);
    EXPECT_EQ(Job.ErrorCount, 0);
    EXPECT_EQ(Job.CurrentVolume, static_cast<std::int32_t>(volumes.size()));
    EXPECT_TRUE(Host.Boxes.empty());
  }
}

// A missing or damaged middle volume stops the run with its message; a solid set opened at a
// later volume starts from the first, found under .rar or .exe, and gives up when neither is there.
TEST_F(Corpus, BrokenAndLaterOpenedVolumeSets) {
  const auto thirds = [&](const char* file, const std::string& stem) {
    const RawArchive parsed = ParseArchive(ReadWholeFile(Rar(file)));
    WriteSet(stem, Resplit(parsed, {parsed.PackedTotal() / 3, 2 * parsed.PackedTotal() / 3}));
  };
  thirds("fixc__Rar2.rar", "gap");
  fs::remove(Dir.File("gap.r00"));
  Run(Dir.File("gap.rar"), 'T');
  EXPECT_EQ(Host.CountBoxes("Cannot find:\n" + Dir.File("gap.r00")), 1);
  EXPECT_EQ(Job.StopReason(), AbortState::kEngineGaveUp);
  EXPECT_GE(Job.ErrorCount, 1);

  thirds("fixc__Rar15.rar", "bad");
  Bytes garbage = ReadWholeFile(Dir.File("bad.r00"));
  for (std::size_t i = 0; i < 7; ++i) garbage[i] ^= 0xFF;
  Write("bad.r00", garbage);
  Run(Dir.File("bad.rar"), 'T');
  EXPECT_TRUE(Host.Saw(Status::kBadArc));
  EXPECT_EQ(Host.CountBoxes("This archive is corrupt:\n" + Dir.File("bad.r00")), 1);
  EXPECT_EQ(Job.StopReason(), AbortState::kEngineGaveUp);
  EXPECT_GE(Job.ErrorCount, 1);

  const std::int32_t whole = Run(Rar("dos250__SOLID.RAR"), 'T');
  thirds("dos250__SOLID.RAR", "set");
  EXPECT_EQ(Run(Dir.File("set.r00"), 'T'), whole);
  EXPECT_EQ(Job.ErrorCount, 0);
  fs::copy_file(Dir.File("set.rar"), Dir.File("set.exe"));
  Write("set.rar", BytesOf("not the first volume"));  // .rar comes before .exe
  EXPECT_EQ(Run(Dir.File("set.r01"), 'T'), 0);
  fs::remove(Dir.File("set.rar"));
  EXPECT_EQ(Run(Dir.File("set.r01"), 'T'), whole);
  EXPECT_EQ(std::string(Job.ArchiveName), Dir.File("set.r01"));
  fs::remove(Dir.File("set.exe"));
  EXPECT_EQ(Run(Dir.File("set.r00"), 'T'), 0);
  EXPECT_TRUE(Host.Saw(Status::kMissingFirstVolume));
  EXPECT_TRUE(Host.Saw(Status::kNoFilesFatal));
}

// Regression: a stored entry inside a solid archive must leave the dictionary alone, since the
// compressed entry after it still refers to the bytes of the one before.
TEST_F(Corpus, StoredEntryKeepsTheSolidDictionary) {
  const RawArchive parsed = ParseArchive(ReadWholeFile(Rar("dos250__SOLID.RAR")));
  ASSERT_EQ(parsed.Entries.size(), 2u);
  Bytes filler(40000);
  for (std::size_t i = 0; i < filler.size(); ++i) filler[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  EntrySpec stored = StoredEntry("filler.bin", filler);
  stored.Flags = 0x10;  // continues the solid stream
  const Bytes withStored = ArchiveWriter().Main(0x08).File(stored).Data();
  const Bytes storedBlock(withStored.begin() + 20, withStored.end());  // behind signature and main header
  Bytes archive = parsed.Prefix;
  for (const Bytes* part : {&parsed.Entries[0].Header, &parsed.Entries[0].Packed, &storedBlock,
                            &parsed.Entries[1].Header, &parsed.Entries[1].Packed})
    archive.insert(archive.end(), part->begin(), part->end());
  Write("s.rar", archive);
  EXPECT_EQ(Run(Dir.File("s.rar"), 'T'), 3);
  EXPECT_EQ(Job.ErrorCount, 0);
}

// Cuts and byte flips of real archives of each layout: every run must end (no hang, no
// out-of-bounds access under the sanitizers) and never claim more than the intact archive. A
// cut behind the main header anywhere but between two entries is one failure, told once as
// the end of the archive and never as a checksum error (the bytes that are there are right).
TEST_F(Corpus, DamagedCopiesEndCleanly) {
  for (const char* file : {"fixc__Rar2.rar", "fixc__Rar15.rar", "dos1402__SOLID.RAR", "dos250__AUDIO.RAR",
                           "music__test_v2.rar", "win154__readme.EXE"}) {
    SCOPED_TRACE(file);
    const Bytes whole = ReadWholeFile(Rar(file));
    ASSERT_GT(whole.size(), 100u);
    const RawArchive parsed = ParseArchive(whole);
    const auto signature = std::search(whole.begin(), whole.end(), parsed.Prefix.begin(), parsed.Prefix.end());
    const std::size_t firstEntry = static_cast<std::size_t>(signature - whole.begin()) + parsed.Prefix.size();
    std::set<std::size_t> betweenEntries{firstEntry};
    for (const RawEntry& e : parsed.Entries)
      betweenEntries.insert(*betweenEntries.rbegin() + e.Header.size() + e.Packed.size());
    Write("d.rar", whole);
    const std::int32_t intact = Run(Dir.File("d.rar"), 'T');
    ASSERT_GT(intact, 0);
    const std::size_t step = std::max<std::size_t>(1, whole.size() / 97);
    for (std::size_t at = 0; at < whole.size(); at += step) {
      SCOPED_TRACE(at);
      Write("d.rar", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(at)));
      EXPECT_LE(Run(Dir.File("d.rar"), 'T'), intact);
      if (at > firstEntry && !betweenEntries.contains(at)) {
        EXPECT_EQ(Host.Count(Status::kUnexpEOF), 1);
        EXPECT_FALSE(Host.Saw(Status::kExtrBadCRC));
        EXPECT_GE(Job.ErrorCount, 1);
      }
      Bytes flipped = whole;
      flipped[at] ^= static_cast<std::uint8_t>(0x01 << (at % 8));
      Write("d.rar", flipped);
      EXPECT_LE(Run(Dir.File("d.rar"), 'T'), intact + 1);  // a flipped attribute may turn a file into a directory
    }
  }
}

// The free-space check's sum: every file of a volume set once (its first part), directories
// and labels aside, as the manifest of each volume adds up.
TEST_F(Corpus, UnpackedSizesAddUpThroughAllVolumes) {
  std::map<std::string, std::uint64_t> expected;  // by the stem of the set's names
  for (const auto& [file, rows] : Entries)
    for (const auto& row : rows)
      if (!(Hex(row.at("flags")) & 1) && !Directory(row) &&
          !(Dec(row.at("hostos")) < 3 && (Hex(row.at("attr")) & 0x08)))  // a volume label
        expected[Stem(file)] += std::stoull(row.at("unpsize"));
  TempDir dest;
  int checked = 0, sets = 0;
  for (const auto& m : Files) {
    const std::string& file = m.at("file");
    const std::string ext = file.substr(file.rfind('.'));
    if (m.at("layout") == "none" || (ext != ".rar" && ext != ".RAR") || file.rfind("damaged__", 0) == 0) continue;
    const SpaceCheck space = CheckFreeSpace(Rar(file).c_str(), dest.Path().c_str());
    EXPECT_TRUE(space.Known) << file;
    EXPECT_EQ(space.Needed, expected[Stem(file)]) << file;
    EXPECT_NE(space.Free, kUnknownFreeSpace);
    EXPECT_TRUE(space.Fits() || space.Needed > space.Free);
    sets += fs::exists(Rar(Stem(file) + (ext == ".rar" ? ".r00" : ".R00")));
    ++checked;
  }
  EXPECT_GE(checked, 40);
  EXPECT_GE(sets, 2);
}

}  // namespace
}  // namespace korvane::testing
