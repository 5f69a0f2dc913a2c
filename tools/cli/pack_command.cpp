// korvane pack: stores or packs files and directories in a new archive, optionally solid and
// split into volumes. An interrupted or failed run removes every file it made.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "archive/archive_writer.h"
#include "tools/cli/charset.h"
#include "tools/cli/commands.h"
#include "tools/cli/options.h"
#include "tools/cli/progress_line.h"
#include "tools/cli/terminal.h"
#include "tools/cli/values.h"

namespace korvane::cli {
namespace {

constexpr OptionEntry kPackOptions[] = {
    {.Short = "m", .Value = "N", .Help = "-m0 stores, -m1 packs fastest ... -m5 smallest (default -m3);\n"
                                         "a file that packing does not shrink is stored",
     .Attached = true},
    {.Short = "mm", .Help = "weigh multimedia (audio delta) coding for every file, not only\n"
                            "for what looks like PCM audio (-m4 and -m5 try it there)"},
    {.Short = "s", .Help = "solid: one packed stream through all files"},
    {.Short = "f", .Help = "replace ARCHIVE (and volumes of the same names) if it exists"},
    {.Short = "L", .Help = "follow every symbolic link; without it a link that leads outside\n"
                           "the PATHs is left out with a warning"},
    {.Short = "q", .Help = "no progress and no summary"},
    {.Long = "volume-size", .Value = "BYTES",
     .Help = "split into volumes of at most BYTES (suffix k or m for KiB/MiB);\n"
             "further volumes are named .r00, .r01, ..."},
    {.Long = "volume-count", .Value = "N", .Help = "choose the volume size that gives exactly N volumes"},
    {.Long = "host-os", .Value = "msdos|windows|unix",
     .Help = "host system written into the headers (default: this\n"
             "system); msdos and windows store MS-DOS attributes (read-only is\n"
             "kept) and names in a code page, unix the mode bits and UTF-8 names"},
    {.Long = "charset", .Value = "NAME", .Help = "code page of the names for msdos and windows (an iconv name;\n"
                                                 "default cp437 for msdos, cp1252 for windows)",
     .With = "host-os"},
    {.Long = "time", .Value = "TIME", .Help = "give every entry this time ('YYYY-MM-DD HH:MM:SS') instead of its own"},
};

const CommandTable kPackCommand{
    .Name = "pack",
    .Options = kPackOptions,
    .Operands = "ARCHIVE PATH...",
    .Description = "Packs every PATH (a directory with everything below it) into ARCHIVE (name.rar).",
    .Epilogue = "exit status: 0 packed, 1 a file could not be packed, 2 a usage error or an existing\n"
                "ARCHIVE; 128 + the signal when interrupted. On any error or interruption nothing is\n"
                "left behind.",
};

constexpr std::size_t kMostVolumes = 100000;

int Fail(const std::string& message) {
  std::fprintf(stderr, "korvane pack: %s\n", message.c_str());
  return 1;
}

int UsageError(const std::string& message) { return cli::UsageError(kPackCommand, message); }

struct PackArguments {
  PackOptions Options;
  bool Quiet = false;
  bool Force = false;
  std::size_t VolumeCount = 0;
  std::string Charset;  // empty: the host system's default
  std::string Archive;
  std::vector<std::string> Paths;
};

// The values that need checking, each refused naming its flag.
int TakeValues(const ParsedArgs& parsed, PackArguments& args) {
  PackOptions& o = args.Options;
  if (const char* level = parsed.Value("m"); level != nullptr && !ParseLevel(level, o.Level))
    return UsageError("-m takes a level from 0 to 5, not '" + std::string(level) + "'");
  if (const char* size = parsed.Value("volume-size"); size != nullptr && !ParsePositive(size, true, o.VolumeSize))
    return UsageError("--volume-size needs a positive size, not '" + std::string(size) + "'");
  if (const char* count = parsed.Value("volume-count")) {
    std::uint64_t n = 0;
    if (!ParsePositive(count, false, n) || n > kMostVolumes)
      return UsageError("--volume-count needs a count from 1 to " + std::to_string(kMostVolumes) + ", not '" +
                        count + "'");
    args.VolumeCount = static_cast<std::size_t>(n);
  }
  if (const char* host = parsed.Value("host-os")) {
    const std::string v = host;
    if (v == "msdos") o.HostOs = kHostMsdos;
    else if (v == "windows") o.HostOs = kHostWindows;
    else if (v == "unix") o.HostOs = kHostUnix;
    else return UsageError("--host-os must be msdos, windows or unix, not '" + v + "'");
  }
  if (const char* time = parsed.Value("time")) {
    std::uint32_t t = 0;
    if (!ParseDosTime(time, t)) return UsageError("--time needs YYYY-MM-DD HH:MM:SS, not '" + std::string(time) + "'");
    o.FixedDosTime = t;
  }
  if (const char* charset = parsed.Value("charset")) args.Charset = charset;
  return 0;
}

// The code page names are stored in, or empty for a Unix host.
std::string NameCodePage(const PackArguments& args) {
  if (args.Options.HostOs == kHostUnix) return std::string();
  if (!args.Charset.empty()) return args.Charset;
  return args.Options.HostOs == kHostMsdos ? "CP437" : "CP1252";
}

// Fills args from the command line; returns -1 to go on, else the exit code (0 after --help).
int ParseArguments(int argc, char** argv, PackArguments& args) {
  args.Options.Level = 3;
  ParsedArgs parsed;
  if (const int status = ParseCommandLine(kPackCommand, argc, argv, parsed); status >= 0) return status;
  if (const int status = TakeValues(parsed, args); status != 0) return status;
  args.Options.Multimedia = parsed.Has("mm");
  args.Options.Solid = parsed.Has("s");
  args.Force = parsed.Has("f");
  args.Options.FollowAllLinks = parsed.Has("L");
  args.Quiet = parsed.Has("q");
  if (args.VolumeCount != 0 && args.Options.VolumeSize != 0)
    return UsageError("give --volume-size or --volume-count, not both");
  if (!args.Charset.empty() && args.Options.HostOs == kHostUnix)
    return UsageError("--charset goes with --host-os msdos or windows");
  // Checked before any file is read, as every other value is.
  if (const std::string codePage = NameCodePage(args); !codePage.empty() && !NameEncoder(codePage.c_str()).Valid())
    return UsageError("unknown charset '" + codePage + "'");
  const std::vector<const char*>& operands = parsed.Operands();
  args.Archive = operands.front();
  args.Paths.assign(operands.begin() + 1, operands.end());
  return -1;
}

// Names for a DOS or Windows host are stored in its code page. A name the code page cannot
// hold is refused rather than stored in a form no reader shows as it was.
int EncodeNames(const PackArguments& args, std::vector<PackSource>& sources) {
  if (args.Options.HostOs == kHostUnix) return 0;
  const bool msdos = args.Options.HostOs == kHostMsdos;
  const std::string charset = NameCodePage(args);
  const NameEncoder encoder(charset.c_str());
  if (!encoder.Valid()) return UsageError("unknown charset '" + charset + "'");
  for (PackSource& s : sources)
    if (!encoder.Encode(s.Name))
      return Fail("cannot store '" + s.Path + "' for " + (msdos ? "msdos" : "windows") + ": code page " + charset +
                  " has no place for a character of its name (give another --charset, or --host-os unix to store"
                  " names as UTF-8)");
  return 0;
}

// Inputs at least this large show progress on a terminal.
constexpr std::uint64_t kProgressFrom = 1 << 20;

// What an interrupted run must remove: the packed data, the temporary volumes, and the final
// volumes already moved into place (never a file of that name from before the run). The
// signal handler reads it, so the lists are complete before a count makes them visible.
struct RunFiles {
  std::string Packed;
  std::vector<std::string> Temporary, Final;
  std::atomic<std::size_t> VolumesKnown{0};
  std::atomic<std::size_t> VolumesInPlace{0};
};
std::atomic<RunFiles*> g_runFiles{nullptr};

void RemoveFile(const std::string& path) { RemovePath(path.c_str()); }

extern "C" void RemoveRunFilesAndExit(int signal) {
  if (const RunFiles* files = g_runFiles.load()) {
    RemoveFile(files->Packed);
    const std::size_t known = files->VolumesKnown.load(), inPlace = files->VolumesInPlace.load();
    for (std::size_t v = 0; v < known; ++v) RemoveFile(files->Temporary[v]);
    for (std::size_t v = 0; v < inPlace && v < known; ++v) RemoveFile(files->Final[v]);
  }
  _exit(128 + signal);
}

// Owns the run's files for the signal handler and removes the packed data however the run ends.
class RunFilesGuard {
 public:
  explicit RunFilesGuard(std::string packed) {
    files_.Packed = std::move(packed);
    g_runFiles.store(&files_);
    for (const int signal : kStopSignals) std::signal(signal, RemoveRunFilesAndExit);
  }
  ~RunFilesGuard() {
    for (const int signal : kStopSignals) std::signal(signal, SIG_DFL);
    g_runFiles.store(nullptr);
    std::error_code ec;
    std::filesystem::remove(files_.Packed, ec);
  }
  RunFilesGuard(const RunFilesGuard&) = delete;
  RunFilesGuard& operator=(const RunFilesGuard&) = delete;

