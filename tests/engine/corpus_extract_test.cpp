// RunExtraction over the real corpus in both modes: every entry that this engine can decode
// passes its checksum, encrypted ones fail and leave nothing behind, damaged files end
// without a crash, and the installed tree matches the manifest.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "engine/extraction.h"
#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

std::uint32_t Hex(const std::string& text) { return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 16)); }

struct LogicalEntry {
  std::string name;  // as the manifest writes it
  std::uint32_t flags, unpSize, attr;
  unsigned unpVer;
  std::string time;
  bool directory;
};

// The manifest's files grouped into archives as a run sees them: a plain file, or a volume
// set from its first volume on (entries listed once, at their first part).
struct CorpusArchive {
  std::string first;
  std::string notes;
  bool oldLayout = false;
  std::vector<LogicalEntry> entries;
};

std::string Stem(const std::string& file) { return file.substr(0, file.rfind('.')); }

std::vector<CorpusArchive> LoadArchives() {
  const std::string rar = CorpusDir() + "/rar/";
  std::map<std::string, std::vector<ManifestRow>> rows;
  for (auto& row : ReadManifest(rar + "ENTRIES.tsv")) rows[row["file"]].push_back(row);
  const auto manifest = ReadManifest(rar + "MANIFEST.tsv");
  std::vector<CorpusArchive> out;
  for (const auto& m : manifest) {
    const std::string vol = m.at("volume_flags");
    if (vol != "-" && vol != "vol(first)") continue;
    CorpusArchive a;
    a.first = m.at("file");
    a.notes = m.at("notes");
    a.oldLayout = m.at("layout") == "old";
    std::vector<std::string> files{a.first};
    if (vol == "vol(first)")
      for (const auto& other : manifest)
        if (other.at("file") != a.first && Stem(other.at("file")) == Stem(a.first)) files.push_back(other.at("file"));
    std::sort(files.begin() + 1, files.end());
    for (const auto& f : files)
      for (const auto& r : rows[f]) {
        const std::uint32_t flags = Hex(r.at("flags"));
        if (flags & 0x01) continue;
        const std::uint32_t attr = Hex(r.at("attr"));
        const unsigned host = static_cast<unsigned>(std::stoul(r.at("hostos")));
        const bool dir = host >= 3 ? (flags & 0xE0) == 0xE0 : (attr & 0x10) != 0;
        a.entries.push_back({r.at("name"), flags, static_cast<std::uint32_t>(std::stoul(r.at("unpsize"))), attr,
                             static_cast<unsigned>(std::stoul(r.at("unpver"))), r.at("time"), dir});
      }
    out.push_back(std::move(a));
  }
  return out;
}

bool Decodable(const CorpusArchive& a, const LogicalEntry& e) {
  const unsigned ver = a.oldLayout ? (e.unpVer == 2 ? 13 : 10) : e.unpVer;
  return ver >= 13 && ver <= 20 && !(e.flags & 0x04);
}

bool Negative(const CorpusArchive& a) {
  return a.notes.find("CRAFTED") != std::string::npos || a.notes.find("DERIVED") != std::string::npos;
}

class CorpusExtract : public EngineTest {
 protected:
  void SetUp() override {
    if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
    archives = LoadArchives();
    ASSERT_GE(archives.size(), 50u);
  }
  std::int32_t Run(const CorpusArchive& a, char mode) { return EngineTest::Run(CorpusDir() + "/rar/" + a.first, mode); }
  std::vector<CorpusArchive> archives;
};

TEST_F(CorpusExtract, TestModeChecksEveryEntry) {
  for (const CorpusArchive& a : archives) {
    SCOPED_TRACE(a.first);
    const std::int32_t result = Run(a, 'T');
    if (Negative(a)) continue;  // must only end without a crash; ASan and the replay see to the rest
    int good = 0, encrypted = 0, dirs = 0, unknown = 0;
    for (const auto& e : a.entries) {
      if (e.directory) {
        ++dirs;
      } else if (e.flags & 0x04) {
        ++encrypted;
      } else if (Decodable(a, e)) {
        ++good;
      } else {
        ++unknown;
      }
    }
    EXPECT_EQ(host.CountStatus(status::kExtrOk), good);
    EXPECT_EQ(host.CountStatus(status::kEncrBadCRC), encrypted);
    EXPECT_EQ(host.CountStatus(status::kExtrBadCRC), 0);
    EXPECT_EQ(host.CountStatus(status::kExtrTestDir), dirs);
    EXPECT_EQ(result, good + encrypted + dirs);
    EXPECT_EQ(job.ErrorCount, encrypted + unknown);
    EXPECT_TRUE(host.boxes.empty());
  }
}

std::time_t LocalTime(const std::string& text) {
  std::tm t{};
  std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min, &t.tm_sec);
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

TEST_F(CorpusExtract, InstallModeWritesTheTreeOfTheManifest) {
  for (const CorpusArchive& a : archives) {
    if (Negative(a)) continue;
    SCOPED_TRACE(a.first);
    TempDir dest;
    std::snprintf(job.DestinationDir, sizeof job.DestinationDir, "%s\\", dest.Path().c_str());
    Run(a, 'X');
    // Names with escaped bytes are not spelled out in the manifest.
    const auto spelled = [](const LogicalEntry& e) {
      return e.name.find('?') == e.name.npos && e.name.find("\\x") == e.name.npos;
    };
    std::set<std::string> expected;
    for (const auto& e : a.entries) {
      if (!spelled(e)) continue;
      std::string rel = e.name;
      std::replace(rel.begin(), rel.end(), '\\', '/');
      const fs::path p = fs::path(dest.Path()) / rel;
      SCOPED_TRACE(rel);
      expected.insert(p.lexically_normal().string());
      if (e.directory) {
        EXPECT_TRUE(fs::is_directory(p));
      } else if (Decodable(a, e)) {
        ASSERT_TRUE(fs::is_regular_file(p));
        EXPECT_EQ(fs::file_size(p), e.unpSize);
        if (e.time.substr(5, 2) != "00") {
          const auto written = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(fs::last_write_time(p)));
          EXPECT_EQ(written, LocalTime(e.time));
        }
      } else {
        EXPECT_FALSE(fs::exists(p)) << "a file that failed its check must be deleted";
      }
    }
    if (!std::all_of(a.entries.begin(), a.entries.end(), spelled)) continue;
    for (const auto& item : fs::recursive_directory_iterator(dest.Path()))  // nothing else was written
      if (!item.is_directory()) {
        EXPECT_EQ(expected.count(item.path().lexically_normal().string()), 1u) << item.path();
      }
  }
}

TEST_F(CorpusExtract, NegativeCasesEndWithoutHarmInBothModes) {
  for (const CorpusArchive& a : archives) {
    if (!Negative(a)) continue;
    SCOPED_TRACE(a.first);
    // Whatever the archive's names say, nothing may appear beside the destination.
    TempDir root;
    const fs::path dest = fs::path(root.Path()) / "dest";
    fs::create_directory(dest);
    std::snprintf(job.DestinationDir, sizeof job.DestinationDir, "%s\\", dest.string().c_str());
    Run(a, 'X');
    for (const auto& item : fs::directory_iterator(root.Path())) EXPECT_EQ(item.path().filename(), "dest");
    Run(a, 'T');
  }
}

}  // namespace
}  // namespace korvane::testing
