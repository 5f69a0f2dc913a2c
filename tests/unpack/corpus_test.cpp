// The decoders' proof on real data, without the engine around them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>

#include "engine/checksum.h"
#include "tests/support/archive_bytes.h"
#include "tests/support/corpus.h"
#include "tests/support/memory_io.h"
#include "unpack/unpack.h"

namespace korvane::testing {
namespace {

// Every entry of versions 13 to 20, decoded the way the driver does it (one state record across
// an archive's entries, the driver's solid rules), matches its stored checksum (an encrypted one
// cannot without its password); multimedia entries go through the predictor, not merely through
// LZ blocks. Damaged and crafted archives only have to decode without a crash. The counts guard
// against passing vacuously: both unpackers, solid continuation and volume sets.
TEST(UnpackCorpus, EntriesMatchTheirStoredChecksums) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus absent";
  const std::map<std::string, std::string> multimedia = {
      {"fixa__BoatModernEnglish-audio-text-unpack20.rar", "BoatModernEnglish.wav"},
      {"music__test_v2.rar", "pMM.bin"},
      {"music__mm.rar", "1.M"},
      {"dos250__AUDIO.RAR", "PCM_LR.WAV"}};
  std::map<std::string, int> verified;
  for (ManifestRow& row : ReadManifest(CorpusDir() + "/rar/MANIFEST.tsv")) {
    const std::string &file = row["file"], &volume = row["volume_flags"], &notes = row["notes"];
    if (volume.find("middle") != volume.npos || volume.find("last") != volume.npos) continue;
    const bool volumeSet = volume.find("first") != volume.npos;  // name.r00, name.r01, ... joined
    const bool negative = notes.find("CRAFTED") != notes.npos || notes.find("DERIVED") != notes.npos;
    SCOPED_TRACE(file);
    const RawArchive archive = ReadArchiveSet(CorpusDir() + "/rar/" + file, volumeSet);
    UnpackFixture f;
    int entriesSinceOpen = 0;
    for (const RawEntry& e : archive.Entries) {
      if (e.Directory() || e.UnpVer < 13 || e.UnpVer > 20) continue;
      ++entriesSinceOpen;
      const int format = e.Method == 0x30 ? 0 : e.UnpVer > 15 ? 20 : 15;  // 0 when stored
      std::uint32_t predicted = 0;  // bytes the multimedia predictor gave since the state's last reset
      std::vector<std::uint8_t> output;
      if (format == 0) {
        output.assign(e.Packed.begin(), e.Packed.begin() + std::min<std::size_t>(e.Packed.size(), e.UnpSize));
      } else {
        MemoryUnpackIo io(e.Packed, static_cast<std::int32_t>(e.UnpSize));
        if (format == 20) {
          UnpackFormat20(f.s(), io, f.Window.data(), e.SolidFlag());
          for (const AudioChannelState& channel : f.s().AudioStates) predicted += channel.SampleCount;
        } else {
          UnpackFormat15(f.s(), io, f.Window.data(), archive.Solid && entriesSinceOpen > 1);
        }
        output = std::move(io.Output);
      }
      // Crafted and derived archives are decoded too: anything may come out, nothing may crash.
      if (negative) continue;
      const std::uint32_t checksum =
          archive.OldLayout ? UpdateOldChecksum(0, output.data(), output.size()) : Crc32Of(output);
      if (e.Encrypted()) {
        EXPECT_NE(checksum, e.FileCrc) << e.Name;
        continue;
      }
      EXPECT_EQ(checksum, e.FileCrc) << e.Name << " (format " << format << "), " << output.size() << " bytes";
      if (multimedia.count(file) && multimedia.at(file) == e.Name) {
        ++verified[file];
        EXPECT_GT(predicted, 0u);  // counted by the format 2.0 unpacker only
      }
      if (checksum != e.FileCrc || format == 0) continue;
      ++verified["format" + std::to_string(format)];
      if (file.find("SOLID") != std::string::npos || file.find("solid") != std::string::npos)
        ++verified["solid" + std::to_string(format)];
      if (volumeSet) ++verified["volumes"];
    }
  }
  EXPECT_GE(verified["format15"], 15);
  EXPECT_GE(verified["format20"], 20);
  EXPECT_GE(verified["solid15"], 4);
  EXPECT_GE(verified["solid20"], 2);
  EXPECT_GE(verified["volumes"], 3);
  for (const auto& [file, name] : multimedia) EXPECT_EQ(verified[file], 1) << file;
}

}  // namespace
}  // namespace korvane::testing
