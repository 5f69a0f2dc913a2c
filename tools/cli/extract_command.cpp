// korvane test ARCHIVE / korvane extract ARCHIVE [DEST]: one run of the extraction driver with
// the terminal as its front end (progress, messages, the overwrite question, Ctrl-C).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/file_layer.h"
#include "tools/cli/commands.h"
#include "tools/cli/terminal.h"
#include "tools/cli/console_host.h"


namespace korvane::cli {
namespace {

constexpr char kTestUsage[] =
    "usage: korvane test [-q|-v] [--progress] [--charset NAME] ARCHIVE\n"
    "\n"
    "Decodes every entry of the archive (through all its volumes) and checks its checksum\n"
    "without writing anything.\n"
    "  -q  no progress and no per-file lines, only failures\n"
    "  -v  also print the engine's status identifiers\n"
    "  --progress  show the progress bar even when stderr is not a terminal\n"
    "  --charset NAME  code page of names from DOS and Windows archives (default cp437)\n"
    "\n"
    "exit status: 0 every entry correct; 1 some entry failed or the archive ends too soon\n"
    "             (named on stderr); 2 archive missing, not an archive, not the first volume\n"
    "             of its set or nothing processed;\n"
    "             130, 143 or 129 interrupted by SIGINT, SIGTERM or SIGHUP.\n";

constexpr char kExtractUsage[] =
    "usage: korvane extract [-q|-v] [-y|-n] [-f] [--progress] [--charset NAME] ARCHIVE [DEST]\n"
    "\n"
    "Extracts the archive (through all its volumes) into DEST (default: the current\n"
    "directory) with the stored times and attributes. Each file is written under a temporary\n"
    "name and replaces an existing one only once it is complete and correct, so a failure or\n"
    "an interruption never loses a file that was there; nothing is written outside DEST, and\n"
    "nothing through a link below it.\n"
    "  -q  no progress and no per-file lines, only failures\n"
    "  -v  also print the engine's status identifiers\n"
    "  -y  replace existing files without asking\n"
    "  -n  never replace existing files\n"
    "  -f  extract even when the files need more than the free space at DEST\n"
    "  (otherwise the first existing file asks; 'o' replaces it and all later ones)\n"
    "  --progress  show the progress bar even when stderr is not a terminal\n"
    "  --charset NAME  code page of names from DOS and Windows archives (default cp437)\n"
    "\n"
    "exit status: 0 every entry correct; 1 some entry failed or the archive ends too soon\n"
    "             (named on stderr), too little free space or a full disk; 2 archive missing,\n"
    "             not an archive, not the first volume of its set or nothing processed;\n"
    "             130, 143 or 129 interrupted by SIGINT, SIGTERM or SIGHUP.\n";

// Longer destinations leave too little of the path limit for the entries' names.
constexpr std::size_t kDestinationLimit = kPathLimit - 60;

// The one job of this process; the signal handler only stores into its atomic Abort word. The
// engine then stops at its next poll and deletes the file it was writing, so the signal's
// usual exit code (128 + its number) comes only once nothing is left half-written.
ExtractionJob* g_job = nullptr;
volatile std::sig_atomic_t g_signal = 0;

extern "C" void OnInterrupt(int signal) {
  g_signal = signal;
  if (g_job != nullptr) g_job->Stop(AbortState::kUserAborted);
}

constexpr int kStopSignals[] = {
    SIGINT,
    SIGTERM,
#ifndef _WIN32
    SIGHUP,
#endif
};

void CatchStopSignals(bool on) {
  for (const int signal : kStopSignals) {
#ifdef _WIN32
    std::signal(signal, on ? OnInterrupt : SIG_DFL);
#else
    // Without SA_RESTART, so that a signal also ends a pending overwrite question.
    struct sigaction action {};
    action.sa_handler = on ? OnInterrupt : SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
#endif
  }
}

// A set opened at a later volume, whose first entry goes on from an earlier one: the engine
// would pass over that part (or, in a solid set, look for the first volume itself), and the
// user would not learn why little or nothing came out. Says which volume to start with.
bool OpenedPastFirstVolume(const char* name) {
  const FirstVolume first = FindFirstVolume(name);
  if (!first.Later) return false;
  const std::string given = DisplayName(name);
  if (first.Missing) {
    std::fprintf(stderr, "korvane: %s is not the first volume of its set (its first volume is missing)\n",
                 given.c_str());
  } else {
    std::fprintf(stderr, "korvane: %s is not the first volume of its set (start with %s)\n", given.c_str(),
                 DisplayName(first.Name.c_str()).c_str());
  }
  return true;
}

// One line on stderr, redrawn in place: the share of the whole run's archive bytes read, the
// rate and the time left once the run has lasted long enough for them to mean something.
class Progress {
 public:
  using Clock = std::chrono::steady_clock;

