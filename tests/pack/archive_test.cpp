// Packed archives as `korvane pack` writes them, installed again by the extraction driver:
// the corpus's contents at every level, solid and not; volumes cut anywhere in the packed
// stream; many small files in one solid stream; PCM in multimedia blocks; the header fields
// that tell the driver how to decode; and the release this build made.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "archive/archive_writer.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/round_trip.h"
#include "tests/support/archive_bytes.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

class PackedArchive : public EngineTest {
 protected:
  // Packs what root holds into dir/stem.rar as the pack command does; the volumes written.
  std::vector<std::string> Pack(const fs::path& root, const std::string& stem, PackOptions options) {
    std::vector<std::string> paths, written, links;
    for (const auto& item : fs::directory_iterator(root)) paths.push_back(item.path().string());
    std::sort(paths.begin(), paths.end());
    std::vector<PackSource> sources;
    std::vector<VolumePlan> plan;
    std::string error;
    const std::string packed = Dir.File(stem + ".packing");
    EXPECT_TRUE(CollectSources(paths, options, sources, links, error)) << error;
    EXPECT_TRUE(PackSources(sources, options, packed, error)) << error;
    EXPECT_TRUE(PlanVolumes(sources, options.VolumeSize, plan, error)) << error;
    EXPECT_TRUE(WriteVolumes(Dir.File(stem + ".rar"), sources, plan, options, written, error)) << error;
    fs::remove(packed);
    return written;
  }

  // Installs the archive into a fresh folder: every entry passes, and the folder then holds
  // what root holds, byte for byte, and emptyDirs folders more.
  void ExpectInstallsAs(const std::string& archive, const fs::path& root, std::ptrdiff_t emptyDirs = 0) {
    TempDir dest;
    std::snprintf(Job.DestinationDir, sizeof Job.DestinationDir, "%s\\", dest.Path().c_str());
    Run(archive, 'X');
    EXPECT_EQ(Job.ErrorCount, 0);
    EXPECT_TRUE(Host.Boxes.empty()) << Host.Boxes.front().Text;
    std::ptrdiff_t items = 0;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
      ++items;
      const fs::path copy = fs::path(dest.Path()) / fs::relative(item.path(), root);
      if (item.is_directory())
        EXPECT_TRUE(fs::is_directory(copy)) << copy;
      else
        EXPECT_EQ(ReadWholeFile(copy.string()), ReadWholeFile(item.path().string())) << copy;
    }
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(dest.Path()), {}), items + emptyDirs);
  }

  fs::path Tree(const std::string& name, const std::vector<std::pair<std::string, Bytes>>& files) {
    const fs::path root = fs::path(Dir.Path()) / name;
    for (const auto& [rel, bytes] : files) {
      fs::create_directories((root / rel).parent_path());
      EXPECT_TRUE(WriteWholeFile((root / rel).string(), bytes));
    }
    return root;
  }
};

PackOptions Level(int level, bool solid, std::uint64_t volumeSize = 0, bool multimedia = false) {
  PackOptions options;
  options.VolumeSize = volumeSize;
  options.HostOs = kHostWindows;
  options.Level = level;
  options.Solid = solid;
  options.Multimedia = multimedia;
  return options;
}

// Every readable corpus archive is installed, and what it gave is packed again at every
// level, solid and not, and installed from there.
TEST_F(PackedArchive, CorpusContentsComeBackAtEveryLevel) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  int archives = 0;
  for (ManifestRow& row : ReadManifest(CorpusDir() + "/rar/MANIFEST.tsv")) {
    const std::string& notes = row["notes"];
    if ((row["volume_flags"] != "-" && row["volume_flags"] != "vol(first)") || row["layout"] == "none" ||
        notes.find("CRAFTED") != notes.npos || notes.find("DERIVED") != notes.npos)
      continue;
    SCOPED_TRACE(row["file"]);
    TempDir installed;
    const fs::path original = installed.Path();
    std::snprintf(Job.DestinationDir, sizeof Job.DestinationDir, "%s\\", installed.Path().c_str());
    Run(CorpusDir() + "/rar/" + row["file"], 'X');
    if (fs::is_empty(original)) continue;  // only encrypted entries
#ifdef _WIN32
    // The packer reads names through the narrow file API, which cannot name every file that
    // an entry with bytes outside ASCII became on Windows.
    const auto ascii = [](const fs::directory_entry& item) {
      const std::wstring name = item.path().filename().wstring();
      return std::all_of(name.begin(), name.end(), [](wchar_t c) { return c < 128; });
    };
    if (!std::all_of(fs::recursive_directory_iterator(original), fs::recursive_directory_iterator(), ascii)) continue;
#endif
    ++archives;
    for (int level = 1; level <= 5; ++level)
      for (bool solid : {false, true}) {
        SCOPED_TRACE("level " + std::to_string(level) + (solid ? " solid" : ""));
        const auto volumes = Pack(original, "repacked", Level(level, solid));
        ExpectInstallsAs(volumes.front(), original);
      }
  }
  EXPECT_GE(archives, 40);
}

