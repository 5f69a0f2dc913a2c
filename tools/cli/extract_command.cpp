// korvane test ARCHIVE / korvane extract ARCHIVE [DEST]: one run of the extraction driver with
// the terminal as its front end (progress, messages, the overwrite question, Ctrl-C).
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/archive_reader.h"
#include "engine/extraction.h"
#include "engine/file_ops.h"
#include "engine/job.h"
#include "engine/status.h"
#include "engine/volumes.h"
#include "platform/file_layer.h"
#include "tools/cli/commands.h"
#include "tools/cli/console_host.h"
#include "unpack/unpack_state.h"

#ifdef _WIN32
#include <io.h>
#define KORVANE_ISATTY _isatty
#define KORVANE_FILENO _fileno
#else
#include <unistd.h>
#define KORVANE_ISATTY isatty
#define KORVANE_FILENO fileno
#endif

namespace korvane::cli {
namespace {

constexpr char kTestUsage[] =
    "usage: korvane test [-q|-v] ARCHIVE\n"
    "\n"
    "Decodes every entry of the archive (through all its volumes) and checks its checksum\n"
    "without writing anything.\n"
    "  -q  no progress and no per-file lines, only failures\n"
    "  -v  also print the engine's status identifiers\n"
    "\n"
    "exit status: 0 every entry correct; 1 some entry failed (named on stderr);\n"
    "             2 archive missing, not an archive or nothing processed; 130 interrupted.\n";

constexpr char kExtractUsage[] =
    "usage: korvane extract [-q|-v] [-y|-n] ARCHIVE [DEST]\n"
    "\n"
    "Extracts the archive (through all its volumes) into DEST (default: the current\n"
    "directory) with the stored times and attributes. Files that fail their checksum are\n"
    "deleted; nothing is written outside DEST.\n"
    "  -q  no progress and no per-file lines, only failures\n"
    "  -v  also print the engine's status identifiers\n"
    "  -y  replace existing files without asking\n"
    "  -n  never replace existing files\n"
    "  (otherwise the first existing file asks; 'o' replaces it and all later ones)\n"
    "\n"
    "exit status: 0 every entry correct; 1 some entry failed (named on stderr);\n"
    "             2 archive missing, not an archive or nothing processed; 130 interrupted.\n";

// Longer destinations leave too little of the path limit for the entries' names.
constexpr std::size_t kDestinationLimit = 200;

// The one job of this process; the Ctrl-C handler only stores into its atomic Abort word.
ExtractionJob* g_job = nullptr;
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
  if (g_job != nullptr) g_job->Abort.store(kUserAborted);
}

// Number of volumes present beside the first one, by the naming rule; 0 when unknown.
int CountVolumes(const char* first) {
  char name[sizeof ExtractionJob{}.ArchiveName];
  std::snprintf(name, sizeof name, "%s", first);
  int count = 1;
  while (count < 2000 && AdvanceVolumeName(name, sizeof name) && PathExists(name)) ++count;
  return count;
}

class Progress {
 public:
  Progress(const ExtractionJob& job, bool quiet, int volumes)
      : job_(job), quiet_(quiet), tty_(KORVANE_ISATTY(KORVANE_FILENO(stderr)) != 0), volumes_(volumes) {}

  void Update() {
    if (quiet_ || !tty_) return;
    const int percent = static_cast<int>(job_.FileProgress * 100.0f + 0.5f);
    if (percent == lastPercent_ && job_.CurrentVolume == lastVolume_ && lastFile_ == job_.CurrentFile) return;
    lastPercent_ = percent;
    lastVolume_ = job_.CurrentVolume;
    lastFile_ = job_.CurrentFile;
    char bar[21];
    for (int i = 0; i < 20; ++i) bar[i] = i < percent / 5 ? '#' : '.';
    bar[20] = '\0';
    std::string name = Printable(job_.CurrentFile);
    if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
    char volume[48] = "";
    if (volumes_ > 1) std::snprintf(volume, sizeof volume, "  volume %d of %d", job_.CurrentVolume, volumes_);
    std::fprintf(stderr, "\r[%s] %3d%%  %-40s%s\x1b[K", bar, percent, name.c_str(), volume);
    std::fflush(stderr);
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    std::fputs("\r\x1b[K", stderr);
    shown_ = false;
  }

