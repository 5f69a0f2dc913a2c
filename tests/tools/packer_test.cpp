// The volume packer, checked by an independent walker written here from the archive layout:
// signatures, header checksums, continuation flags, per-part checksums, the volume naming
// rule, and that every volume but the last ends inside an entry flagged as continuing.
#include "tools/packer/packer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "engine/checksum.h"
#include "tests/support/corpus.h"

namespace korvane::packer {
namespace {
namespace fs = std::filesystem;
using korvane::testing::ReadWholeFile;
using korvane::testing::TempDir;

std::uint32_t Get16(const std::vector<std::uint8_t>& b, std::size_t at) { return b[at] | b[at + 1] << 8; }
std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return Get16(b, at) | Get16(b, at + 2) << 16;
}
std::uint32_t Crc(const std::uint8_t* p, std::size_t n) { return ~UpdateCrc32(0xFFFFFFFFu, p, n); }

struct ReadEntry {
  std::string name;
  std::uint16_t firstFlags = 0;
  std::uint32_t attributes = 0;
  std::uint8_t hostOs = 0;
  std::uint32_t time = 0;
  std::uint32_t unpSize = 0;
  std::vector<std::uint8_t> data;
  int parts = 0;
};

// Reads a whole volume set and records every breach of the layout as a test failure.
std::vector<ReadEntry> ReadSet(const std::string& first, std::uint64_t volumeLimit, std::size_t* volumeCount) {
  std::vector<ReadEntry> entries;
  std::string name = first;
  bool continuing = false;
  std::uint32_t runningCrc = 0;
  std::size_t volumes = 0;
  for (;; name = NextVolumeName(name)) {
    if (!fs::exists(name)) {
      EXPECT_FALSE(continuing) << "set ends inside an entry before " << name;
      break;
    }
    ++volumes;
    const std::vector<std::uint8_t> v = ReadWholeFile(name);
    if (volumeLimit != 0) {
      EXPECT_LE(v.size(), volumeLimit) << name;
    }
    EXPECT_TRUE(v.size() >= 20 && std::equal(v.begin(), v.begin() + 7, "Rar!\x1a\x07"))  << name;
    if (v.size() < 20) return entries;
    EXPECT_EQ(v[9], 0x73);
    EXPECT_EQ(Get16(v, 12), 13u);
    EXPECT_EQ(Get16(v, 7), Crc(&v[9], 11) & 0xFFFF) << "main header checksum of " << name;
    const bool volumeFlag = (Get16(v, 10) & 1) != 0;
    std::size_t at = 20;
    std::uint16_t lastFlags = 0;
    bool firstBlock = true;
    while (at < v.size()) {
      if (at + 32 > v.size()) {
        ADD_FAILURE() << "truncated header in " << name;
        return entries;
      }
      const std::uint16_t flags = Get16(v, at + 3);
      const std::uint32_t headSize = Get16(v, at + 5), pack = Get32(v, at + 7), nameSize = Get16(v, at + 26);
      EXPECT_EQ(v[at + 2], 0x74);
      EXPECT_EQ(headSize, 32 + nameSize);
      EXPECT_TRUE(flags & 0x8000);
      if (at + headSize + pack > v.size()) {
        ADD_FAILURE() << "part runs past the end of " << name;
        return entries;
      }
      EXPECT_EQ(Get16(v, at), Crc(&v[at + 2], headSize - 2) & 0xFFFF) << "header checksum in " << name;
      EXPECT_EQ(v[at + 25], 0x30);
      EXPECT_EQ(v[at + 24], 20);
      const std::string entryName(v.begin() + at + 32, v.begin() + at + 32 + nameSize);
      const std::uint8_t* data = &v[at + headSize];
      if (flags & 0x01) {
        EXPECT_TRUE(firstBlock && continuing) << entryName << " continues from nothing";
        EXPECT_TRUE(!entries.empty() && entries.back().name == entryName);
      } else {
        EXPECT_FALSE(continuing) << "previous entry not finished before " << entryName;
        entries.push_back(ReadEntry{entryName, flags, Get32(v, at + 28), v[at + 15], Get32(v, at + 20),
                                    Get32(v, at + 11), {}, 0});
        runningCrc = 0xFFFFFFFFu;
      }
      if (entries.empty()) return entries;
      ReadEntry& e = entries.back();
      e.data.insert(e.data.end(), data, data + pack);
      ++e.parts;
      runningCrc = UpdateCrc32(runningCrc, data, pack);
      continuing = (flags & 0x02) != 0;
      // A reader checks the entry against the header it holds when the data runs out, so the
      // last part must carry the whole entry's checksum; earlier ones carry their own.
      EXPECT_EQ(Get32(v, at + 16), continuing ? Crc(data, pack) : ~runningCrc) << entryName;
      if (!continuing) {
        EXPECT_EQ(e.data.size(), e.unpSize) << entryName;
      }
      lastFlags = flags;
      firstBlock = false;
      at += headSize + pack;
    }
    const bool more = fs::exists(NextVolumeName(name));
    EXPECT_EQ(more, (lastFlags & 0x02) != 0) << name << ": a volume with a successor must end in a continuing entry";
    EXPECT_EQ(volumeFlag, volumes > 1 || more) << name;
    if (!more) break;
  }
  if (volumeCount != nullptr) *volumeCount = volumes;
  return entries;
}

void WriteFile(const fs::path& p, std::size_t size, unsigned seed) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>((i * 131 + seed * 7 + (i >> 7)) & 0xFF));
}

