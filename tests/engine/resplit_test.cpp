// Real single-volume archives re-split into volume sets: the decoded result must not depend
// on where the volumes were cut, and broken sets must fail the way a run reports them.
#include "tests/engine/resplit.h"

#include <filesystem>

#include "engine/status.h"
#include "tests/engine/engine_fixture.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

enum class Cuts { kThirds, kInsideOneEntry, kAtEntryEnds, kEvery700Bytes };

std::vector<std::uint64_t> MakeCuts(const ParsedArchive& a, Cuts kind) {
  std::vector<std::uint64_t> cuts;
  const std::uint64_t total = a.PackedTotal();
  if (kind == Cuts::kThirds) cuts = {total / 3, 2 * total / 3};
  if (kind == Cuts::kInsideOneEntry) {  // the largest entry over three volumes, one byte in the first and last
    std::size_t big = 0;
    for (std::size_t i = 0; i < a.entries.size(); ++i)
      if (a.entries[i].data.size() > a.entries[big].data.size()) big = i;
    const std::uint64_t start = a.PackedStart(big), size = a.entries[big].data.size();
    if (size >= 3) cuts = {start + 1, start + size - 1};
  }
  if (kind == Cuts::kAtEntryEnds)
    for (std::size_t i = 0; i + 1 < a.entries.size(); ++i)
      if (!a.entries[i].data.empty()) cuts.push_back(a.PackedStart(i + 1));
  if (kind == Cuts::kEvery700Bytes)
    for (std::uint64_t c = 700; c < total; c += 700) cuts.push_back(c);
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  std::erase_if(cuts, [&](std::uint64_t c) { return c == 0 || c >= total; });
  return cuts;
}

class ResplitTest : public EngineTest {
 protected:
  void SetUp() override {
    if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  }
  // Re-splits the corpus file and writes the set as stem.rar, stem.r00, ...; the volume count.
  std::size_t WriteSet(const std::string& file, Cuts kind, const std::string& stem = "set") {
    const auto parsed = ParseArchive(ReadWholeFile(CorpusDir() + "/rar/" + file));
    EXPECT_TRUE(parsed.has_value());
    const auto cuts = MakeCuts(parsed.value_or(ParsedArchive{}), kind);
    EXPECT_FALSE(cuts.empty());
    const auto volumes = Resplit(parsed.value_or(ParsedArchive{}), cuts);
    EXPECT_EQ(volumes.size(), cuts.size() + 1);
    for (std::size_t i = 0; i < volumes.size(); ++i) Write(VolumeFileName(stem, i), volumes[i]);
    return volumes.size();
  }
};

TEST_F(ResplitTest, SameEntriesPassWhereverTheVolumesAreCut) {
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
    const std::int32_t whole = Run(CorpusDir() + "/rar/" + file, 'T');
    const int wholeOk = host.CountStatus(status::kExtrOk);
    ASSERT_GT(whole, 0);
    ASSERT_EQ(job.ErrorCount, 0);
    const std::string stem = "set" + std::to_string(n++);
    const std::size_t count = WriteSet(file, kind, stem);
    EXPECT_EQ(Run(dir.File(stem + ".rar"), 'T'), whole);
    EXPECT_EQ(host.CountStatus(status::kExtrOk), wholeOk);
    EXPECT_EQ(job.ErrorCount, 0);
    EXPECT_EQ(job.CurrentVolume, static_cast<std::int32_t>(count));
    EXPECT_TRUE(host.boxes.empty());
  }
}

TEST_F(ResplitTest, MissingMiddleVolumeStopsTheRunWithItsMessage) {
  WriteSet("fixc__Rar2.rar", Cuts::kThirds);
  fs::remove(dir.File("set.r00"));
  Run(dir.File("set.rar"), 'T');
  EXPECT_EQ(host.CountBoxes("Cannot find:\n" + dir.File("set.r00")), 1);
  EXPECT_EQ(job.Abort.load(), 1);
  EXPECT_GE(job.ErrorCount, 1);
}

TEST_F(ResplitTest, DamagedMiddleVolumeStopsTheRunWithItsMessage) {
  WriteSet("fixc__Rar15.rar", Cuts::kThirds);
  Bytes garbage = ReadWholeFile(dir.File("set.r00"));
  for (std::size_t i = 0; i < 7 && i < garbage.size(); ++i) garbage[i] ^= 0xFF;
  Write("set.r00", garbage);
  Run(dir.File("set.rar"), 'T');
  EXPECT_TRUE(host.Saw(status::kBadArc));
  EXPECT_EQ(host.CountBoxes("This archive is corrupt:\n" + dir.File("set.r00")), 1);
  EXPECT_EQ(job.Abort.load(), 1);
  EXPECT_GE(job.ErrorCount, 1);
}

TEST_F(ResplitTest, SolidSetOpenedAtALaterVolumeStartsFromTheFirst) {
  const std::int32_t whole = Run(CorpusDir() + "/rar/dos250__SOLID.RAR", 'T');
  WriteSet("dos250__SOLID.RAR", Cuts::kThirds);
  EXPECT_EQ(Run(dir.File("set.r00"), 'T'), whole);
  EXPECT_EQ(job.ErrorCount, 0);
  // Under its self-extracting name, and .rar before .exe.
  fs::copy_file(dir.File("set.rar"), dir.File("set.exe"));
  Write("set.rar", BytesOf("not the first volume"));
  EXPECT_EQ(Run(dir.File("set.r01"), 'T'), 0);
  fs::remove(dir.File("set.rar"));
  EXPECT_EQ(Run(dir.File("set.r01"), 'T'), whole);
  EXPECT_EQ(std::string(job.ArchiveName), dir.File("set.r01"));
  fs::remove(dir.File("set.exe"));
  EXPECT_EQ(Run(dir.File("set.r00"), 'T'), 0);
  EXPECT_TRUE(host.Saw(status::kMissingFirstVolume));
  EXPECT_TRUE(host.Saw(status::kNoFilesFatal));
}

}  // namespace
}  // namespace korvane::testing
