// The archive writer, checked by the tests' own archive reader (signatures, header checksums,
// continuation flags, per-part checksums, every volume but the last ending inside a continuing
// entry) and by the engine, which must test every set it writes and follow its volume names.
#include "archive/archive_writer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korvane {
namespace {
namespace fs = std::filesystem;
using namespace korvane::testing;

// Reads a whole set part by part and records every breach of the layout as a failure; the
// entries come back with their parts joined.
std::vector<RawEntry> ReadSet(const std::string& first, std::uint64_t volumeLimit, std::size_t& volumes) {
  std::vector<RawEntry> entries;
  bool continuing = false;
  volumes = 0;
  for (std::string name = first; fs::exists(name); name = NextVolumeName(name)) {
    SCOPED_TRACE(name);
    const Bytes bytes = ReadWholeFile(name);
    const RawArchive v = ParseArchive(bytes);
    ++volumes;
    EXPECT_TRUE(v.Valid && !v.OldLayout && v.MainCrcOk && v.Prefix.size() == 20);
    EXPECT_LE(bytes.size(), volumeLimit != 0 ? volumeLimit : bytes.size());
    std::size_t size = v.Prefix.size();
    for (const RawEntry& part : v.Entries) {
      size += part.Header.size() + part.Packed.size();
      EXPECT_TRUE(part.HeaderCrcOk && part.Header.size() == 32 + part.Name.size() && part.Method == 0x30 &&
                  part.UnpVer == 20 && (part.Flags & 0x8000))
          << part.Name;
      EXPECT_EQ((part.Flags & 0x01) != 0, continuing) << part.Name << " continues from nothing, or not at all";
      if (continuing) {
        EXPECT_TRUE(&part == &v.Entries.front() && entries.back().Name == part.Name);
        entries.back().Packed.insert(entries.back().Packed.end(), part.Packed.begin(), part.Packed.end());
      } else {
        entries.push_back(part);
      }
      continuing = (part.Flags & 0x02) != 0;
      // A reader checks the entry against the header it holds when the data runs out, so the
      // last part carries the whole entry's checksum; earlier ones carry their own.
      EXPECT_EQ(part.FileCrc, Crc32Of(continuing ? part.Packed : entries.back().Packed)) << part.Name;
      EXPECT_TRUE(continuing || entries.back().Packed.size() == part.UnpSize) << part.Name;
    }
    EXPECT_EQ(size, bytes.size()) << "the volume holds nothing but its blocks";
    EXPECT_EQ(continuing, fs::exists(NextVolumeName(name))) << "a volume with a successor ends in a continuing entry";
    EXPECT_EQ(v.VolumeFlag, volumes > 1 || continuing);
  }
  EXPECT_FALSE(continuing) << "the set ends inside an entry";
  return entries;
}

void WriteFile(const fs::path& p, std::size_t size, unsigned seed) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 131 + seed * 7 + (i >> 7)) & 0xFF));
}

class Packer : public EngineTest {
 protected:
  // Packs root, reads the set back, compares every file and directory, and has the engine test
  // it. Returns the number of volumes.
  std::size_t RoundTrip(const std::string& archive, const fs::path& root, std::uint64_t volumeSize,
                        std::uint8_t hostOs = kHostWindows) {
    PackOptions options;
    options.VolumeSize = volumeSize;
    options.HostOs = hostOs;
    std::vector<PackSource> sources;
    std::vector<VolumePlan> plan;
    std::vector<std::string> written;
    std::vector<std::string> links;
    std::string error;
    EXPECT_TRUE(CollectSources({root.string()}, options, sources, links, error)) << error;
    EXPECT_TRUE(PlanVolumes(sources, volumeSize, plan, error)) << error;
    EXPECT_TRUE(WriteVolumes(archive, sources, plan, options, written, error)) << error;
    std::size_t volumes = 0;
    const std::vector<RawEntry> entries = ReadSet(archive, volumeSize, volumes);
    EXPECT_EQ(volumes, written.size());
    EXPECT_EQ(volumes, plan.size());
    // Every file and directory once, by its archive name (a directory's ends in a backslash).
    std::map<std::string, Bytes> got, want{{root.filename().string() + "\\", {}}};
    int files = 0;
    for (const RawEntry& e : entries) {
      EXPECT_EQ(e.HostOS, hostOs) << e.Name;
      EXPECT_EQ(e.Flags & 0xE0, e.Directory() ? 0xE0 : 0) << e.Name;
      EXPECT_TRUE(!e.Directory() || hostOs != kHostWindows || e.FileAttr == 0x10u) << e.Name << " " << e.FileAttr;
      got[e.Name + (e.Directory() ? "\\" : "")] = e.Packed;
      files += !e.Directory();
    }
    for (const auto& item : fs::recursive_directory_iterator(root)) {
      std::string rel = root.filename().string() + "\\" + fs::relative(item.path(), root).string();
      std::replace(rel.begin(), rel.end(), '/', '\\');
      const bool dir = item.is_directory();
      want[rel + (dir ? "\\" : "")] = dir ? Bytes{} : ReadWholeFile(item.path().string());
    }
    EXPECT_EQ(entries.size(), want.size());
    EXPECT_EQ(got, want);
    EXPECT_EQ(Run(archive, 'T'), static_cast<std::int32_t>(entries.size()));
    EXPECT_EQ(Job.ErrorCount, 0);
    EXPECT_EQ(Host.Count(Status::kExtrOk), files);
    EXPECT_TRUE(Host.Boxes.empty());
    EXPECT_EQ(Job.CurrentVolume, static_cast<std::int32_t>(volumes));
    return volumes;
  }
};

