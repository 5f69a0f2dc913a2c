// Output throughput of the two unpackers over the real corpus entries of their format, and
// zlib's inflate over the same bytes as a yardstick. Input comes from memory and output is
// only counted, so the figures are the decoders' own (no file or checksum work).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bench/counting_io.h"
#include "tests/support/memory_io.h"
#include "tests/support/archive_bytes.h"
#include "unpack/unpack.h"

namespace {

using korvane::bench::CountingIo;
using korvane::testing::RawArchive;
using korvane::testing::RawEntry;

struct Job {
  const RawEntry* Entry;
  bool Solid;
};

struct FormatSet {
  std::vector<RawArchive> Archives;
  std::vector<std::vector<Job>> Jobs;  // per archive, in order
  std::uint64_t OutputBytes = 0;
};

enum class Kind { kFormat15, kLz20, kMultimedia20 };

// Decodes the jobs in order with fresh state, as the driver would; true when any entry of
// them ends in multimedia mode.
bool UsesMultimedia(const std::vector<Job>& jobs) {
  auto unpackState = std::make_unique<korvane::UnpackState>();
  std::vector<std::uint8_t> window(korvane::kWindowSize);
  bool multimedia = false;
  for (const Job& job : jobs) {
    CountingIo io(job.Entry->Packed, static_cast<std::int32_t>(job.Entry->UnpSize));
    korvane::UnpackFormat20(*unpackState, io, window.data(), job.Solid);
    multimedia = multimedia || unpackState->AudioMode;
  }
  return multimedia;
}

// Every unencrypted compressed entry of the given kind in the good archives, with the
// driver's solid rule, volume sets joined. Format 2.0 archives go to the multimedia set when
// one of their entries ends in multimedia mode, else to the LZ set, so that solid runs stay
// whole.
const FormatSet& Entries(Kind kind) {
  static FormatSet sets[3];
  static bool loaded = false;
  if (!loaded) {
    loaded = true;
    const std::filesystem::path dir = std::filesystem::path(KORVANE_CORPUS) / "rar";
    std::error_code ec;
    std::vector<std::string> files;
    for (const auto& item : std::filesystem::directory_iterator(dir, ec)) {
      const std::string name = item.path().filename().string();
      const std::string ext = name.size() > 4 ? name.substr(name.size() - 4) : "";
      if (name.rfind("damaged__", 0) == 0 || name.find("void-dist") != std::string::npos ||
          name.find("flagsplace") != std::string::npos || name.find("negative") != std::string::npos)
        continue;
      if (ext.size() == 4 && (ext[1] == 'r' || ext[1] == 'R') && std::isdigit(static_cast<unsigned char>(ext[2]))) continue;
      files.push_back(item.path().string());
    }
    std::sort(files.begin(), files.end());
    for (FormatSet& set : sets) set.Archives.reserve(files.size());
    for (const std::string& file : files) {
      RawArchive archive = korvane::testing::ReadArchiveSet(file, true);
      if (!archive.Valid) continue;
      for (int f = 0; f < 2; ++f) {
        std::vector<Job> jobs;
        std::uint64_t bytes = 0;
        int sinceOpen = 0;
        // Jobs point into the copy kept in a set; which set is known only after decoding.
        RawArchive kept = archive;
        for (const RawEntry& e : kept.Entries) {
          if (e.Directory() || e.UnpVer < 13 || e.UnpVer > 20) continue;
          ++sinceOpen;
          if (e.Method == 0x30 || e.Encrypted()) continue;
          const bool is20 = e.UnpVer > 15;
          if (is20 != (f == 1)) continue;
          jobs.push_back({&e, is20 ? e.SolidFlag() : (archive.Solid && sinceOpen > 1)});
          bytes += e.UnpSize;
        }
        if (jobs.empty()) continue;
        FormatSet& set = sets[f == 0 ? 0 : UsesMultimedia(jobs) ? 2 : 1];
        set.Archives.push_back(std::move(kept));  // reserved above: the entries do not move
        set.Jobs.push_back(std::move(jobs));
        set.OutputBytes += bytes;
      }
    }
  }
  return sets[static_cast<int>(kind)];
}

void RunFormat(benchmark::State& state, Kind kind) {
  const FormatSet& set = Entries(kind);
  const bool format20 = kind != Kind::kFormat15;
  if (set.OutputBytes == 0) {
    state.SkipWithError("no corpus entries");
    return;
  }
  auto unpackState = std::make_unique<korvane::UnpackState>();
  std::vector<std::uint8_t> window(korvane::kWindowSize);
  std::uint64_t written = 0;
  for (auto _ : state) {
    for (const std::vector<Job>& jobs : set.Jobs) {
      for (const Job& job : jobs) {
        CountingIo io(job.Entry->Packed, static_cast<std::int32_t>(job.Entry->UnpSize));
        if (format20) korvane::UnpackFormat20(*unpackState, io, window.data(), job.Solid);
        else korvane::UnpackFormat15(*unpackState, io, window.data(), job.Solid);
        written += io.Written;
        benchmark::DoNotOptimize(io.Last);
      }
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(written));
  state.counters["entries"] = 0;
  for (const auto& jobs : set.Jobs) state.counters["entries"] += static_cast<double>(jobs.size());
}

void BM_UnpackFormat20Lz(benchmark::State& state) { RunFormat(state, Kind::kLz20); }
void BM_UnpackFormat20Multimedia(benchmark::State& state) { RunFormat(state, Kind::kMultimedia20); }
void BM_UnpackFormat15(benchmark::State& state) { RunFormat(state, Kind::kFormat15); }

// zlib's inflate over the same unpacked bytes (compressed once, level 6), as a yardstick.
void BM_ZlibInflateSameData(benchmark::State& state, Kind kind) {
  const FormatSet& set = Entries(kind);
  const bool format20 = kind != Kind::kFormat15;
  std::vector<std::vector<std::uint8_t>> compressed;
  std::vector<std::size_t> sizes;
  {
    auto unpackState = std::make_unique<korvane::UnpackState>();
    std::vector<std::uint8_t> window(korvane::kWindowSize);
    for (const std::vector<Job>& jobs : set.Jobs) {
      for (const Job& job : jobs) {
        korvane::testing::MemoryUnpackIo io(job.Entry->Packed, static_cast<std::int32_t>(job.Entry->UnpSize));
        if (format20) korvane::UnpackFormat20(*unpackState, io, window.data(), job.Solid);
        else korvane::UnpackFormat15(*unpackState, io, window.data(), job.Solid);
        uLongf length = compressBound(io.Output.size());
        std::vector<std::uint8_t> z(length);
        compress2(z.data(), &length, io.Output.data(), io.Output.size(), 6);
        z.resize(length);
        compressed.push_back(std::move(z));
        sizes.push_back(io.Output.size());
      }
    }
  }
  std::vector<std::uint8_t> out;
  std::uint64_t written = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < compressed.size(); ++i) {
      out.resize(sizes[i] + 1);
      uLongf length = out.size();
      uncompress(out.data(), &length, compressed[i].data(), compressed[i].size());
      written += length;
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(written));
}

BENCHMARK(BM_UnpackFormat20Lz)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibInflateSameData, format20_lz_entries, Kind::kLz20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackFormat20Multimedia)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibInflateSameData, format20_multimedia_entries, Kind::kMultimedia20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackFormat15)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ZlibInflateSameData, format15_entries, Kind::kFormat15)->Unit(benchmark::kMillisecond);

}  // namespace