 private:
  const ExtractionJob& job_;
  bool quiet_, tty_;
  int volumes_;
  int lastPercent_ = -1, lastVolume_ = -1;
  std::string lastFile_;
  bool shown_ = false;
};

int Run(int argc, char** argv, char mode) {
  const char* usage = mode == 'X' ? kExtractUsage : kTestUsage;
  bool quiet = false, verbose = false;
  ConsoleHost::Overwrite overwrite = ConsoleHost::Overwrite::kAsk;
  const char* positional[2] = {nullptr, nullptr};
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      PrintUsage(usage);
      return 0;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::printf("korvane %s 1.0\n", mode == 'X' ? "extract" : "test");
      return 0;
    }
    if (std::strcmp(a, "-q") == 0) {
      quiet = true;
    } else if (std::strcmp(a, "-v") == 0) {
      verbose = true;
    } else if (mode == 'X' && std::strcmp(a, "-y") == 0) {
      overwrite = ConsoleHost::Overwrite::kAll;
    } else if (mode == 'X' && std::strcmp(a, "-n") == 0) {
      overwrite = ConsoleHost::Overwrite::kNever;
    } else if (a[0] == '-' && a[1] != '\0') {
      std::fprintf(stderr, "korvane: unknown option %s\n%s", a, usage);
      return 2;
    } else if (count < (mode == 'X' ? 2 : 1)) {
      positional[count++] = a;
    } else {
      std::fputs(usage, stderr);
      return 2;
    }
  }
  if (count == 0) {
    std::fputs(usage, stderr);
    return 2;
  }

  auto job = std::make_unique<ExtractionJob>();
  const char* destination = positional[1] != nullptr && positional[1][0] != '\0' ? positional[1] : ".";
  std::string dest = mode == 'X' ? destination : "";
  if (mode == 'X' && dest.back() != '\\' && dest.back() != '/') dest.push_back('\\');
  if (!PrepareJob(*job, mode, positional[0], dest.size() < kDestinationLimit ? dest : std::string())) {
    std::fprintf(stderr, "korvane: archive name too long\n");
    return 2;
  }
  if (dest.size() >= kDestinationLimit) {
    std::fprintf(stderr, "korvane: destination path too long\n");
    return 2;
  }
  if (mode == 'X') {
    // The destination itself may be missing: create it with its parents, as the installer's
    // destination dialog does on request.
    ConsoleHost silent;
    MakeDirectories(silent, dest.data());
  }

  ConsoleHost host;
  host.overwrite = overwrite;
  host.verbose = verbose;
  ArchiveReader reader(host);
  auto unpack = std::make_unique<UnpackState>();
  Progress progress(*job, quiet, CountVolumes(job->ArchiveName));
  host.onProgress = [&] { progress.Update(); };
  host.beforeMessage = [&] { progress.Clear(); };
  int failures = 0;
  host.onStatus = [&](const char* id) {
    const std::string s = id;
    const char* reason = nullptr;
    if (s == status::kExtrBadCRC) reason = "checksum error";
    else if (s == status::kEncrBadCRC) reason = "encrypted (cannot be decoded)";
    else if (s == status::kExtrUnknMeth) reason = "unknown method or version";
    else if (s == status::kExtrErrCreat) reason = "cannot create the file";
    else if (s == status::kExtrErrMkDir) reason = "cannot create the directory";
    const std::string name = Printable(reader.Archive.EntryName);
    if (s == status::kFileExists && overwrite == ConsoleHost::Overwrite::kNever) {
      progress.Clear();
      std::fprintf(stderr, "korvane: %s exists, not replaced\n", name.c_str());
      return;
    }
    if (reason != nullptr) {
      progress.Clear();
      std::fprintf(stderr, "korvane: FAILED %s: %s\n", name.c_str(), reason);
      ++failures;
    } else if (!quiet && (s == status::kExtrOk || s == status::kExtrTestDir || s == status::kCreatDir)) {
      if (s == status::kCreatDir) return;  // directories made along the way are not entries
      progress.Clear();
      std::printf("%-4s %s\n", s == status::kExtrOk ? "OK" : "dir", name.c_str());
      std::fflush(stdout);
    }
  };

  g_job = job.get();
#ifdef _WIN32
  std::signal(SIGINT, OnInterrupt);
#else
  // Without SA_RESTART, so that Ctrl-C also ends a pending overwrite question.
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
#endif
  const std::int32_t result = RunExtraction(reader, *unpack, nullptr, *job);
  std::signal(SIGINT, SIG_DFL);
  g_job = nullptr;
  progress.Clear();

  if (g_interrupted != 0) {
    std::fprintf(stderr, "korvane: interrupted\n");
    return 130;
  }
  if (!quiet) {
    std::printf("%d entr%s processed, %d failed\n", result, result == 1 ? "y" : "ies", job->ErrorCount);
  }
  if (result == 0) return 2;
  if (job->ErrorCount != 0 || job->Abort.load() != kRunning) {
    if (failures == 0) std::fprintf(stderr, "korvane: the run did not complete (a volume was missing or damaged)\n");
    return 1;
  }
  return 0;
}

}  // namespace

int RunTestCommand(int argc, char** argv) { return Run(argc, argv, 'T'); }
int RunExtractCommand(int argc, char** argv) { return Run(argc, argv, 'X'); }

}  // namespace korvane::cli