// Families of payload shapes, each packed whole and at volume sizes from near the minimum for
// these names (~20 + 2 * 300) up, so that the data is cut at many different places. Entries
// without data fill volumes with headers alone and must carry the continuation themselves.
const std::pair<const char*, void (*)(const fs::path&)> kShapes[] = {
    {"empty directories",
     [](const fs::path& r) {
       fs::create_directories(r / "a" / "b" / "c");
       fs::create_directories(r / "d");
       WriteFile(r / "d" / "after.txt", 10, 3);
     }},
    {"deep tree",
     [](const fs::path& r) {
       fs::path p = r;
       for (int depth = 0; depth < 12; ++depth) {
         p /= "level " + std::to_string(depth);
         WriteFile(p / ("file " + std::to_string(depth) + ".dat"), 37u * depth, depth);
       }
     }},
    {"names with spaces and mixed sizes",
     [](const fs::path& r) {
       WriteFile(r / "Read Me First.txt", 3000, 4);
       WriteFile(r / "sub dir" / "big file.bin", 20000, 5);
       WriteFile(r / "sub dir" / "  leading.txt", 1, 6);
       WriteFile(r / "sub dir" / "zero", 0, 7);
     }},
    {"many empty entries",
     [](const fs::path& r) {
       for (int i = 0; i < 30; ++i) {
         const std::string n = std::to_string(100 + i);
         WriteFile(r / ("an empty file with a long name number " + n), 0, i);
         fs::create_directories(r / ("an empty directory with a long name " + n));
       }
     }},
};

class PackerShapes : public Packer, public ::testing::WithParamInterface<std::tuple<int, std::uint64_t>> {};

TEST_P(PackerShapes, RoundTripThroughTheReaderAndTheEngine) {
  const auto [shape, volumeSize] = GetParam();
  SCOPED_TRACE(kShapes[shape].first);
  const fs::path root = fs::path(Dir.Path()) / "payload";
  fs::create_directories(root);
  kShapes[shape].second(root);
  RoundTrip(Dir.File("set.rar"), root, volumeSize);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PackerShapes,
                         ::testing::Combine(::testing::Range(0, 4),
                                            ::testing::Values<std::uint64_t>(0, 700, 701, 997, 4096)));

// Past .r99 the letter counts on; a file whose header and data fill the first volume to the
// byte stays in it alone, and hands its last byte on when more follows so that a reader moves.
TEST_F(Packer, ManyVolumesUnixModesAndAVolumeFilledExactly) {
  WriteFile(fs::path(Dir.Path()) / "big" / "span.bin", 50000, 9);
  EXPECT_GE(RoundTrip(Dir.File("span.rar"), fs::path(Dir.Path()) / "big", 300, kHostUnix), 50000u / 300u);
  EXPECT_TRUE(fs::exists(Dir.File("span.s00")));
  const fs::path root = fs::path(Dir.Path()) / "x";
  WriteFile(root / "full", 1000 - 20 - 33 - 38, 10);  // lead, directory header "x", file header "x\full"
  EXPECT_EQ(RoundTrip(Dir.File("one.rar"), root, 1000), 1u);
  EXPECT_EQ(fs::file_size(Dir.File("one.rar")), 1000u);
  WriteFile(root / "more", 5, 11);
  EXPECT_EQ(RoundTrip(Dir.File("two.rar"), root, 1000), 2u);
}

// A failed run leaves no volume behind: here the fourth volume's name is taken by a directory,
// so the first three are already complete when its rename fails; then a source vanishes
// between collecting and writing.
TEST_F(Packer, FailuresLeaveNothingBehind) {
  const fs::path root = fs::path(Dir.Path()) / "in";
  WriteFile(root / "f.bin", 5000, 17);
  const std::string out = Dir.File("out");
  std::vector<PackSource> sources;
  std::vector<VolumePlan> plan;
  std::vector<std::string> written, links;
  std::string error;
  ASSERT_TRUE(CollectSources({root.string()}, PackOptions{}, sources, links, error));
  ASSERT_TRUE(PlanVolumes(sources, 1000, plan, error));
  fs::create_directories(out + "/set.r02/blocker");
  EXPECT_FALSE(WriteVolumes(out + "/set.rar", sources, plan, PackOptions{}, written, error));
  EXPECT_TRUE(written.empty());
  fs::remove(root / "f.bin");
  EXPECT_FALSE(WriteVolumes(out + "/gone.rar", sources, plan, PackOptions{}, written, error));
  EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
  EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 1) << "only the blocking directory";
#ifndef _WIN32
  // Neither a file nor a directory: refused before anything is written.
  const std::string fifo = Dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(CollectSources({fifo}, PackOptions{}, sources, links, error));
  EXPECT_NE(error.find("neither a file nor a directory"), std::string::npos) << error;
#endif
}

}  // namespace
}  // namespace korvane
