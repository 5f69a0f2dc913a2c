// The format 2.0 packer at every level beside zlib's deflate at levels 1, 6 and 9, on one
// mixed data set of real files: the corpus's modules, pictures and archives as they lie, and
// the demo payload. Every file is packed on its own by both. Counters: ratio (packed bytes
// per input byte; a file packing does not shrink counts as stored) and, for our packer, the
// most heap it held at once. Then the level table: every level on every kind of data the
// level-order test walks, 4 MiB each (larger than the match finder's buffer), packed bytes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "bench/counting_io.h"
#include "pack/encoder.h"
#include "tests/support/data_kinds.h"
#include "unpack/unpack.h"

// Heap bytes held and the most held since the last reset: every allocation of the program
// goes through here (the packer allocates with new only; zlib uses malloc and is not seen).
namespace {
std::atomic<std::size_t> g_heldBytes{0};
std::atomic<std::size_t> g_peakBytes{0};
}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size + 16);
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = size;
  const std::size_t held = g_heldBytes += size;
  std::size_t peak = g_peakBytes.load();
  while (held > peak && !g_peakBytes.compare_exchange_weak(peak, held)) {
  }
  return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - 16;
  g_heldBytes -= *static_cast<std::size_t*>(block);
  std::free(block);
}
void* operator new[](std::size_t size) { return operator new(size); }
// Over-aligned types (the match finder's cache-line buckets) come here; counted the same way.
void* operator new(std::size_t size, std::align_val_t align) {
  const std::size_t a = static_cast<std::size_t>(align);
  void* p = std::aligned_alloc(a, (size + a + a - 1) / a * a);
  if (p == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = size;
  const std::size_t held = g_heldBytes += size;
  std::size_t peak = g_peakBytes.load();
  while (held > peak && !g_peakBytes.compare_exchange_weak(peak, held)) {
  }
  return static_cast<char*>(p) + a;
}
void operator delete(void* p, std::align_val_t align) noexcept {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - static_cast<std::size_t>(align);
  g_heldBytes -= *static_cast<std::size_t*>(block);
  std::free(block);
}
void* operator new[](std::size_t size, std::align_val_t align) { return operator new(size, align); }
void operator delete[](void* p, std::align_val_t align) noexcept { operator delete(p, align); }
void operator delete(void* p, std::size_t, std::align_val_t align) noexcept { operator delete(p, align); }
void operator delete[](void* p, std::size_t, std::align_val_t align) noexcept { operator delete(p, align); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

namespace {

namespace fs = std::filesystem;

struct DataSet {
  std::vector<std::vector<std::uint8_t>> Files;
  std::uint64_t Bytes = 0;
};

const DataSet& Files() {
  static const DataSet set = [] {
    DataSet s;
    std::vector<std::string> paths;
    for (const std::string& root : {std::string(KORVANE_CORPUS) + "/mod", std::string(KORVANE_CORPUS) + "/pcx",
                                    std::string(KORVANE_CORPUS) + "/rar", std::string(KORVANE_PAYLOAD)}) {
      std::error_code ec;
      for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
           it.increment(ec))
        if (it->is_regular_file() && it->path().extension() != ".tsv") paths.push_back(it->path().string());
    }
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
      std::ifstream in(path, std::ios::binary);
      s.Files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      s.Bytes += s.Files.back().size();
    }
    return s;
  }();
  return set;
}

void BM_PackFormat20(benchmark::State& state) {
  const DataSet& set = Files();
  korvane::pack::EncoderSettings settings;
  settings.Level = static_cast<int>(state.range(0));
  std::uint64_t packed = 0;
  std::size_t peak = 0;
  for (auto _ : state) {
    packed = 0;
    g_peakBytes = g_heldBytes.load();
    const std::size_t before = g_heldBytes.load();
    korvane::pack::Format20Encoder encoder(settings);
    for (const auto& file : set.Files) {
      encoder.StartEntry(false);
      encoder.Write(file.data(), file.size());
      encoder.FinishEntry();
      packed += std::min(encoder.Output().size(), file.size());
      encoder.Output().clear();
    }
    peak = g_peakBytes.load() - before;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set.Bytes));
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(set.Bytes);
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["input_MB"] = static_cast<double>(set.Bytes) / 1e6;
}

void BM_ZlibDeflate(benchmark::State& state) {
  const DataSet& set = Files();
  std::vector<std::uint8_t> out;
  std::uint64_t packed = 0;
  for (auto _ : state) {
    packed = 0;
    for (const auto& file : set.Files) {
      uLongf length = compressBound(static_cast<uLong>(file.size()));
      out.resize(length);
      compress2(out.data(), &length, file.data(), static_cast<uLong>(file.size()), static_cast<int>(state.range(0)));
      packed += std::min<std::uint64_t>(length, file.size());
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set.Bytes));
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(set.Bytes);
}

