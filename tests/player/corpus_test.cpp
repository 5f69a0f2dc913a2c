// Real modules from the shared corpus: the loader's facts against the manifest (written by
// an independent parser), and a stretch of rendering for every file, traps included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/mod_player.h"
#include "tests/support/corpus.h"

#ifndef KORVANE_PLAYER_CORPUS_SECONDS
#define KORVANE_PLAYER_CORPUS_SECONDS 60
#endif

namespace korvane {
namespace {

using testing::CorpusDir;
using testing::HaveCorpus;
using testing::ManifestRow;
using testing::ReadManifest;
using testing::ReadWholeFile;

std::vector<ManifestRow> Modules() {
  if (!HaveCorpus()) return {};
  return ReadManifest(CorpusDir() + "/mod/MANIFEST.tsv");
}

TEST(PlayerCorpus, LoaderFactsMatchTheManifest) {
  const std::vector<ManifestRow> rows = Modules();
  if (rows.empty()) GTEST_SKIP() << "no module corpus";
  int checked = 0;
  for (const ManifestRow& row : rows) {
    const std::string& file = row.at("file");
    if (row.at("category") == "trap") continue;  // their facts are another reader's
    std::vector<std::uint8_t> bytes = ReadWholeFile(CorpusDir() + "/mod/" + file);
    ASSERT_FALSE(bytes.empty()) << file;
    ModPlayer p;
    ASSERT_EQ(LoadModule(p, bytes.data(), bytes.size()), 1) << file;
    const std::string signature = row.at("signature") == "(none)" ? "" : row.at("signature");
    EXPECT_EQ(p.signature, signature) << file;
    EXPECT_EQ(p.sampleSlots, signature.empty() ? 16 : 32) << file;
    EXPECT_EQ(std::to_string(p.channelCount), row.at("channels")) << file;
    EXPECT_EQ(std::to_string(p.songLength), row.at("songLength")) << file;
    EXPECT_EQ(std::to_string(p.patternCount), row.at("patterns")) << file;
    int withData = 0;
    long long sampleBytes = 0;
    for (int s = 1; s < p.sampleSlots; ++s) {
      if (p.samples[s].length > 0) ++withData;
      sampleBytes += p.samples[s].length;
    }
    EXPECT_EQ(std::to_string(withData), row.at("samples_with_data")) << file;
    EXPECT_EQ(std::to_string(sampleBytes), row.at("sample_bytes")) << file;
    ++checked;
  }
  EXPECT_GT(checked, 100);
}

// Every file, traps included, either is refused or loads and renders without a sanitizer
// report; songs with sample data must make some sound in the first minute.
TEST(PlayerCorpus, EveryModuleRendersSafely) {
  const std::vector<ManifestRow> rows = Modules();
  if (rows.empty()) GTEST_SKIP() << "no module corpus";
  const int blocks = KORVANE_PLAYER_CORPUS_SECONDS * 2;
  std::vector<std::uint8_t> pcm(kBlockBytes);
  for (const ManifestRow& row : rows) {
    const std::string& file = row.at("file");
    std::vector<std::uint8_t> bytes = ReadWholeFile(CorpusDir() + "/mod/" + file);
    // An exact-size copy: a read past the module's end leaves the allocation.
    std::vector<std::uint8_t> exact(bytes.begin(), bytes.end());
    exact.shrink_to_fit();
    ModPlayer p;
    if (LoadModule(p, exact.data(), exact.size()) == 0) {
      EXPECT_EQ(row.at("category"), "trap") << file << " was refused";
      continue;
    }
    ASSERT_EQ(ResetPlayState(p), 1) << file;
    bool sound = false;
    for (int b = 0; b < blocks; ++b) {
      ASSERT_EQ(RenderBlock(p, pcm.data()), 1) << file;
      if (!sound)
        for (std::uint8_t byte : pcm)
          if (byte != 0) {
            sound = true;
            break;
          }
    }
    if (row.at("category") == "music") {
      EXPECT_TRUE(sound) << file << " stayed silent";
    }
  }
}

}  // namespace
}  // namespace korvane
