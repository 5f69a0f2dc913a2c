// korvane test ARCHIVE / korvane extract ARCHIVE [DEST]: one run of the extraction driver with
// the terminal as its front end (progress, messages, the overwrite question, Ctrl-C).
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "engine/engine.h"
#include "platform/file_layer.h"
#include "tools/cli/commands.h"
#include "tools/cli/console_host.h"
#include "tools/cli/options.h"
#include "tools/cli/progress_line.h"
#include "tools/cli/terminal.h"

namespace korvane::cli {
namespace {

constexpr OptionEntry kTestOptions[] = {
    {.Short = "q", .Help = "no progress and no per-file lines, only failures"},
    {.Short = "v", .Help = "also print the engine's status identifiers"},
    {.Long = "progress", .Help = "show the progress bar even when stderr is not a terminal"},
    kReadCharsetOption,
};

constexpr OptionEntry kExtractOptions[] = {
    {.Short = "q", .Help = "no progress and no per-file lines, only failures"},
    {.Short = "v", .Help = "also print the engine's status identifiers"},
    {.Short = "y", .Help = "replace existing files without asking"},
    {.Short = "n", .Help = "never replace existing files\n"
                           "(with neither, the first existing file asks; 'o' replaces it and all later ones)"},
    {.Short = "f", .Help = "extract even when the files need more than the free space at DEST"},
    {.Long = "progress", .Help = "show the progress bar even when stderr is not a terminal"},
    kReadCharsetOption,
};

const CommandTable kTestCommand{
    .Name = "test",
    .Options = kTestOptions,
    .Operands = "ARCHIVE",
    .Description = "Decodes every entry of the archive (through all its volumes) and checks its checksum\n"
                   "without writing anything.",
    .Epilogue = "exit status: 0 every entry correct; 1 some entry failed or the archive ends too soon\n"
                "             (named on stderr); 2 bad usage, archive missing, not an archive, not the\n"
                "             first volume of its set or nothing processed;\n"
                "             130, 143 or 129 interrupted by SIGINT, SIGTERM or SIGHUP.",
};

const CommandTable kExtractCommand{
    .Name = "extract",
    .Options = kExtractOptions,
    .Operands = "ARCHIVE [DEST]",
    .Description = "Extracts the archive (through all its volumes) into DEST (default: the current\n"
                   "directory) with the stored times and attributes. Each file is written under a temporary\n"
                   "name and replaces an existing one only once it is complete and correct, so a failure or\n"
                   "an interruption never loses a file that was there; nothing is written outside DEST, and\n"
                   "nothing through a link below it.",
    .Epilogue = "exit status: 0 every entry correct; 1 some entry failed or the archive ends too soon\n"
                "             (named on stderr), too little free space or a full disk; 2 bad usage,\n"
                "             archive missing, not an archive, not the first volume of its set or\n"
                "             nothing processed; 130, 143 or 129 interrupted by SIGINT, SIGTERM or SIGHUP.",
};

// Longer destinations leave too little of the path limit for the entries' names.
constexpr std::size_t kDestinationLimit = kPathLimit - 60;

// The one job of this process; the signal handler only stores into its atomic Abort word. The
// engine then stops at its next poll and deletes the file it was writing, so the signal's
// usual exit code (128 + its number) comes only once nothing is left half-written.
ExtractionJob* g_job = nullptr;
volatile std::sig_atomic_t g_signal = 0;

#ifndef _WIN32
// A signal that lands between the engine's last poll and a call that then blocks (opening a
// volume that is a pipe, say) would go unseen for good. So once a stop is asked for, a timer
// interrupts whatever call is pending, every second, until the engine has wound up.
extern "C" void OnStopTimer(int) { alarm(1); }
#endif

extern "C" void OnInterrupt(int signal) {
  g_signal = signal;
  if (g_job != nullptr) g_job->Stop(AbortState::kUserAborted);
#ifndef _WIN32
  alarm(1);
#endif
}

constexpr int kStopSignals[] = {
    SIGINT,
    SIGTERM,
#ifndef _WIN32
    SIGHUP,
#endif
};

#ifdef _WIN32
void CatchStopSignals(bool on) {
  for (const int signal : kStopSignals) std::signal(signal, on ? OnInterrupt : SIG_DFL);
}
#else
// Without SA_RESTART, so that a signal also ends a pending overwrite question or volume open.
void Handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

// The timer's handler is in place before any stop signal can arm it, and the timer is off
// before its signal's default (ending the process) comes back.
void CatchStopSignals(bool on) {
  if (on) Handle(SIGALRM, OnStopTimer);
  for (const int signal : kStopSignals) Handle(signal, on ? OnInterrupt : SIG_DFL);
  if (!on) {
    alarm(0);
    Handle(SIGALRM, SIG_DFL);
  }
}
#endif

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

// The progress of a run over the bytes of all its volumes, with the current entry's name and,
// for a set, the volume.
class VolumeProgress {
 public:
  VolumeProgress(const ExtractionJob& job, bool show, std::vector<std::uint64_t> volumeSizes)
      : Job(job), Line(show, true), Sizes(std::move(volumeSizes)) {
    for (std::uint64_t size : Sizes) Total += size;
  }

