// Module rendering speed in times real time: our renderer against libxmp (linear
// interpolation, 44100 Hz stereo) over the same corpus modules, both from memory and both
// in half-second blocks. Loading is outside the timed loop; each pass restarts the song.
#include <benchmark/benchmark.h>
#include <xmp.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "player/mod_player.h"

namespace {

using korvane::kBlockBytes;
using korvane::kBlockFrames;
using korvane::kOutputRate;

constexpr int kSecondsPerModule = 20;
constexpr int kBlocksPerModule = kSecondsPerModule * kOutputRate / kBlockFrames;

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes;
  if (std::FILE* f = std::fopen(path.string().c_str(), "rb")) {
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
  }
  return bytes;
}

struct Module {
  std::string Name;
  std::vector<std::uint8_t> Bytes;
};

// Every corpus module that both players accept (the traps and a few oddities drop out).
const std::vector<Module>& Modules() {
  static const std::vector<Module> modules = [] {
    std::vector<Module> found;
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::path(KORVANE_CORPUS) / "mod";
    std::vector<std::filesystem::path> paths;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
      if (e.is_regular_file() && e.path().filename() != "MANIFEST.tsv") paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
      Module m{path.filename().string(), ReadFile(path)};
      korvane::ModPlayer probe;
      if (korvane::LoadModule(probe, m.Bytes.data(), m.Bytes.size()) == 0) continue;
      xmp_context x = xmp_create_context();
      const bool xmpLoads = xmp_load_module_from_memory(x, m.Bytes.data(), static_cast<long>(m.Bytes.size())) == 0;
      if (xmpLoads) xmp_release_module(x);
      xmp_free_context(x);
      if (xmpLoads) found.push_back(std::move(m));
    }
    return found;
  }();
  return modules;
}

void RenderKorvane(benchmark::State& state, const std::vector<const Module*>& modules) {
  std::vector<std::unique_ptr<korvane::ModPlayer>> players;
  for (const Module* m : modules) {
    players.push_back(std::make_unique<korvane::ModPlayer>());
    korvane::LoadModule(*players.back(), m->Bytes.data(), m->Bytes.size());
  }
  std::vector<std::uint8_t> pcm(kBlockBytes);
  for (auto _ : state) {
    for (auto& p : players) {
      korvane::ResetPlayState(*p);
      for (int b = 0; b < kBlocksPerModule; ++b) korvane::RenderBlock(*p, pcm.data());
      benchmark::DoNotOptimize(pcm.data());
    }
  }
  const double audioSeconds = static_cast<double>(kSecondsPerModule) * players.size();
  state.counters["x_realtime"] = benchmark::Counter(audioSeconds * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["modules"] = static_cast<double>(players.size());
}

void RenderXmp(benchmark::State& state, const std::vector<const Module*>& modules) {
  std::vector<xmp_context> contexts;
  for (const Module* m : modules) {
    xmp_context x = xmp_create_context();
    xmp_load_module_from_memory(x, m->Bytes.data(), static_cast<long>(m->Bytes.size()));
    contexts.push_back(x);
  }
  std::vector<std::uint8_t> pcm(kBlockBytes);
  for (auto _ : state) {
    for (xmp_context x : contexts) {
      xmp_start_player(x, kOutputRate, 0);
      xmp_set_player(x, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
      for (int b = 0; b < kBlocksPerModule; ++b) xmp_play_buffer(x, pcm.data(), kBlockBytes, 0);
      xmp_end_player(x);
      benchmark::DoNotOptimize(pcm.data());
    }
  }
  for (xmp_context x : contexts) {
    xmp_release_module(x);
    xmp_free_context(x);
  }
  const double audioSeconds = static_cast<double>(kSecondsPerModule) * contexts.size();
  state.counters["x_realtime"] = benchmark::Counter(audioSeconds * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["modules"] = static_cast<double>(contexts.size());
}

std::vector<const Module*> AllModules() {
  std::vector<const Module*> all;
  for (const Module& m : Modules()) all.push_back(&m);
  return all;
}

void BM_PlayerCorpus_Korvane(benchmark::State& state) { RenderKorvane(state, AllModules()); }
void BM_PlayerCorpus_Libxmp(benchmark::State& state) { RenderXmp(state, AllModules()); }
BENCHMARK(BM_PlayerCorpus_Korvane)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlayerCorpus_Libxmp)->Unit(benchmark::kMillisecond);

// A few single songs side by side: 4, 6 and 8 channels, and the largest module.
const int kRegistered = [] {
  for (const char* name : {"qb64mp__space_debris.mod", "qb64mp__bass.mod", "qb64mp__starg12.mod",
                           "qb64mp__necros-the_traveler.mod", "libxmp__cant.mod"}) {
    auto pick = [name] {
      std::vector<const Module*> one;
      for (const Module& m : Modules())
        if (m.Name == name) one.push_back(&m);
      return one;
    };
    benchmark::RegisterBenchmark((std::string("BM_PlayerSong_Korvane/") + name).c_str(),
                                 [pick](benchmark::State& s) { RenderKorvane(s, pick()); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("BM_PlayerSong_Libxmp/") + name).c_str(),
                                 [pick](benchmark::State& s) { RenderXmp(s, pick()); })
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}();

}  // namespace