// A solid stream of text, PCM and noise, its volumes cut at every byte of the packed data in
// turn: inside table blocks, matches, multimedia blocks and stored entries alike.
TEST_F(PackedArchive, VolumesMayBeCutAnywhere) {
  const fs::path root = Tree("cuts", {{"a.txt", WordText(3000, 1)},
                                      {"b.pcm", PcmSines(700, 2, 2)},
                                      {"c.bin", RandomBytes(300, 2)},
                                      {"d.txt", WordText(2000, 3)}});
  const auto single = Pack(root, "whole", Level(5, true, 0, true));
  ASSERT_EQ(single.size(), 1u);
  const auto parsed = ParseArchive(ReadWholeFile(single.front()));
  ASSERT_TRUE(parsed.Valid);
  constexpr std::uint64_t kStep = 5;
  for (std::uint64_t phase = 1; phase <= kStep; ++phase) {
    SCOPED_TRACE("cuts from " + std::to_string(phase));
    std::vector<std::uint64_t> cuts;
    for (std::uint64_t at = phase; at < parsed.PackedTotal(); at += kStep) cuts.push_back(at);
    const std::string stem = "cut" + std::to_string(phase);
    WriteSet(stem, Resplit(parsed, cuts));
    ExpectInstallsAs(Dir.File(stem + ".rar"), root);
  }
}

// Hundreds of small files share one stream: less than half the size of packing them one by
// one (headers included, which both pay alike).
TEST_F(PackedArchive, HundredsOfSmallFilesInOneSolidStream) {
  std::vector<std::pair<std::string, Bytes>> files;
  for (std::uint32_t i = 0; i < 300; ++i) {
    const std::string name = "dir" + std::to_string(i % 7) + "/file" + std::to_string(i) + ".txt";
    files.emplace_back(name, i % 50 == 7   ? RandomBytes(200, i)
                             : i % 40 == 3 ? Bytes{}
                                           : WordText(100 + i * 3 % 700, i % 5));
  }
  const fs::path root = Tree("many", files);
  std::uint64_t sizes[2] = {};
  for (bool solid : {false, true}) {
    const auto volumes = Pack(root, solid ? "solid" : "plain", Level(3, solid));
    sizes[solid] = fs::file_size(volumes.front());
    ExpectInstallsAs(volumes.front(), root);
  }
  EXPECT_LT(sizes[1] * 2, sizes[0]);
}

// PCM is packed in multimedia blocks of as many channels as it has byte lanes (samples times
// bytes per sample), at the top level and with the multimedia option.
TEST_F(PackedArchive, PcmGoesIntoMultimediaBlocksOfItsChannels) {
  const std::tuple<const char*, Bytes, std::uint32_t> cases[] = {{"mono8.raw", PcmSines(30000, 1, 1), 1},
                                                                  {"mono16.raw", PcmSines(20000, 1, 2), 2},
                                                                  {"stereo16.raw", PcmSines(15000, 2, 2), 4}};
  for (const auto& [name, data, channels] : cases) {
    SCOPED_TRACE(name);
    const fs::path root = Tree(std::string("pcm-") + name, {{name, data}});
    for (bool multimedia : {false, true}) {
      const auto volumes = Pack(root, "pcm", Level(multimedia ? 3 : 5, false, 0, multimedia));
      const RawArchive raw = ReadArchiveSet(volumes.front(), false);
      ASSERT_EQ(raw.Entries.size(), 1u);
      const Bytes& packed = raw.Entries[0].Packed;
      ASSERT_FALSE(packed.empty());
      // The entry starts with its table block: audio flag, keep flag, channels - 1.
      EXPECT_EQ(packed[0] >> 7, 1);
      EXPECT_EQ(((packed[0] >> 4) & 3) + 1u, channels);
      ExpectInstallsAs(volumes.front(), root);
    }
  }
}