  Progress(const ExtractionJob& job, bool show, std::vector<std::uint64_t> volumeSizes)
      : Job(job), Show(show), Sizes(std::move(volumeSizes)), Start(Clock::now()) {
    for (std::uint64_t size : Sizes) Total += size;
  }

  // position: how far the engine has read in the current volume.
  void Update(std::int64_t position) {
    if (!Show) return;
    const int volume = Job.CurrentVolume;
    std::uint64_t done = position > 0 ? static_cast<std::uint64_t>(position) : 0;
    for (int v = 1; v < volume && v <= static_cast<int>(Sizes.size()); ++v) done += Sizes[v - 1];
    const int percent = Total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(done * 100 / Total, 100));
    const Clock::time_point now = Clock::now();
    const auto sinceShown = now - ShownAt;
    // A new percentage or volume is always drawn; a new name or rate at most ten times a second.
    const bool due = percent != LastPercent || volume != LastVolume ||
                     (sinceShown > std::chrono::milliseconds(100) && LastFile != Job.CurrentFile);
    if (!due && sinceShown < std::chrono::milliseconds(500)) return;
    LastPercent = percent;
    LastVolume = volume;
    LastFile = Job.CurrentFile;
    ShownAt = now;

    char bar[21];
    for (int i = 0; i < 20; ++i) bar[i] = i < percent / 5 ? '#' : '.';
    bar[20] = '\0';
    char rate[64] = "";
    const double seconds = std::chrono::duration<double>(now - Start).count();
    if (seconds >= 1.5 && done > 0) {
      const double perSecond = static_cast<double>(done) / seconds;
      const long left = std::lround(static_cast<double>(Total - std::min(done, Total)) / perSecond);
      std::snprintf(rate, sizeof rate, "  %.1f MB/s  %ld:%02ld left", perSecond / 1e6, left / 60, left % 60);
    }
    std::string name = DisplayName(Job.CurrentFile);
    if (name.size() > 32) name = "..." + name.substr(name.size() - 29);
    char volumeText[48] = "";
    if (Sizes.size() > 1) std::snprintf(volumeText, sizeof volumeText, "  vol %d/%zu", volume, Sizes.size());
    std::fprintf(stderr, "\r[%s] %3d%%%s  %-32s%s\x1b[K", bar, percent, rate, name.c_str(), volumeText);
    std::fflush(stderr);
    Drawn = true;
  }
  void Clear() {
    if (!Drawn) return;
    std::fputs("\r\x1b[K", stderr);
    Drawn = false;
  }

 private:
  const ExtractionJob& Job;
  bool Show;
  std::vector<std::uint64_t> Sizes;
  std::uint64_t Total = 0;
  Clock::time_point Start, ShownAt;
  int LastPercent = -1, LastVolume = -1;
  std::string LastFile;
  bool Drawn = false;
};

struct Options {
  bool Quiet = false, Verbose = false, ForceProgress = false, Force = false;
  std::string Charset = kDefaultCharset;
  ConsoleHost::Overwrite Overwrite = ConsoleHost::Overwrite::kAsk;
  const char* Positional[2] = {nullptr, nullptr};  // ARCHIVE and DEST
};

// Reads the command line into o; -1 when the run is to go on, else the exit status (help,
// version, bad usage, which it has printed).
int ReadOptions(int argc, char** argv, JobMode mode, Options& o) {
  const char* usage = mode == JobMode::kInstall ? kExtractUsage : kTestUsage;
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      PrintUsage(usage);
      return 0;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::printf("korvane %s 1.0\n", mode == JobMode::kInstall ? "extract" : "test");
      return 0;
    }
    bool badCharset = false;
    if (TakeCharsetOption(argc, argv, i, o.Charset, badCharset)) {
      if (badCharset) return 2;
    } else if (std::strcmp(a, "-q") == 0) {
      o.Quiet = true;
    } else if (std::strcmp(a, "-v") == 0) {
      o.Verbose = true;
    } else if (std::strcmp(a, "--progress") == 0) {
      o.ForceProgress = true;
    } else if (mode == JobMode::kInstall && std::strcmp(a, "-y") == 0) {
      o.Overwrite = ConsoleHost::Overwrite::kAll;
    } else if (mode == JobMode::kInstall && std::strcmp(a, "-f") == 0) {
      o.Force = true;
    } else if (mode == JobMode::kInstall && std::strcmp(a, "-n") == 0) {
      o.Overwrite = ConsoleHost::Overwrite::kNever;
    } else if (a[0] == '-' && a[1] != '\0') {
      std::fprintf(stderr, "korvane: unknown option %s\n%s", a, usage);
      return 2;
    } else if (count < (mode == JobMode::kInstall ? 2 : 1)) {
      o.Positional[count++] = a;
    } else {
      std::fputs(usage, stderr);
      return 2;
    }
  }
  if (count == 0) {
    std::fputs(usage, stderr);
    return 2;
  }
  return -1;
}