// Packs `root` (one top-level argument) and checks that every file and directory comes back.
void RoundTrip(const std::string& archive, const fs::path& root, std::uint64_t volumeSize,
               std::size_t* volumes = nullptr, std::uint8_t hostOs = kHostWindows) {
  PackOptions options;
  options.volumeSize = volumeSize;
  options.hostOs = hostOs;
  std::vector<PackSource> sources;
  std::vector<VolumePlan> plan;
  std::vector<std::string> written;
  std::string error;
  ASSERT_TRUE(CollectSources({root.string()}, options, sources, error)) << error;
  ASSERT_TRUE(PlanVolumes(sources, volumeSize, plan, error)) << error;
  ASSERT_TRUE(WriteVolumes(archive, sources, plan, options, written, error)) << error;
  std::size_t count = 0;
  const std::vector<ReadEntry> entries = ReadSet(archive, volumeSize, &count);
  EXPECT_EQ(count, written.size());
  EXPECT_EQ(count, plan.size());
  if (volumes != nullptr) *volumes = count;

  std::map<std::string, fs::path> expected;
  const std::string top = root.filename().string();
  expected[top] = root;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string rel = top + "\\" + fs::relative(item.path(), root).string();
    for (char& c : rel)
      if (c == '/') c = '\\';
    expected[rel] = item.path();
  }
  ASSERT_EQ(entries.size(), expected.size());
  for (const ReadEntry& e : entries) {
    ASSERT_TRUE(expected.count(e.name)) << "unexpected entry " << e.name;
    const fs::path& p = expected[e.name];
    EXPECT_EQ(e.hostOs, hostOs);
    if (fs::is_directory(p)) {
      EXPECT_EQ(e.firstFlags & 0xE0, 0xE0) << e.name;
      if (hostOs == kHostWindows) {
        EXPECT_EQ(e.attributes, 0x10u) << e.name;
      }
      EXPECT_TRUE(e.data.empty());
    } else {
      EXPECT_EQ(e.data, ReadWholeFile(p.string())) << e.name;
      EXPECT_EQ(e.firstFlags & 0xE0, 0) << e.name;
    }
  }
}

