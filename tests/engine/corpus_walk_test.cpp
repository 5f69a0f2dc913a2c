// Every archive of the real corpus, walked entry by entry and compared with the manifests
// written by an independent parser.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "engine/archive_format.h"
#include "engine/space_check.h"
#include "engine/status.h"
#include "engine/volumes.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

std::uint32_t Hex(const std::string& text) { return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 16)); }

// The manifest escapes bytes as \xNN and shows some non-ASCII bytes as '?'; the engine's name
// ends at the first zero byte (the Unicode part of a name is not read).
bool NameMatches(const std::string& expected, const std::string& actual) {
  std::string want;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] == '\\' && i + 3 < expected.size() && expected[i + 1] == 'x') {
      want.push_back(static_cast<char>(std::strtoul(expected.substr(i + 2, 2).c_str(), nullptr, 16)));
      i += 3;
    } else {
      want.push_back(expected[i] == '/' ? '\\' : expected[i]);
    }
  }
  if (const auto zero = want.find('\0'); zero != std::string::npos) want.resize(zero);
  if (want.size() != actual.size()) return false;
  for (std::size_t i = 0; i < want.size(); ++i)
    if (want[i] != '?' && want[i] != actual[i]) return false;
  return true;
}

std::string FormatDosTime(std::uint32_t t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", (t >> 25) + 1980, (t >> 21) & 15, (t >> 16) & 31,
                (t >> 11) & 31, (t >> 5) & 63, (t & 31) * 2);
  return text;
}

class CorpusWalk : public EngineTest {};

TEST_F(CorpusWalk, EveryArchiveMatchesTheManifests) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  const std::string rar = CorpusDir() + "/rar/";
  const auto files = ReadManifest(rar + "MANIFEST.tsv");
  std::map<std::string, std::vector<ManifestRow>> entries;
  for (auto& row : ReadManifest(rar + "ENTRIES.tsv")) entries[row["file"]].push_back(row);
  ASSERT_GE(files.size(), 90u);
  int walked = 0;
  for (const auto& m : files) {
    const std::string& file = m.at("file");
    SCOPED_TRACE(file);
    host.statuses.clear();
    const bool isArchive = OpenArchive(rar + file);
    if (m.at("layout") == "none") {
      EXPECT_FALSE(isArchive);
      continue;
    }
    ASSERT_TRUE(isArchive);
    EXPECT_EQ(reader.Archive.Format, m.at("layout") == "old" ? ArchiveFormat::kOld : ArchiveFormat::kNew);
    EXPECT_EQ(reader.Archive.SolidArchive, m.at("solid") == "y");
    const auto& want = entries[file];
    ASSERT_EQ(std::to_string(want.size()), m.at("entry_count"));
    std::size_t i = 0;
    for (; NextBlock(reader, kFileHead, false) != 0; ++i) {
      ASSERT_LT(i, want.size()) << "more entries than the manifest lists";
      const auto& w = want[i];
      const FileHeader& h = reader.Archive.File;
      SCOPED_TRACE(w.at("name"));
      const bool old = m.at("layout") == "old";
      EXPECT_TRUE(NameMatches(w.at("name"), reader.Archive.EntryName)) << reader.Archive.EntryName;
      EXPECT_EQ(h.HeadFlags, Hex(w.at("flags")) | (old ? 0x8000u : 0u));
      const unsigned ver = static_cast<unsigned>(std::stoul(w.at("unpver")));
      EXPECT_EQ(h.UnpVer, old ? (ver == 2 ? 13u : 10u) : ver);
      EXPECT_EQ(h.Method, Hex(w.at("method")) + (old ? 0x30u : 0u));
      EXPECT_EQ(std::to_string(h.PackSize), w.at("packsize"));
      EXPECT_EQ(std::to_string(h.UnpSize), w.at("unpsize"));
      EXPECT_EQ(h.FileCRC, Hex(w.at("crc")));
      const unsigned hostOS = static_cast<unsigned>(std::stoul(w.at("hostos")));
      if (hostOS < 3) {
        EXPECT_EQ(h.FileAttr, Hex(w.at("attr")));
      } else {
        EXPECT_EQ(h.FileAttr, (h.HeadFlags & 0xE0) == 0xE0 ? 0x10u : 0x20u);
      }
      EXPECT_EQ(FormatDosTime(h.FileTime), w.at("time"));
      reader.Input.Seek(reader.Archive.NextBlockPos, kSeekStart);
    }
    EXPECT_EQ(i, want.size());
    const std::string& notes = m.at("notes");
    if (notes.find("WRONG CRC") != std::string::npos || notes.find("covers extra bytes") != std::string::npos) {
      EXPECT_TRUE(host.Saw(status::kBrokFileHead));
    } else if (notes.find("0x1000") == std::string::npos && notes.find("comment") == std::string::npos) {
      EXPECT_FALSE(host.Saw(status::kBrokFileHead));
    }
    if (notes.find("unexpected EOF") != std::string::npos) {
      EXPECT_TRUE(host.Saw(status::kUnexpEOF));
    }
    ++walked;
  }
  EXPECT_GE(walked, 85);
}

// The free-space check's sum: every file of a volume set once (its first part), directories
// and labels aside, as the manifest of each volume adds up.
TEST(CorpusSpace, UnpackedSizesAddUpThroughAllVolumes) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  const std::string rar = CorpusDir() + "/rar/";
  std::map<std::string, std::uint64_t> expected;  // by the stem of the set's names
  for (auto& row : ReadManifest(rar + "ENTRIES.tsv")) {
    const std::string& file = row["file"];
    const unsigned flags = Hex(row["flags"]), attr = Hex(row["attr"]);
    const bool unix = row["hostos"] == "3", dir = unix ? (flags & 0xE0) == 0xE0 : (attr & 0x10) != 0;
    if ((flags & 1) == 0 && !dir && !(!unix && (attr & 0x08)))
      expected[file.substr(0, file.rfind('.'))] += std::stoull(row["unpsize"]);
  }
  TempDir dest;
  int checked = 0, sets = 0;
  for (const auto& m : ReadManifest(rar + "MANIFEST.tsv")) {
    const std::string& file = m.at("file");
    const std::string ext = file.substr(file.rfind('.'));
    if (m.at("layout") == "none" || (ext != ".rar" && ext != ".RAR") || file.rfind("damaged__", 0) == 0) continue;
    const SpaceCheck space = CheckFreeSpace((rar + file).c_str(), dest.Path().c_str());
    EXPECT_TRUE(space.Known) << file;
    EXPECT_EQ(space.Needed, expected[file.substr(0, file.rfind('.'))]) << file;
    EXPECT_NE(space.Free, kUnknownFreeSpace);
    EXPECT_TRUE(space.Fits() || space.Needed > space.Free);
    sets += std::filesystem::exists(rar + file.substr(0, file.rfind('.')) + (ext == ".rar" ? ".r00" : ".R00"));
    ++checked;
  }
  EXPECT_GE(checked, 40);
  EXPECT_GE(sets, 2);
}

}  // namespace
}  // namespace korvane::testing
