// Prints how our packer compares with the original archiver of the 1990s on the corpus's
// format 2.0 archives: every unencrypted compressed entry of a good archive is unpacked by
// our unpacker and packed again (solid archives solid, the others entry by entry), and the
// packed bytes are set against those the original wrote. Not a test: a table for the notes.
//   pack_ratio [LEVEL...]   (default: 3 5)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/round_trip.h"
#include "tests/support/corpus.h"
#include "tests/support/memory_io.h"
#include "tests/support/archive_bytes.h"
#include "unpack/unpack.h"

using namespace korvane;
using namespace korvane::testing;

namespace {

struct Archive {
  std::string file;
  bool solid = false;
  std::vector<Bytes> contents;
  std::uint64_t unpacked = 0;
  std::uint64_t original = 0;  // the original archiver's packed bytes of those entries
};

// The compressed format 2.0 entries of the good archives, unpacked and checked.
std::vector<Archive> LoadArchives() {
  std::vector<Archive> list;
  for (ManifestRow& row : ReadManifest(CorpusDir() + "/rar/MANIFEST.tsv")) {
    const std::string& notes = row["notes"];
    if ((row["volume_flags"] != "-" && row["volume_flags"] != "vol(first)") || row["layout"] != "new" ||
        notes.find("CRAFTED") != notes.npos || notes.find("DERIVED") != notes.npos)
      continue;
    const RawArchive raw = ReadArchiveSet(CorpusDir() + "/rar/" + row["file"], true);
    Archive a{.file = row["file"], .solid = raw.Solid, .contents = {}};
    UnpackFixture fixture;
    for (const RawEntry& e : raw.Entries) {
      if (e.Directory() || e.UnpVer <= 15 || e.UnpVer > 20 || e.Method == 0x30) continue;
      MemoryUnpackIo io(e.Packed, static_cast<std::int32_t>(e.UnpSize));
      UnpackFormat20(fixture.s(), io, fixture.Window.data(), e.SolidFlag());
      if (e.Encrypted() || Crc32Of(io.Output) != e.FileCrc) continue;
      a.original += e.Packed.size();
      a.unpacked += io.Output.size();
      a.contents.push_back(std::move(io.Output));
    }
    if (!a.contents.empty()) list.push_back(std::move(a));
  }
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> levels;
  for (int i = 1; i < argc; ++i) levels.push_back(std::atoi(argv[i]));
  if (levels.empty()) levels = {3, 5};
  const std::vector<Archive> archives = LoadArchives();
  std::printf("%-50s %5s %8s %9s", "archive", "solid", "unpacked", "original");
  for (int level : levels) std::printf("   -m%d  ratio", level);
  std::printf("\n");
  std::uint64_t unpackedTotal = 0, originalTotal = 0;
  std::vector<std::uint64_t> ours(levels.size(), 0);
  std::vector<double> seconds(levels.size(), 0);
  for (const Archive& a : archives) {
    unpackedTotal += a.unpacked;
    originalTotal += a.original;
    std::printf("%-50s %5s %8llu %9llu", a.file.c_str(), a.solid ? "yes" : "no",
                static_cast<unsigned long long>(a.unpacked), static_cast<unsigned long long>(a.original));
    for (std::size_t l = 0; l < levels.size(); ++l) {
      pack::EncoderSettings settings;
      settings.Level = levels[l];
      const auto start = std::chrono::steady_clock::now();
      const std::vector<PackedEntry> packed = PackEntries(a.contents, settings, a.solid);
      seconds[l] += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (UnpackEntries(packed, a.contents) != a.contents) {
        std::printf("\nround trip failed for %s at -m%d\n", a.file.c_str(), levels[l]);
        return 1;
      }
      std::uint64_t size = 0;
      for (const PackedEntry& p : packed) size += p.packed.size();
      ours[l] += size;
      std::printf(" %7llu %5.3f", static_cast<unsigned long long>(size), static_cast<double>(size) / a.original);
    }
    std::printf("\n");
  }
  std::printf("%-50s %5s %8llu %9llu", "total", "", static_cast<unsigned long long>(unpackedTotal),
              static_cast<unsigned long long>(originalTotal));
  for (std::size_t l = 0; l < levels.size(); ++l)
    std::printf(" %7llu %5.3f", static_cast<unsigned long long>(ours[l]), static_cast<double>(ours[l]) / originalTotal);
  std::printf("\n%-50s", "seconds");
  for (std::size_t l = 0; l < levels.size(); ++l) std::printf("   -m%d %.2f", levels[l], seconds[l]);
  std::printf("\n");
  return 0;
}