TEST(NextVolumeName, FollowsTheNamingRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"korvane.rar", "korvane.r00"}, {"korvane.r00", "korvane.r01"}, {"a.r09", "a.r10"},
      {"a.r99", "a.s00"},             {"data", "data.r00"},           {"setup.EXE", "setup.r00"},
      {"a.", "a.r00"},                {"a.998", "a.999"},             {"a.999", "a.A00"},
      {"x.z", "x.z00"},               {"dir.v1/set.rar", "dir.v1/set.r00"}, {"d\\s.r05", "d\\s.r06"},
  };
  for (const auto& [from, to] : cases) EXPECT_EQ(NextVolumeName(from), to) << from;
}

// Families of payload shapes, each packed whole and at several volume sizes.
struct Shape {
  const char* label;
  void (*make)(const fs::path& root);
};

const Shape kShapes[] = {
    {"empty file", [](const fs::path& r) { WriteFile(r / "zero.bin", 0, 1); }},
    {"one byte", [](const fs::path& r) { WriteFile(r / "one.bin", 1, 2); }},
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
       WriteFile(r / "z last.bin", 2, 8);
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

class PackerShapes : public ::testing::TestWithParam<std::tuple<int, std::uint64_t>> {};

TEST_P(PackerShapes, RoundTripsThroughTheIndependentReader) {
  const auto [shape, volumeSize] = GetParam();
  TempDir dir;
  const fs::path root = fs::path(dir.Path()) / "payload";
  fs::create_directories(root);
  kShapes[shape].make(root);
  SCOPED_TRACE(kShapes[shape].label);
  RoundTrip(dir.File("set.rar"), root, volumeSize);
}

// 0: no volumes; 700: near the minimum for these names (~20 + 2 * 300); larger sizes cut the
// data at many different places.
INSTANTIATE_TEST_SUITE_P(Sizes, PackerShapes,
                         ::testing::Combine(::testing::Range(0, 6),
                                            ::testing::Values<std::uint64_t>(0, 700, 701, 997, 4096)));

TEST(Packer, SpansManyVolumesAndKeepsUnixModes) {
  TempDir dir;
  const fs::path root = fs::path(dir.Path()) / "big";
  WriteFile(root / "span.bin", 50000, 9);
  std::size_t volumes = 0;
  RoundTrip(dir.File("span.rar"), root, 300, &volumes, kHostUnix);
  EXPECT_GE(volumes, 50000u / 300u);
  EXPECT_TRUE(fs::exists(dir.File("span.r99")));
  EXPECT_TRUE(fs::exists(dir.File("span.s00")));  // past .r99 the letter counts on
}

// A file whose header and data fill the first volume to the byte, alone and followed by more.
TEST(Packer, FileThatFillsAVolumeExactly) {
  TempDir dir;
  const fs::path root = fs::path(dir.Path()) / "x";
  const std::uint64_t volume = 1000;
  // Volume = 20 lead bytes + directory header (32 + 1) + file header (32 + 6 for "x\\full") + data.
  WriteFile(root / "full", volume - 20 - 33 - 38, 10);
  std::size_t volumes = 0;
  RoundTrip(dir.File("one.rar"), root, volume, &volumes);
  EXPECT_EQ(volumes, 1u);
  EXPECT_EQ(fs::file_size(dir.File("one.rar")), volume);

  WriteFile(root / "more", 5, 11);
  RoundTrip(dir.File("two.rar"), root, volume, &volumes);
  EXPECT_EQ(volumes, 2u);  // the full file hands its last byte on so that the reader follows
}

TEST(Packer, ReadOnlyAndDirectoryAttributesForWindows) {
  TempDir dir;
  const fs::path root = fs::path(dir.Path()) / "attrs";
  WriteFile(root / "ro.txt", 4, 12);
  WriteFile(root / "rw.txt", 4, 13);
  fs::permissions(root / "ro.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  PackOptions options;
  options.hostOs = kHostWindows;
  options.fixedDosTime = DosTime(1998, 6, 13, 19, 58, 42);
  std::vector<PackSource> sources;
  std::string error;
  ASSERT_TRUE(CollectSources({root.string()}, options, sources, error)) << error;
  ASSERT_EQ(sources.size(), 3u);
  EXPECT_EQ(sources[0].attributes, 0x10u);
  EXPECT_EQ(sources[1].name, "attrs\\ro.txt");
  EXPECT_EQ(sources[1].attributes, 0x21u);
  EXPECT_EQ(sources[2].attributes, 0x20u);
  // 1998-06-13 19:58:42 in MS-DOS form: year 18, month 6, day 13, 19:58, 21 two-second units.
  EXPECT_EQ(sources[1].dosTime, (18u << 25) | (6u << 21) | (13u << 16) | (19u << 11) | (58u << 5) | 21u);
  fs::permissions(root / "ro.txt", fs::perms::owner_write, fs::perm_options::add);
}

TEST(Packer, VolumeSizeForCountHitsTheCount) {
  TempDir dir;
  const fs::path root = fs::path(dir.Path()) / "count";
  WriteFile(root / "a.bin", 30000, 14);
  WriteFile(root / "b dir" / "b.bin", 7000, 15);
  fs::create_directories(root / "empty");
  PackOptions options;
  std::vector<PackSource> sources;
  std::string error;
  ASSERT_TRUE(CollectSources({root.string()}, options, sources, error));
  for (std::size_t want : {2u, 7u, 20u, 54u}) {
    const auto size = VolumeSizeForCount(sources, want);
    ASSERT_TRUE(size.has_value()) << want;
    std::vector<VolumePlan> plan;
    ASSERT_TRUE(PlanVolumes(sources, *size, plan, error));
    EXPECT_EQ(plan.size(), want);
  }
  EXPECT_FALSE(VolumeSizeForCount(sources, 100000).has_value());
}

TEST(Packer, TooSmallVolumesAreRefused) {
  TempDir dir;
  WriteFile(fs::path(dir.Path()) / "t" / "f", 100, 16);
  std::vector<PackSource> sources;
  std::vector<VolumePlan> plan;
  std::string error;
  ASSERT_TRUE(CollectSources({dir.File("t")}, PackOptions{}, sources, error));
  EXPECT_FALSE(PlanVolumes(sources, MinimumVolumeSize(sources) - 1, plan, error));
  EXPECT_NE(error.find("too small"), std::string::npos);
  EXPECT_TRUE(PlanVolumes(sources, MinimumVolumeSize(sources), plan, error));
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(dir)) names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Packer, FailuresLeaveNothingBehind) {
  TempDir dir;
  const fs::path root = fs::path(dir.Path()) / "in";
  WriteFile(root / "f.bin", 5000, 17);
  const std::string out = dir.File("out");
  fs::create_directories(out);
  std::vector<PackSource> sources;
  std::vector<VolumePlan> plan;
  std::vector<std::string> written;
  std::string error;

  EXPECT_FALSE(CollectSources({root.string(), dir.File("missing")}, PackOptions{}, sources, error));
  EXPECT_NE(error.find("cannot find"), std::string::npos) << error;

  // The fourth volume's name is taken by a directory: the first three are already complete
  // when the rename fails, and must go as well.
  ASSERT_TRUE(CollectSources({root.string()}, PackOptions{}, sources, error));
  ASSERT_TRUE(PlanVolumes(sources, 1000, plan, error));
  fs::create_directories(out + "/set.r02/blocker");
  EXPECT_FALSE(WriteVolumes(out + "/set.rar", sources, plan, PackOptions{}, written, error));
  EXPECT_EQ(Listing(out), std::vector<std::string>{"set.r02"});
  EXPECT_TRUE(written.empty());

  // A source that vanishes between collecting and writing.
  fs::remove(root / "f.bin");
  EXPECT_FALSE(WriteVolumes(out + "/gone.rar", sources, plan, PackOptions{}, written, error));
  EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
  EXPECT_EQ(Listing(out), std::vector<std::string>{"set.r02"});

  // An output folder that does not exist.
  WriteFile(root / "f.bin", 10, 18);
  ASSERT_TRUE(CollectSources({root.string()}, PackOptions{}, sources, error));
  ASSERT_TRUE(PlanVolumes(sources, 0, plan, error));
  EXPECT_FALSE(WriteVolumes(dir.File("no/such/dir/x.rar"), sources, plan, PackOptions{}, written, error));
}

#ifndef _WIN32
TEST(Packer, UnreadableFileIsAnErrorBeforeAnythingIsWritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  const fs::path root = fs::path(dir.Path()) / "in";
  WriteFile(root / "secret", 10, 19);
  fs::permissions(root / "secret", fs::perms::none);
  std::vector<PackSource> sources;
  std::string error;
  EXPECT_FALSE(CollectSources({root.string()}, PackOptions{}, sources, error));
  EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
  fs::permissions(root / "secret", fs::perms::owner_all);
}

TEST(Packer, FifoIsRefused) {
  TempDir dir;
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<PackSource> sources;
  std::string error;
  EXPECT_FALSE(CollectSources({fifo}, PackOptions{}, sources, error));
  EXPECT_NE(error.find("neither a file nor a directory"), std::string::npos) << error;
}
#endif

// Layout invariants over many random entry lists and volume sizes: volumes within the size,
// parts of an entry contiguous and flagged in order, every volume but the last ending inside a
// continuing entry, and the checksum a reader checks (that of the last part holding data, or of
// the first part) always being the whole entry's.
TEST(PlanVolumes, InvariantsHoldForRandomLayouts) {
  std::mt19937 random(1998);
  for (int round = 0; round < 3000; ++round) {
    std::vector<PackSource> sources;
    const int count = 1 + int(random() % 12);
    for (int i = 0; i < count; ++i) {
      PackSource s;
      s.name = std::string(1 + random() % 60, 'n') + std::to_string(i);
      s.directory = random() % 4 == 0;
      const unsigned pick = random() % 5;
      s.size = s.directory ? 0 : pick == 0 ? 0 : pick == 1 ? 1 + random() % 3 : random() % 6000;
      sources.push_back(s);
    }
    const std::uint64_t minimum = MinimumVolumeSize(sources);
    const std::uint64_t volumeSize = random() % 3 == 0 ? 0 : minimum + random() % 3000;
    std::vector<VolumePlan> plan;
    std::string error;
    ASSERT_TRUE(PlanVolumes(sources, volumeSize, plan, error)) << error;
    std::vector<std::vector<PartPlan>> byEntry(sources.size());
    for (std::size_t v = 0; v < plan.size(); ++v) {
      std::uint64_t bytes = 20;
      ASSERT_FALSE(plan[v].parts.empty());
      for (const PartPlan& p : plan[v].parts) {
        bytes += 32 + sources[p.entry].name.size() + p.size;
        byEntry[p.entry].push_back(p);
      }
      EXPECT_EQ(bytes, plan[v].bytes);
      if (volumeSize != 0) {
        EXPECT_LE(bytes, volumeSize);
      }
      EXPECT_EQ(plan[v].parts.back().continuesInNext, v + 1 < plan.size()) << "round " << round << " volume " << v;
      if (v > 0) {
        EXPECT_TRUE(plan[v].parts.front().continuesFromPrevious);
      }
    }
    for (std::size_t e = 0; e < sources.size(); ++e) {
      const auto& parts = byEntry[e];
      ASSERT_FALSE(parts.empty());
      std::uint64_t offset = 0;
      std::size_t lastWithData = 0;
      for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].offset, offset);
        EXPECT_EQ(parts[i].continuesFromPrevious, i > 0);
        EXPECT_EQ(parts[i].continuesInNext, i + 1 < parts.size());
        offset += parts[i].size;
        if (parts[i].size) lastWithData = i;
      }
      EXPECT_EQ(offset, sources[e].size);
      // Parts after the last one with data carry no bytes; the reader judges the entry by the
      // header it holds when the data runs out, so that part must be the first or the last.
      EXPECT_TRUE(lastWithData == 0 || lastWithData + 1 == parts.size()) << "round " << round << " entry " << e;
    }
  }
}

}  // namespace
}  // namespace korvane::packer
