// Real modules from the shared corpus: the loader's facts against the manifest (written by
// an independent parser), a minute of rendering for every file, traps included, the exact
// output of a few, and the plausibility check.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "player/mod_player.h"
#include "player/module_check.h"
#include "tests/support/corpus.h"

namespace korvane {
namespace {

using namespace testing;

// Every file, traps included, either is refused or loads and renders without a sanitizer
// report; songs with sample data must make some sound in the first minute. The command-line
// player's plausibility check takes every real module. Traps' facts are another reader's.
// The first half minute of a few modules (4, 6 and 8 channels, 15 samples, loop and offset
// quirks) is compared as CRC-32 of the PCM, taken from the renderer before its speed work:
// tuning the mixer must not change a single sample.
TEST(PlayerCorpus, EveryModuleLoadsAsTheManifestSaysAndRendersSafely) {
  if (!HaveCorpus()) GTEST_SKIP() << "no module corpus";
  const std::map<std::string, std::uint32_t> crcs = {
      {"qb64mp__space_debris.mod", 0xD142C2ACu},          {"libxmp__cant.mod", 0x17D3D4EBu},
      {"qb64mp__starg12.mod", 0xEECC2A5Du},               {"qb64mp__necros-the_traveler.mod", 0xB41DA49Eu},
      {"qb64mp__SampleLoopQuirks.fst.mod", 0x54ED63D6u},  {"qb64mp__SetSampleOffsetQuirks.mod", 0x297FF0B0u},
      {"qb64mp__offsetweird.mod", 0x299EAB00u}};
  std::vector<std::uint8_t> pcm(kBlockBytes);
  int checked = 0;
  std::size_t compared = 0;
  for (const ManifestRow& row : ReadManifest(CorpusDir() + "/mod/MANIFEST.tsv")) {
    const std::string& file = row.at("file");
    const bool trap = row.at("category") == "trap";
    std::vector<std::uint8_t> bytes = ReadWholeFile(CorpusDir() + "/mod/" + file);
    bytes.shrink_to_fit();  // exact size: a read past the module's end leaves the allocation
    EXPECT_TRUE(trap || LooksLikeModule(bytes.data(), bytes.size())) << file;
    ModPlayer p;
    if (LoadModule(p, bytes) == 0) {
      EXPECT_TRUE(trap) << file << " was refused";
      continue;
    }
    if (!trap) {
      const std::string signature = row.at("signature") == "(none)" ? "" : row.at("signature");
      EXPECT_EQ(p.signature, signature) << file;
      EXPECT_EQ(p.sampleSlots, signature.empty() ? 16 : 32) << file;
      long long withData = 0, sampleBytes = 0;
      for (int s = 1; s < p.sampleSlots; ++s) {
        withData += p.samples[s].length > 0;
        sampleBytes += p.samples[s].length;
      }
      const std::pair<const char*, long long> facts[] = {{"channels", p.channelCount}, {"songLength", p.songLength},
                                                         {"patterns", p.patternCount}, {"samples_with_data", withData},
                                                         {"sample_bytes", sampleBytes}};
      for (const auto& [column, value] : facts)
        EXPECT_EQ(std::to_string(value), row.at(column)) << file << " " << column;
      ++checked;
    }
    ASSERT_EQ(ResetPlayState(p), 1) << file;
    bool sound = false;
    std::uint32_t running = 0xFFFFFFFFu;
    for (int b = 0; b < 120; ++b) {
      ASSERT_EQ(RenderBlock(p, pcm.data()), 1) << file;
      sound = sound || std::any_of(pcm.begin(), pcm.end(), [](std::uint8_t byte) { return byte != 0; });
      if (b < 60) running = UpdateCrc32(running, pcm);
    }
    EXPECT_TRUE(sound || row.at("category") != "music") << file << " stayed silent";
    if (crcs.count(file)) {
      EXPECT_EQ(~running, crcs.at(file)) << file;
      ++compared;
    }
  }
  EXPECT_GT(checked, 100);
  EXPECT_EQ(compared, crcs.size());
}

// The plausibility check refuses the other files of the corpus (archives, pictures, manifests)
// as well as 15-sample headers spoilt in each of the ways it looks for.
TEST(PlayerCorpus, PlausibilityCheckRefusesOtherFiles) {
  if (!HaveCorpus()) GTEST_SKIP() << "no module corpus";
  for (const char* other : {"/rar/MANIFEST.tsv", "/mod/MANIFEST.tsv", "/rar/dos250__SOLID.RAR", "/pcx/MANIFEST.tsv"}) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(CorpusDir() + other);
    EXPECT_FALSE(LooksLikeModule(bytes.data(), bytes.size())) << other;
  }
  const std::vector<std::uint8_t> m15 = ReadWholeFile(CorpusDir() + "/mod/libxmp__cant.mod");
  ASSERT_TRUE(LooksLikeModule(m15.data(), m15.size()));
  const struct {
    std::size_t offset;
    std::uint8_t value;
  } spoilt[] = {{20 + 24, 16}, {20 + 14 * 30 + 25, 65}, {470, 0}, {470, 129}, {472, 128}, {599, 127}};
  for (const auto& s : spoilt) {
    std::vector<std::uint8_t> bytes = m15;
    bytes[s.offset] = s.value;
    EXPECT_FALSE(LooksLikeModule(bytes.data(), bytes.size())) << s.offset << " = " << int{s.value};
  }
  EXPECT_FALSE(LooksLikeModule(m15.data(), 600 + 1024));  // patterns missing
}

}  // namespace
}  // namespace korvane