// The engine's statuses as the user reads them: failures and damage on stderr, each entry's
// verdict on stdout. Counts the failures it names.
class StatusLines {
 public:
  StatusLines(const Extraction& engine, const ExtractionJob& job, Progress& progress, const NameCharset& charset,
              const Options& options)
      : Engine(engine), Job(job), Bar(progress), Charset(charset), Opts(options) {}

  void operator()(Status status);
  int Failures = 0;

 private:
  const Extraction& Engine;
  const ExtractionJob& Job;
  Progress& Bar;
  const NameCharset& Charset;
  const Options& Opts;
};

// Why an entry failed, for the statuses that name a failure; nullptr for the others.
const char* FailureReason(Status s) {
  switch (s) {
    case Status::kExtrBadCRC: return "checksum error";
    case Status::kEncrBadCRC: return "encrypted (cannot be decoded)";
    case Status::kExtrUnknMeth: return "unknown method or version";
    case Status::kExtrErrCreat: return "cannot create the file";
    case Status::kExtrErrWrite: return "write error";
    case Status::kExtrPathTooLong: return "path too long to create";
    case Status::kExtrBadSize: return "damaged (sizes do not match)";
    case Status::kExtrErrMkDir: return "cannot create the directory";
    default: return nullptr;
  }
}

void StatusLines::operator()(Status s) {
  const EntryInfo entry = Engine.CurrentEntry();
  switch (s) {
    case Status::kUnexpEOF:
      // The engine tells each cut volume once, while it is the one open.
      Bar.Clear();
      std::fprintf(stderr, "korvane: %s: unexpected end of archive\n", DisplayName(Job.ArchiveName).c_str());
      ++Failures;
      return;
    case Status::kBrokFileHead: {
      // Told as the header is read, before the run converts the name for showing.
      std::string stored = entry.Name;
      stored.resize(kPathLimit);
      if (!Charset.Convert(entry.HostOs, stored.data(), stored.size())) stored = entry.Name;
      Bar.Clear();
      std::fprintf(stderr, "korvane: warning: %s: header checksum error\n", DisplayName(stored.c_str()).c_str());
      return;
    }
    case Status::kExtrThroughLink:
      Bar.Clear();
      std::fprintf(stderr, "korvane: refusing to write through a link: %s\n",
                   DisplayName((std::string(Job.DestinationDir) + entry.Name).c_str()).c_str());
      ++Failures;
      return;
    case Status::kFileExists:
      if (Opts.Overwrite != ConsoleHost::Overwrite::kNever) return;
      Bar.Clear();
      std::fprintf(stderr, "korvane: %s exists, not replaced\n", DisplayName(entry.Name).c_str());
      return;
    case Status::kExtrOk:
    case Status::kExtrTestDir:
      if (Opts.Quiet) return;
      Bar.Clear();
      std::printf("%-4s %s\n", s == Status::kExtrOk ? "OK" : "dir", DisplayName(entry.Name).c_str());
      std::fflush(stdout);
      return;
    default:
      break;
  }
  const char* reason = FailureReason(s);
  if (reason == nullptr) return;
  // An entry the run stopped inside (a signal, a volume missing) cannot match its checksum; that
  // is not what went wrong with it.
  if ((s == Status::kExtrBadCRC || s == Status::kEncrBadCRC) && !Job.Running()) reason = "not completed (the run stopped)";
  Bar.Clear();
  std::fprintf(stderr, "korvane: FAILED %s: %s\n", DisplayName(entry.Name).c_str(), reason);
  ++Failures;
}