// Decoding what the packer made of the same data set (at -m3, the default), entry by entry
// (arg 0) or as one solid stream (arg 1), beside zlib's inflate of deflate -9 streams of the
// same files, each on its own or the set as one stream. Throughput is unpacked bytes.
struct PackedSet {
  std::vector<std::vector<std::uint8_t>> Entries[2];  // [solid]
  std::vector<std::vector<std::uint8_t>> Zlib[2];
  std::vector<std::uint8_t> All;                      // the set in one piece, for zlib's solid stream
};

const PackedSet& Packed() {
  static const PackedSet packed = [] {
    PackedSet p;
    const DataSet& set = Files();
    korvane::pack::EncoderSettings settings;
    settings.Level = 3;
    for (int solid = 0; solid < 2; ++solid) {
      korvane::pack::Format20Encoder encoder(settings);
      for (std::size_t i = 0; i < set.Files.size(); ++i) {
        encoder.StartEntry(solid != 0 && i > 0);
        encoder.Write(set.Files[i].data(), set.Files[i].size());
        encoder.FinishEntry();
        p.Entries[solid].push_back(std::move(encoder.Output()));
        encoder.Output().clear();
      }
    }
    for (const auto& file : set.Files) p.All.insert(p.All.end(), file.begin(), file.end());
    auto deflate = [](const std::vector<std::uint8_t>& in) {
      uLongf length = compressBound(static_cast<uLong>(in.size()));
      std::vector<std::uint8_t> out(length);
      compress2(out.data(), &length, in.data(), static_cast<uLong>(in.size()), 9);
      out.resize(length);
      return out;
    };
    for (const auto& file : set.Files) p.Zlib[0].push_back(deflate(file));
    p.Zlib[1].push_back(deflate(p.All));
    return p;
  }();
  return packed;
}

void BM_UnpackPackedSet(benchmark::State& state) {
  const DataSet& set = Files();
  const bool solid = state.range(0) != 0;
  const auto& entries = Packed().Entries[solid];
  auto unpack = std::make_unique<korvane::UnpackState>();
  std::vector<std::uint8_t> window(korvane::kWindowSize);
  for (auto _ : state) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
      korvane::bench::CountingIo io(entries[i], static_cast<std::int32_t>(set.Files[i].size()));
      korvane::UnpackFormat20(*unpack, io, window.data(), solid && i > 0);
      if (io.Written != set.Files[i].size()) state.SkipWithError("an entry did not decode to its size");
      benchmark::DoNotOptimize(io.Last);
    }
  }
  std::uint64_t packedBytes = 0;
  for (const auto& e : entries) packedBytes += e.size();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set.Bytes));
  state.counters["ratio"] = static_cast<double>(packedBytes) / static_cast<double>(set.Bytes);
}

void BM_ZlibInflateSet(benchmark::State& state) {
  const DataSet& set = Files();
  const bool solid = state.range(0) != 0;
  const auto& streams = Packed().Zlib[solid];
  std::vector<std::uint8_t> out(Packed().All.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < streams.size(); ++i) {
      uLongf length = static_cast<uLongf>(solid ? out.size() : set.Files[i].size());
      uncompress(out.data(), &length, streams[i].data(), static_cast<uLong>(streams[i].size()));
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * set.Bytes));
}

void BM_PackDataKind(benchmark::State& state, std::size_t kind, int level) {
  static const std::vector<korvane::testing::DataKind> kinds = korvane::testing::DataKinds(4 << 20);
  const korvane::testing::Bytes& data = kinds[kind].Data;
  korvane::pack::EncoderSettings settings;
  settings.Level = level;
  std::size_t packed = 0;
  for (auto _ : state) {
    korvane::pack::Format20Encoder encoder(settings);
    encoder.StartEntry(false);
    encoder.Write(data.data(), data.size());
    encoder.FinishEntry();
    packed = encoder.Output().size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
  state.counters["packed"] = static_cast<double>(packed);
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(data.size());
}

const bool g_kindsRegistered = [] {
  const std::vector<korvane::testing::DataKind> names = korvane::testing::DataKinds(0);
  for (std::size_t kind = 0; kind < names.size(); ++kind)
    for (int level = 1; level <= 5; ++level) {
      std::string name = std::string("BM_PackDataKind/") + names[kind].Name + "/m" + std::to_string(level);
      std::replace(name.begin(), name.end(), ' ', '_');
      benchmark::RegisterBenchmark(name.c_str(), BM_PackDataKind, kind, level)
          ->Iterations(1)
          ->Unit(benchmark::kMillisecond);
    }
  return true;
}();

BENCHMARK(BM_UnpackPackedSet)->Arg(0)->Arg(1)->MinTime(2.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflateSet)->Arg(0)->Arg(1)->MinTime(2.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackFormat20)->DenseRange(1, 5)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibDeflate)->Arg(1)->Arg(6)->Arg(9)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
