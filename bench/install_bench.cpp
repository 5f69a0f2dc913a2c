// Installs against the file system: a synthetic tree built in a temporary directory, stored
// into one archive by the project's packer, extracted by the engine and copied by `cp -a`
// in the same iteration, so the ratio of the two wall times is what to read (absolute times
// swing with the machine's other work). Each side writes into a fresh, empty directory and
// starts with nothing of the other's (or of the last removal) left to write back.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_reader.h"
#include "engine/extraction.h"
#include "engine/job.h"
#include "archive/archive_writer.h"
#include "unpack/unpack_state.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class AgreeingHost final : public korvane::Host {
 public:
  void Tell(korvane::Notice, const char*) override {}
  bool Ask(korvane::Question, const char*) override { return true; }
  void ShowProgress() override {}
  void ReportStatus(korvane::Status) override {}
};

// Files of 100 to 1,600 bytes, directories-by-files as asked; the archive is built once.
struct Tree {
  fs::path Root, Source, Archive;
};

const Tree& TreeOf(const fs::path& base, int directories, int filesPerDirectory) {
  static std::vector<std::unique_ptr<Tree>> built;
  const fs::path root = base / ("kvb-" + std::to_string(::getpid()) + "-" + std::to_string(directories) + "x" +
                                std::to_string(filesPerDirectory));
  for (const auto& tree : built)
    if (tree->Root == root) return *tree;
  auto tree = std::make_unique<Tree>();
  tree->Root = root;
  tree->Source = tree->Root / "src" / "tree";
  tree->Archive = tree->Root / "tree.rar";
  std::vector<char> bytes(1600);
  std::uint32_t x = 99;
  for (char& b : bytes) b = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
  for (int d = 0; d < directories; ++d) {
    const fs::path dir = directories == 1 ? tree->Source : tree->Source / ("dir" + std::to_string(d));
    fs::create_directories(dir);
    for (int f = 0; f < filesPerDirectory; ++f) {
      std::ofstream(dir / ("file" + std::to_string(f) + ".dat"), std::ios::binary)
          .write(bytes.data(), 100 + (d * 7 + f * 13) % 1500);
    }
  }
  std::vector<korvane::PackSource> sources;
  std::vector<korvane::VolumePlan> plan;
  std::vector<std::string> written;
  std::vector<std::string> links;
  std::string error;
  const korvane::PackOptions options;
  if (!korvane::CollectSources({tree->Source.string()}, options, sources, links, error) ||
      !korvane::PlanVolumes(sources, 0, plan, error) ||
      !korvane::WriteVolumes(tree->Archive.string(), sources, plan, options, written, error))
    std::fprintf(stderr, "install benchmark: packing failed: %s\n", error.c_str());
  built.push_back(std::move(tree));
  return *built.back();
}

double SecondsOf(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Removing thousands of files leaves the file system work to do in the background, which
// would land on whichever side runs next.
void Settle(const fs::path& onFileSystem) {
  const int fd = ::open(onFileSystem.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
}

bool CopyWithCp(const fs::path& from, const fs::path& into) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execlp("cp", "cp", "-a", from.c_str(), into.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Arguments: directories, files in each, and where: 0 the temporary directory (a disk), 1 the
// memory file system /dev/shm, where only the system calls and the file system's own work count.
void BM_Install(benchmark::State& state) {
  const fs::path base = state.range(2) == 0 ? fs::temp_directory_path() : fs::path("/dev/shm");
  const Tree& tree = TreeOf(base, static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const fs::path ours = tree.Root / "extracted", theirs = tree.Root / "copied";
  auto unpack = std::make_unique<korvane::UnpackState>();
  auto job = std::make_unique<korvane::ExtractionJob>();
  double extractSeconds = 0, copySeconds = 0;
  bool extractFirst = true;
  for (auto _ : state) {
    fs::remove_all(ours);
    fs::remove_all(theirs);
    fs::create_directories(ours);
    fs::create_directories(theirs);
    AgreeingHost host;
    korvane::ArchiveReader reader(host);
    korvane::PrepareJob(*job, korvane::JobMode::kInstall, tree.Archive.string(), ours.string() + "/");
    bool ok = true;
    double extract = 0, copy = 0;
    auto runExtract = [&] {
      Settle(tree.Root);
      const auto start = Clock::now();
      ok = korvane::RunExtraction(reader, *unpack, *job) != 0 && job->ErrorCount == 0 && ok;
      extract = SecondsOf(Clock::now() - start);
    };
    auto runCopy = [&] {
      Settle(tree.Root);
      const auto start = Clock::now();
      ok = CopyWithCp(tree.Source, theirs) && ok;
      copy = SecondsOf(Clock::now() - start);
    };
    // Taking turns at going first evens out what one side leaves the other.
    if (extractFirst) {
      runExtract();
      runCopy();
    } else {
      runCopy();
      runExtract();
    }
    extractFirst = !extractFirst;
    if (!ok) {
      state.SkipWithError("extraction or copy failed");
      break;
    }
    extractSeconds += extract;
    copySeconds += copy;
    state.SetIterationTime(extract);
  }
  fs::remove_all(ours);
  fs::remove_all(theirs);
  const double n = static_cast<double>(state.iterations());
  state.counters["extract_ms"] = extractSeconds * 1000 / n;
  state.counters["cp_a_ms"] = copySeconds * 1000 / n;
  state.counters["extract_per_cp"] = copySeconds > 0 ? extractSeconds / copySeconds : 0;
}
// 20,000 files in one directory; 2,000 files over 200 directories (more rounds: each takes a
// few tens of milliseconds, which one preemption on a busy machine would skew); on disk, then
// in memory.
BENCHMARK(BM_Install)
    ->ArgsProduct({{1}, {20000}, {0, 1}})
    ->ArgNames({"dirs", "files", "shm"})
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Install)
    ->ArgsProduct({{200}, {10}, {0, 1}})
    ->ArgNames({"dirs", "files", "shm"})
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

// The trees live as long as the run only.
const struct TreeCleanup {
  ~TreeCleanup() {
    std::error_code ec;
    for (const fs::path& base : {fs::temp_directory_path(ec), fs::path("/dev/shm")})
      for (const auto& e : fs::directory_iterator(base, ec))
        if (e.path().filename().string().rfind("kvb-" + std::to_string(::getpid()) + "-", 0) == 0)
          fs::remove_all(e.path(), ec);
  }
} kTreeCleanup;

}  // namespace
