// Real single-volume archives re-split into volume sets: the decoded result must not depend
// on where the volumes were cut, and broken sets must fail the way a run reports them.
#include "tests/engine/resplit.h"

#include <filesystem>

#include "engine/extraction.h"
#include "engine/status.h"
#include "tests/engine/engine_fixture.h"
#include "unpack/unpack_state.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

enum class Cuts { kThirds, kInsideOneEntry, kAtEntryEnds, kEvery700Bytes };

struct SplitCase {
  const char* file;
  Cuts cuts;
};

std::vector<std::uint64_t> MakeCuts(const ParsedArchive& a, Cuts kind) {
  std::vector<std::uint64_t> cuts;
  const std::uint64_t total = a.PackedTotal();
  switch (kind) {
    case Cuts::kThirds:
      cuts = {total / 3, 2 * total / 3};
      break;
    case Cuts::kInsideOneEntry: {
      // The largest entry over three volumes: one byte in the first, one in the last.
      std::size_t big = 0;
      for (std::size_t i = 0; i < a.entries.size(); ++i)
        if (a.entries[i].data.size() > a.entries[big].data.size()) big = i;
      const std::uint64_t start = a.PackedStart(big), size = a.entries[big].data.size();
      if (size >= 3) cuts = {start + 1, start + size - 1};
      break;
    }
    case Cuts::kAtEntryEnds:
      for (std::size_t i = 0; i + 1 < a.entries.size(); ++i)
        if (!a.entries[i].data.empty()) cuts.push_back(a.PackedStart(i + 1));
      break;
    case Cuts::kEvery700Bytes:
      for (std::uint64_t c = 700; c < total; c += 700) cuts.push_back(c);
      break;
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  cuts.erase(std::remove_if(cuts.begin(), cuts.end(), [&](std::uint64_t c) { return c == 0 || c >= total; }), cuts.end());
  return cuts;
}

class ResplitTest : public EngineTest {
 protected:
  void SetUp() override {
    if (!HaveCorpus()) GTEST_SKIP() << "corpus not present";
  }
  ParsedArchive Load(const std::string& file) {
    const auto parsed = ParseArchive(ReadWholeFile(CorpusDir() + "/rar/" + file));
    EXPECT_TRUE(parsed.has_value());
    return parsed.value_or(ParsedArchive{});
  }
  std::size_t WriteSet(const std::vector<Bytes>& volumes, const std::string& stem = "set") {
    for (std::size_t i = 0; i < volumes.size(); ++i) Write(VolumeFileName(stem, i), volumes[i]);
    return volumes.size();
  }
  std::int32_t TestRun(const std::string& path) {
    host.statuses.clear();
    host.boxes.clear();
    SetArchiveName(path);
    job.Abort = 0;
    job.CurrentVolume = 1;
    return RunExtraction(engine, *unpack, 'T', nullptr, job);
  }
  std::unique_ptr<UnpackState> unpack = std::make_unique<UnpackState>();
};

class ResplitEquivalence : public ResplitTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(ResplitEquivalence, SameEntriesPassWhereverTheVolumesAreCut) {
  const std::string original = CorpusDir() + "/rar/" + GetParam().file;
  const std::int32_t whole = TestRun(original);
  const int wholeOk = host.CountStatus(status::kExtrOk);
  ASSERT_GT(whole, 0);
  ASSERT_EQ(job.ErrorCount, 0);

  const ParsedArchive a = Load(GetParam().file);
  const auto cuts = MakeCuts(a, GetParam().cuts);
  ASSERT_FALSE(cuts.empty());
  const std::size_t count = WriteSet(Resplit(a, cuts));
  ASSERT_EQ(count, cuts.size() + 1);
  EXPECT_EQ(TestRun(dir.File("set.rar")), whole);
  EXPECT_EQ(host.CountStatus(status::kExtrOk), wholeOk);
  EXPECT_EQ(job.ErrorCount, 0);
  EXPECT_EQ(job.CurrentVolume, static_cast<std::int32_t>(count));
  EXPECT_TRUE(host.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, ResplitEquivalence,
    ::testing::Values(SplitCase{"fixc__Rar2.rar", Cuts::kThirds}, SplitCase{"fixc__Rar2.rar", Cuts::kAtEntryEnds},
                      SplitCase{"fixc__Rar2.rar", Cuts::kInsideOneEntry}, SplitCase{"fixc__Rar15.rar", Cuts::kThirds},
                      SplitCase{"fixc__Rar15.rar", Cuts::kEvery700Bytes}, SplitCase{"dos250__SOLID.RAR", Cuts::kThirds},
                      SplitCase{"dos250__SOLID.RAR", Cuts::kAtEntryEnds}, SplitCase{"dos250__AUDIO.RAR", Cuts::kEvery700Bytes},
                      SplitCase{"music__test_v2.rar", Cuts::kEvery700Bytes},
                      SplitCase{"music__test_v2.rar", Cuts::kAtEntryEnds}, SplitCase{"dos1402__SOLID.RAR", Cuts::kThirds},
                      SplitCase{"dos1402__SOLID.RAR", Cuts::kAtEntryEnds},
                      SplitCase{"dos1402__BIG80K.RAR", Cuts::kInsideOneEntry},
                      SplitCase{"dos1402__MULTIFIL.RAR", Cuts::kAtEntryEnds},
                      SplitCase{"win154__readme_154_normal.rar", Cuts::kEvery700Bytes}),
    [](const auto& info) {
      std::string n = info.param.file;
      n = n.substr(0, n.find('.'));
      for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return n + "_" + std::to_string(static_cast<int>(info.param.cuts));
    });

TEST_F(ResplitTest, MissingMiddleVolumeStopsTheRunWithItsMessage) {
  const ParsedArchive a = Load("fixc__Rar2.rar");
  WriteSet(Resplit(a, MakeCuts(a, Cuts::kThirds)));
  fs::remove(dir.File("set.r00"));
  TestRun(dir.File("set.rar"));
  EXPECT_EQ(host.CountBoxes("Cannot find:\n" + dir.File("set.r00")), 1);
  EXPECT_EQ(job.Abort.load(), 1);
  EXPECT_GE(job.ErrorCount, 1);
}

TEST_F(ResplitTest, DamagedMiddleVolumeStopsTheRunWithItsMessage) {
  const ParsedArchive a = Load("fixc__Rar15.rar");
  WriteSet(Resplit(a, MakeCuts(a, Cuts::kThirds)));
  Bytes garbage = ReadWholeFile(dir.File("set.r00"));
  for (std::size_t i = 0; i < 7 && i < garbage.size(); ++i) garbage[i] ^= 0xFF;
  Write("set.r00", garbage);
  TestRun(dir.File("set.rar"));
  EXPECT_TRUE(host.Saw(status::kBadArc));
  EXPECT_EQ(host.CountBoxes("This archive is corrupt:\n" + dir.File("set.r00")), 1);
  EXPECT_EQ(job.Abort.load(), 1);
  EXPECT_GE(job.ErrorCount, 1);
}

TEST_F(ResplitTest, SolidSetOpenedAtALaterVolumeStartsFromTheFirst) {
  const std::int32_t whole = TestRun(CorpusDir() + "/rar/dos250__SOLID.RAR");
  const ParsedArchive a = Load("dos250__SOLID.RAR");
  const auto cuts = MakeCuts(a, Cuts::kThirds);
  WriteSet(Resplit(a, cuts));
  EXPECT_EQ(TestRun(dir.File("set.r00")), whole);
  EXPECT_EQ(job.ErrorCount, 0);
  // Under its self-extracting name only.
  fs::rename(dir.File("set.rar"), dir.File("set.exe"));
  EXPECT_EQ(TestRun(dir.File("set.r01")), whole);
  fs::remove(dir.File("set.exe"));
  EXPECT_EQ(TestRun(dir.File("set.r00")), 0);
  EXPECT_TRUE(host.Saw(status::kMissingFirstVolume));
}

}  // namespace
}  // namespace korvane::testing