  // position: how far the engine has read in the current volume.
  void Update(std::int64_t position) {
    const int volume = Job.CurrentVolume;
    std::uint64_t done = position > 0 ? static_cast<std::uint64_t>(position) : 0;
    for (int v = 1; v < volume && v <= static_cast<int>(Sizes.size()); ++v) done += Sizes[v - 1];
    const ProgressLine::Change change = volume != LastVolume          ? ProgressLine::Change::kStage
                                        : LastFile != Job.CurrentFile ? ProgressLine::Change::kDetail
                                                                      : ProgressLine::Change::kNone;
    std::string name = DisplayName(Job.CurrentFile);
    if (name.size() > 32) name = "..." + name.substr(name.size() - 29);
    char detail[160];
    std::snprintf(detail, sizeof detail, "  %-32s", name.c_str());
    std::string text = detail;
    if (Sizes.size() > 1) {
      std::snprintf(detail, sizeof detail, "  vol %d/%zu", volume, Sizes.size());
      text += detail;
    }
    // What was not drawn yet still counts as changed at the next report.
    if (!Line.Update(done, Total, text, change)) return;
    LastVolume = volume;
    LastFile = Job.CurrentFile;
  }
  void Clear() { Line.Clear(); }

 private:
  const ExtractionJob& Job;
  ProgressLine Line;
  std::vector<std::uint64_t> Sizes;
  std::uint64_t Total = 0;
  int LastVolume = -1;
  std::string LastFile;
};

struct Options {
  bool Quiet = false, Verbose = false, ForceProgress = false, Force = false;
  const char* Charset = kDefaultCharset;
  ConsoleHost::Overwrite Overwrite = ConsoleHost::Overwrite::kAsk;
  const char* Archive = nullptr;
  const char* Destination = ".";
};

// Reads the command line into o; -1 when the run is to go on, else the exit status (help,
// version, bad usage, which it has printed).
int ReadOptions(int argc, char** argv, JobMode mode, Options& o) {
  const CommandTable& table = mode == JobMode::kInstall ? kExtractCommand : kTestCommand;
  ParsedArgs args;
  if (const int status = ParseCommandLine(table, argc, argv, args); status >= 0) return status;
  o.Charset = ReadCharset(table, args);
  if (o.Charset == nullptr) return 2;
  o.Quiet = args.Has("q");
  o.Verbose = args.Has("v");
  o.ForceProgress = args.Has("progress");
  o.Archive = args.Operands()[0];
  if (mode == JobMode::kInstall) {
    o.Force = args.Has("f");
    if (const char* last = args.Last({"y", "n"}); last != nullptr)
      o.Overwrite = *last == 'y' ? ConsoleHost::Overwrite::kAll : ConsoleHost::Overwrite::kNever;
    if (args.Operands().size() > 1 && args.Operands()[1][0] != '\0') o.Destination = args.Operands()[1];
  }
  return -1;
}

// The engine's statuses as the user reads them: failures and damage on stderr, each entry's
// verdict on stdout. Counts the failures it names.
class StatusLines {
 public:
  StatusLines(const Extraction& engine, const ExtractionJob& job, VolumeProgress& progress, const NameCharset& charset,
              const Options& options)
      : Engine(engine), Job(job), Bar(progress), Charset(charset), Opts(options) {}

  void operator()(Status status);
  int Failures = 0;

