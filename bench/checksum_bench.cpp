// Checksum throughput (our CRC-32, its table path alone, and zlib's; the old 16-bit sum) and the
// engine's decode throughput per unpacker format: whole test runs over corpus archives,
// counted in bytes of output.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/checksum.h"
#include "engine/archive_reader.h"
#include "engine/extraction.h"
#include "engine/job.h"
#include "unpack/unpack_state.h"

namespace {

std::vector<std::uint8_t> Noise(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = 12345;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

template <std::uint32_t (*Update)(std::uint32_t, const std::uint8_t*, std::size_t)>
void BM_Crc32(benchmark::State& state) {
  const auto data = Noise(static_cast<std::size_t>(state.range(0)));
  std::uint32_t crc = 0xFFFFFFFFu;
  for (auto _ : state) {
    crc = Update(crc, data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Crc32<korvane::UpdateCrc32>)->Name("BM_UpdateCrc32")->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_Crc32<korvane::UpdateCrc32Table>)->Name("BM_UpdateCrc32Table")->Arg(4096)->Arg(1 << 20);

void BM_ZlibCrc32(benchmark::State& state) {
  const auto data = Noise(static_cast<std::size_t>(state.range(0)));
  uLong crc = crc32(0L, Z_NULL, 0);
  for (auto _ : state) {
    crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ZlibCrc32)->Arg(4096)->Arg(1 << 20);

void BM_UpdateOldChecksum(benchmark::State& state) {
  const auto data = Noise(1 << 20);
  std::uint16_t sum = 0;
  for (auto _ : state) {
    sum = korvane::UpdateOldChecksum(sum, data.data(), data.size());
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * (1 << 20));
}
BENCHMARK(BM_UpdateOldChecksum);

class NullHost final : public korvane::Host {
 public:
  void Tell(korvane::Notice, const char*) override {}
  bool Ask(korvane::Question, const char*) override { return true; }
  void ShowProgress() override {}
  void ReportStatus(korvane::Status status) override { Ok += status == korvane::Status::kExtrOk; }
  int Ok = 0;
};

// Test runs over archives whose entries all use one format; output bytes per second.
void RunCorpus(benchmark::State& state, const std::vector<std::pair<std::string, std::uint64_t>>& archives) {
  auto unpack = std::make_unique<korvane::UnpackState>();
  auto job = std::make_unique<korvane::ExtractionJob>();
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    for (const auto& [name, unpacked] : archives) {
      NullHost host;
      korvane::ArchiveReader reader(host);
      const std::string path = std::string(KORVANE_CORPUS) + "/rar/" + name;
      std::snprintf(job->ArchiveName, sizeof job->ArchiveName, "%s", path.c_str());
      job->Stop(korvane::AbortState::kRunning);
      job->CurrentVolume = 1;
      if (korvane::RunExtraction(reader, *unpack, *job) == 0 || job->ErrorCount != 0) {
        state.SkipWithError(("corpus archive did not test clean: " + name).c_str());
        return;
      }
      bytes += unpacked;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_DecodeFormat20(benchmark::State& state) {
  RunCorpus(state, {{"dos250__BIGLZ.RAR", 167936},
                    {"music__mm.rar", 99072},
                    {"fixa__BoatModernEnglish-regular-unpack20.rar", 56571},
                    {"fixc__Rar2.rar", 100926}});
}
BENCHMARK(BM_DecodeFormat20)->Unit(benchmark::kMillisecond);

void BM_DecodeMultimedia(benchmark::State& state) {
  RunCorpus(state, {{"dos250__AUDIO.RAR", 32768}, {"fixa__BoatModernEnglish-audio-text-unpack20.rar", 56571}});
}
BENCHMARK(BM_DecodeMultimedia)->Unit(benchmark::kMillisecond);

void BM_DecodeFormat15(benchmark::State& state) {
  RunCorpus(state, {{"win154__random.rar", 2097152},
                    {"fixc__Rar15.rar", 100926},
                    {"fixa__BoatModernEnglish-regular-unpack15-win.rar", 56571},
                    {"dos1402__BIG80K.RAR", 81920}});
}
BENCHMARK(BM_DecodeFormat15)->Unit(benchmark::kMillisecond);

void BM_DecodeStored(benchmark::State& state) {
  RunCorpus(state, {{"fixc__Rar.none.rar", 100926}, {"mixed__rar250_protect_head_rr5.rar", 102400}});
}
BENCHMARK(BM_DecodeStored)->Unit(benchmark::kMillisecond);

}  // namespace