  const std::string& Packed() const { return files_.Packed; }
  void SetVolumes(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      files_.Temporary.push_back(TemporaryVolumeName(name));
      files_.Final.push_back(name);
    }
    files_.VolumesKnown.store(names.size());
  }
  void VolumeInPlace(std::size_t volume) { files_.VolumesInPlace.store(volume + 1); }

 private:
  RunFiles files_;
};

int RefuseExisting(const std::string& path) {
  std::fprintf(stderr, "korvane: %s exists; use -f to replace it\n", path.c_str());
  return 2;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string PackingDetail(std::uint64_t done, std::uint64_t total) {
  char text[96];
  std::snprintf(text, sizeof text, "  packing %llu of %llu bytes", static_cast<unsigned long long>(done),
                static_cast<unsigned long long>(total));
  return text;
}

void PrintSummary(const PackArguments& args, const std::vector<PackSource>& sources,
                  const std::vector<std::string>& written, std::uint64_t volumeSize) {
  std::uint64_t input = 0, data = 0;
  for (const PackSource& s : sources) {
    input += s.Size;
    data += s.Method == kMethodStored ? s.Size : s.PackedSize;
  }
  const char* archive = args.Archive.c_str();
  if (args.Options.Level == 0) {
    std::printf("%s: %zu entries, %llu bytes stored", archive, sources.size(), static_cast<unsigned long long>(input));
  } else {
    std::printf("%s: %zu entries, %llu bytes packed into %llu (%.1f%%)%s", archive, sources.size(),
                static_cast<unsigned long long>(input), static_cast<unsigned long long>(data),
                input == 0 ? 100.0 : 100.0 * static_cast<double>(data) / static_cast<double>(input),
                args.Options.Solid ? ", solid" : "");
  }
  std::printf(", %zu volume%s", written.size(), written.size() == 1 ? "" : "s");
  if (written.size() > 1) std::printf(" of at most %llu bytes", static_cast<unsigned long long>(volumeSize));
  std::printf("\n");
}

// Collects the sources with their stored names, warning of every link left out.
int CollectNamedSources(const PackArguments& args, std::vector<PackSource>& sources,
                        std::size_t& skippedLinks) {
  std::vector<std::string> links;
  std::string error;
  if (!CollectSources(args.Paths, args.Options, sources, links, error)) return Fail(error);
  for (const std::string& link : links)
    std::fprintf(stderr, "korvane pack: warning: left out the link '%s': it leads outside the packed paths or "
                 "into a folder it is in (-L follows links outside)\n", link.c_str());
  skippedLinks = links.size();
  return EncodeNames(args, sources);
}

}  // namespace

int RunPackCommand(int argc, char** argv) {
  PackArguments args;
  if (const int status = ParseArguments(argc, argv, args); status >= 0) return status;
  PackOptions& options = args.Options;
  if (!args.Force && Exists(args.Archive)) return RefuseExisting(args.Archive);
  std::vector<PackSource> sources;
  std::size_t skippedLinks = 0;
  if (const int status = CollectNamedSources(args, sources, skippedLinks); status != 0) return status;
  std::uint64_t input = 0;
  for (const PackSource& s : sources) input += s.Size;
  const bool showProgress = !args.Quiet && input >= kProgressFrom && StderrIsTerminal();
  ProgressLine progress(showProgress, false);
  if (showProgress)
    options.Progress = [&](std::uint64_t done, std::uint64_t total) {
      progress.Update(done, total, PackingDetail(done, total));
    };

  RunFilesGuard files(args.Archive + ".packing");
  std::string error;
  const bool packedOk = PackSources(sources, options, files.Packed(), error);
  progress.Clear();
  if (!packedOk) return Fail(error);
  if (args.VolumeCount > 1) {
    const auto size = VolumeSizeForCount(sources, args.VolumeCount);
    if (!size)
      return Fail("no volume size gives exactly " + std::to_string(args.VolumeCount) + " volumes for this data");
    options.VolumeSize = *size;
  }
  std::vector<VolumePlan> plan;
  if (!PlanVolumes(sources, options.VolumeSize, plan, error)) return Fail(error);
  const std::vector<std::string> names = VolumeNames(args.Archive, plan.size());
  for (const std::string& name : names)
    if (!args.Force && Exists(name)) return RefuseExisting(name);
  files.SetVolumes(names);
  options.VolumeInPlace = [&](std::size_t volume) { files.VolumeInPlace(volume); };
  std::vector<std::string> written;
  if (!WriteVolumes(args.Archive, sources, plan, options, written, error)) return Fail(error);

  if (skippedLinks != 0) std::fprintf(stderr, "korvane pack: %zu link%s left out\n", skippedLinks,
                                      skippedLinks == 1 ? "" : "s");
  if (!args.Quiet) PrintSummary(args, sources, written, options.VolumeSize);
  return 0;
}

}  // namespace korvane::cli