 private:
  const Extraction& Engine;
  const ExtractionJob& Job;
  VolumeProgress& Bar;
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

// Sets the job up and checks what can be checked before the engine runs: the names' lengths,
// the archive, that it is a set's first volume, the destination and its free space. -1 to go
// on, else the exit status.
int PrepareRun(const Options& options, JobMode mode, ExtractionJob& job) {
  std::string dest = mode == JobMode::kInstall ? options.Destination : "";
  if (mode == JobMode::kInstall && dest.back() != '\\' && dest.back() != '/') dest.push_back('\\');
  if (!PrepareJob(job, mode, options.Archive, dest.size() < kDestinationLimit ? dest : std::string())) {
    std::fprintf(stderr, "korvane: archive name too long\n");
    return 2;
  }
  if (dest.size() >= kDestinationLimit) {
    std::fprintf(stderr, "korvane: destination path too long\n");
    return 2;
  }
  if (!CheckArchiveReadable(job.ArchiveName) || OpenedPastFirstVolume(job.ArchiveName)) return 2;
  if (mode != JobMode::kInstall) return -1;
  // The destination itself may be missing: create it with its parents, as the installer's
  // destination dialog does on request.
  ConsoleHost silent;
  MakeDestination(silent, dest.c_str());
  if (options.Force) return -1;
  const SpaceCheck space = CheckFreeSpace(job.ArchiveName, job.DestinationDir);
  if (space.Fits()) return -1;
  std::fprintf(stderr, "korvane: not enough space at %s: %llu MB needed, %llu MB free (-f extracts anyway)\n",
               DisplayName(job.DestinationDir).c_str(),
               static_cast<unsigned long long>(SpaceCheck::Megabytes(space.Needed)),
               static_cast<unsigned long long>(space.Free >> 20));
  return 1;
}

struct RunOutcome {
  std::int32_t Processed = 0;
  int Failures = 0;  // named on stderr
  bool ArchiveRefused = false, DiskFull = false;
};

// The engine's run with the terminal as its host, interruptible by the stop signals.
RunOutcome RunJob(const Options& options, ExtractionJob& job) {
  const NameCharset charset(options.Charset);
  ConsoleHost host;
  host.Charset = &charset;
  host.OverwriteAnswer = options.Overwrite;
  host.Verbose = options.Verbose;
  Extraction engine(host);
  const bool showProgress = !options.Quiet && (options.ForceProgress || StderrIsTerminal());
  VolumeProgress progress(job, showProgress, VolumeSizes(job.ArchiveName));
  host.OnProgress = [&] { progress.Update(engine.VolumePosition()); };
  host.CurrentEntry = [&] { return DisplayName(engine.CurrentEntry().Name); };
  host.BeforeMessage = [&] { progress.Clear(); };
  StatusLines lines(engine, job, progress, charset, options);
  host.OnStatus = [&](Status status) { lines(status); };

  g_job = &job;
  CatchStopSignals(true);
  RunOutcome outcome;
  outcome.Processed = engine.Run(job);
  CatchStopSignals(false);
  g_job = nullptr;
  progress.Clear();
  outcome.Failures = lines.Failures;
  outcome.ArchiveRefused = host.ArchiveRefused;
  outcome.DiskFull = host.DiskFull;
  return outcome;
}

int ExitCode(const Options& options, const ExtractionJob& job, const RunOutcome& outcome) {
  if (g_signal != 0) {
    std::fprintf(stderr, "korvane: interrupted\n");
    return 128 + g_signal;
  }
  // A run that never opened an archive has nothing to sum up.
  if (outcome.ArchiveRefused) return 2;
  const std::int32_t result = outcome.Processed;
  if (!options.Quiet) std::printf("%d entr%s processed, %d failed\n", result, result == 1 ? "y" : "ies", job.ErrorCount);
  // A failure that was named is the outcome even when nothing else was processed.
  if (result == 0 && outcome.Failures == 0) return 2;
  if (outcome.Failures != 0 || job.ErrorCount != 0 || !job.Running()) {
    if (outcome.Failures == 0 && !outcome.DiskFull)
      std::fprintf(stderr, "korvane: the run did not complete (a volume was missing or damaged)\n");
    return 1;
  }
  return 0;
}

int Run(int argc, char** argv, JobMode mode) {
  Options options;
  if (const int status = ReadOptions(argc, argv, mode, options); status >= 0) return status;
  auto job = std::make_unique<ExtractionJob>();
  if (const int status = PrepareRun(options, mode, *job); status >= 0) return status;
  const RunOutcome outcome = RunJob(options, *job);
  return ExitCode(options, *job, outcome);
}

}  // namespace

int RunTestCommand(int argc, char** argv) { return Run(argc, argv, JobMode::kTest); }
int RunExtractCommand(int argc, char** argv) { return Run(argc, argv, JobMode::kInstall); }

}  // namespace korvane::cli