// The header fields the driver decodes by: the level in the method byte, the solid flags from
// the second packed entry on, stored entries where packing does not pay.
TEST_F(PackedArchive, HeadersTellHowEachEntryIsPacked) {
  const fs::path root = Tree(
      "headers",
      {{"1.txt", WordText(5000, 6)}, {"2.bin", RandomBytes(4000, 7)}, {"3.txt", {}}, {"4.txt", WordText(5000, 8)}});
  const auto volumes = Pack(root, "headers", Level(4, true));
  const RawArchive raw = ReadArchiveSet(volumes.front(), false);
  EXPECT_TRUE(raw.Solid);
  const std::pair<std::uint8_t, bool> expected[] = {{0x34, false}, {0x30, true}, {0x30, true}, {0x34, true}};
  ASSERT_EQ(raw.Entries.size(), std::size(expected));
  for (std::size_t i = 0; i < raw.Entries.size(); ++i) {
    const RawEntry& e = raw.Entries[i];
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(e.Method, expected[i].first);
    EXPECT_EQ(e.SolidFlag(), expected[i].second);
    EXPECT_EQ(e.UnpVer, 20);
    EXPECT_EQ(e.Packed.size() < e.UnpSize, expected[i].first != 0x30);
  }
  ExpectInstallsAs(volumes.front(), root);
}

#ifdef KORVANE_RELEASE_DIR
// The release this build made: a solid set of exactly the counted volumes, packed at the top
// level, that installs every file of the payload with its read-only bit and its empty folders.
class Release : public PackedArchive {};

TEST_F(Release, SolidPackedVolumesInstallThePayload) {
  const std::string first = std::string(KORVANE_RELEASE_DIR) + "/" + KORVANE_RELEASE_ARCHIVE;
  ASSERT_TRUE(fs::exists(first)) << "build the korvane_release target first";
  const RawArchive raw = ReadArchiveSet(first, true);
  ASSERT_TRUE(raw.Valid);
  EXPECT_TRUE(raw.Solid);
  EXPECT_EQ(raw.Volumes, KORVANE_RELEASE_VOLUMES);
  // The count resource holds two digits.
  EXPECT_EQ(ReadWholeFile(KORVANE_RES_VOLUME_COUNT), BytesOf(std::to_string(100 + raw.Volumes).substr(1)));
  EXPECT_EQ(ReadWholeFile(std::string(KORVANE_RELEASE_DIR) + "/korvane.nfo"),
            ReadWholeFile(std::string(KORVANE_RELEASE_SOURCE) + "/korvane.nfo"));

  std::map<std::string, std::string> attributes;  // name -> "readonly" or "emptydir"
  std::ptrdiff_t emptyDirs = 0;
  std::ifstream list(std::string(KORVANE_RELEASE_SOURCE) + "/payload-attributes.txt");
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t space = line.find(' ');
    std::string name = line.substr(space + 1);
    std::replace(name.begin(), name.end(), '/', '\\');
    attributes[name] = line.substr(0, space);
    emptyDirs += attributes[name] == "emptydir";
  }
  std::size_t packed = 0, files = 0;
  for (const RawEntry& e : raw.Entries) {
    SCOPED_TRACE(e.Name);
    const std::string kind = attributes[e.Name];
    attributes.erase(e.Name);
    if (e.Directory()) continue;
    EXPECT_TRUE(e.Method == 0x35 || e.Method == 0x30);
    packed += e.Method == 0x35;
    ++files;
    EXPECT_EQ(e.FileAttr, kind == "readonly" ? 0x21u : 0x20u);
  }
  EXPECT_GT(packed * 2, files) << "most files are packed";
  for (const auto& [name, kind] : attributes) ADD_FAILURE() << kind << " " << name << " is not in the release";

  // Installed by the driver, the payload comes back whole with the empty folders, nothing else.
  ExpectInstallsAs(first, fs::path(KORVANE_RELEASE_SOURCE) / "payload", emptyDirs);
  EXPECT_EQ(Job.CurrentVolume, KORVANE_RELEASE_VOLUMES);
}
#endif

}  // namespace
}  // namespace korvane::testing