int Run(int argc, char** argv, JobMode mode) {
  Options options;
  if (const int exitStatus = ReadOptions(argc, argv, mode, options); exitStatus >= 0) return exitStatus;
  const char* const* positional = options.Positional;

  auto job = std::make_unique<ExtractionJob>();
  const char* destination = positional[1] != nullptr && positional[1][0] != '\0' ? positional[1] : ".";
  std::string dest = mode == JobMode::kInstall ? destination : "";
  if (mode == JobMode::kInstall && dest.back() != '\\' && dest.back() != '/') dest.push_back('\\');
  if (!PrepareJob(*job, mode, positional[0], dest.size() < kDestinationLimit ? dest : std::string())) {
    std::fprintf(stderr, "korvane: archive name too long\n");
    return 2;
  }
  if (dest.size() >= kDestinationLimit) {
    std::fprintf(stderr, "korvane: destination path too long\n");
    return 2;
  }
  if (!CheckArchiveReadable(job->ArchiveName) || OpenedPastFirstVolume(job->ArchiveName)) return 2;
  if (mode == JobMode::kInstall) {
    // The destination itself may be missing: create it with its parents, as the installer's
    // destination dialog does on request.
    ConsoleHost silent;
    MakeDestination(silent, dest.c_str());
  }

  if (mode == JobMode::kInstall && !options.Force) {
    const SpaceCheck space = CheckFreeSpace(job->ArchiveName, job->DestinationDir);
    if (!space.Fits()) {
      std::fprintf(stderr, "korvane: not enough space at %s: %llu MB needed, %llu MB free (-f extracts anyway)\n",
                   DisplayName(job->DestinationDir).c_str(),
                   static_cast<unsigned long long>(SpaceCheck::Megabytes(space.Needed)),
                   static_cast<unsigned long long>(space.Free >> 20));
      return 1;
    }
  }
  const NameCharset charset(options.Charset.c_str());
  ConsoleHost host;
  host.Charset = &charset;
  host.OverwriteAnswer = options.Overwrite;
  host.Verbose = options.Verbose;
  Extraction engine(host);
  const bool showProgress = !options.Quiet && (options.ForceProgress || StderrIsTerminal());
  Progress progress(*job, showProgress, VolumeSizes(job->ArchiveName));
  host.OnProgress = [&] { progress.Update(engine.VolumePosition()); };
  host.CurrentEntry = [&] { return DisplayName(engine.CurrentEntry().Name); };
  host.BeforeMessage = [&] { progress.Clear(); };
  StatusLines lines(engine, *job, progress, charset, options);
  host.OnStatus = [&](Status status) { lines(status); };

  g_job = job.get();
  CatchStopSignals(true);
  const std::int32_t result = engine.Run(*job);
  CatchStopSignals(false);
  g_job = nullptr;
  progress.Clear();

  if (g_signal != 0) {
    std::fprintf(stderr, "korvane: interrupted\n");
    return 128 + g_signal;
  }
  // A run that never opened an archive has nothing to sum up.
  if (host.ArchiveRefused) return 2;
  if (!options.Quiet) {
    std::printf("%d entr%s processed, %d failed\n", result, result == 1 ? "y" : "ies", job->ErrorCount);
  }
  // A failure that was named is the outcome even when nothing else was processed.
  if (result == 0 && lines.Failures == 0) return 2;
  if (lines.Failures != 0 || job->ErrorCount != 0 || !job->Running()) {
    if (lines.Failures == 0 && !host.DiskFull)
      std::fprintf(stderr, "korvane: the run did not complete (a volume was missing or damaged)\n");
    return 1;
  }
  return 0;
}

}  // namespace

int RunTestCommand(int argc, char** argv) { return Run(argc, argv, JobMode::kTest); }
int RunExtractCommand(int argc, char** argv) { return Run(argc, argv, JobMode::kInstall); }

}  // namespace korvane::cli
