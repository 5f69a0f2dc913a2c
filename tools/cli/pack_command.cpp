// korvane pack: stores or packs files and directories in a new archive, optionally solid and
// split into volumes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/cli/commands.h"
#include "tools/cli/terminal.h"
#include "tools/packer/packer.h"


namespace korvane::cli {
namespace {

constexpr const char* kPackUsage =
    "usage: korvane pack [OPTIONS] ARCHIVE.rar PATH...\n"
    "\n"
    "Packs every PATH (a directory with everything below it) into ARCHIVE.rar.\n"
    "\n"
    "  -m0 .. -m5            -m0 stores, -m1 packs fastest ... -m5 smallest (default -m3);\n"
    "                        a file that packing does not shrink is stored\n"
    "  -mm                   weigh multimedia (audio delta) coding for every file, not only\n"
    "                        for what looks like PCM audio (-m4 and -m5 try it there)\n"
    "  -s                    solid: one packed stream through all files\n"
    "  -q                    no progress and no summary\n"
    "  --volume-size BYTES   split into volumes of at most BYTES (suffix k or m for KiB/MiB);\n"
    "                        further volumes are named .r00, .r01, ...\n"
    "  --volume-count N      choose the volume size that gives exactly N volumes\n"
    "  --host-os windows|unix  host system written into the headers (default: this system);\n"
    "                        windows stores MS-DOS attributes (read-only is kept), unix the mode bits\n"
    "  --time 'YYYY-MM-DD HH:MM:SS'  give every entry this time instead of its own\n"
    "\n"
    "On any error nothing is left behind.\n";

bool ParseSize(const char* text, std::uint64_t& out) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (end == text) return false;
  std::uint64_t scale = 1;
  if (*end == 'k' || *end == 'K') scale = 1024, ++end;
  else if (*end == 'm' || *end == 'M') scale = 1024 * 1024, ++end;
  if (*end != '\0' || v == 0) return false;
  out = v * scale;
  return true;
}

bool ParseTime(const char* text, std::uint32_t& out) {
  int y, mo, d, h, mi, s;
  char tail;
  if (std::sscanf(text, "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
  if (y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 ||
      s < 0 || s > 59)
    return false;
  out = packer::DosTime(y, mo, d, h, mi, s);
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "korvane pack: %s\n", message.c_str());
  return 1;
}

// Inputs at least this large show progress on a terminal.
constexpr std::uint64_t kProgressFrom = 1 << 20;

// The packed data waits in a file beside the archive until the volumes are written.
class PackedDataFile {
 public:
  explicit PackedDataFile(std::string path) : path_(std::move(path)) {}
  ~PackedDataFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int RunPackCommand(int argc, char** argv) {
  packer::PackOptions options;
  options.Level = 3;
  bool quiet = false;
  std::size_t volumeCount = 0;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      PrintUsage(kPackUsage);
      return 0;
    } else if (arg == "--volume-size" && hasValue) {
      if (!ParseSize(argv[++i], options.VolumeSize)) return Fail(std::string("bad volume size '") + argv[i] + "'");
    } else if (arg == "--volume-count" && hasValue) {
      std::uint64_t n = 0;
      if (!ParseSize(argv[++i], n) || n > 100000) return Fail(std::string("bad volume count '") + argv[i] + "'");
      volumeCount = static_cast<std::size_t>(n);
    } else if (arg == "--host-os" && hasValue) {
      const std::string v = argv[++i];
      if (v == "windows") options.HostOs = packer::kHostWindows;
      else if (v == "unix") options.HostOs = packer::kHostUnix;
      else return Fail("host system must be windows or unix, not '" + v + "'");
    } else if (arg == "--time" && hasValue) {
      std::uint32_t t = 0;
      if (!ParseTime(argv[++i], t)) return Fail(std::string("bad time '") + argv[i] + "' (want YYYY-MM-DD HH:MM:SS)");
      options.FixedDosTime = t;
    } else if (arg.size() == 3 && arg[0] == '-' && arg[1] == 'm' && arg[2] >= '0' && arg[2] <= '5') {
      options.Level = arg[2] - '0';
    } else if (arg == "-mm") {
      options.Multimedia = true;
    } else if (arg == "-s") {
      options.Solid = true;
    } else if (arg == "-q") {
      quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      return Fail("unknown or incomplete option '" + arg + "' (see korvane pack --help)");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() < 2) {
    PrintUsage(kPackUsage);
    return 2;
  }
  if (volumeCount != 0 && options.VolumeSize != 0) return Fail("give --volume-size or --volume-count, not both");

  const std::string archive = positional.front();
  const std::vector<std::string> paths(positional.begin() + 1, positional.end());
  std::vector<packer::PackSource> sources;
  std::string error;
  if (!packer::CollectSources(paths, options, sources, error)) return Fail(error);
  std::uint64_t input = 0;
  for (const packer::PackSource& s : sources) input += s.Size;
  const bool showProgress = !quiet && input >= kProgressFrom && StderrIsTerminal();
  int shownPercent = -1;
  if (showProgress) {
    options.Progress = [&](std::uint64_t done, std::uint64_t total) {
      const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
      if (percent == shownPercent) return;
      shownPercent = percent;
      char bar[21];
      for (int i = 0; i < 20; ++i) bar[i] = i < percent / 5 ? '#' : '.';
      bar[20] = '\0';
      std::fprintf(stderr, "\r[%s] %3d%%  packing %llu of %llu bytes\x1b[K", bar, percent,
                   static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
      std::fflush(stderr);
    };
  }
  const PackedDataFile packed(archive + ".packing");
  const bool packedOk = packer::PackSources(sources, options, packed.Path(), error);
  if (shownPercent >= 0) std::fputs("\r\x1b[K", stderr);
  if (!packedOk) return Fail(error);
  if (volumeCount > 1) {
    const auto size = packer::VolumeSizeForCount(sources, volumeCount);
    if (!size) return Fail("no volume size gives exactly " + std::to_string(volumeCount) + " volumes for this data");
    options.VolumeSize = *size;
  }
  std::vector<packer::VolumePlan> plan;
  if (!packer::PlanVolumes(sources, options.VolumeSize, plan, error)) return Fail(error);
  std::vector<std::string> written;
  if (!packer::WriteVolumes(archive, sources, plan, options, written, error)) return Fail(error);

  if (quiet) return 0;
  std::uint64_t data = 0;
  for (const packer::PackSource& s : sources) data += s.Method == packer::kMethodStored ? s.Size : s.PackedSize;
  if (options.Level == 0) {
    std::printf("%s: %zu entries, %llu bytes stored", archive.c_str(), sources.size(),
                static_cast<unsigned long long>(input));
  } else {
    std::printf("%s: %zu entries, %llu bytes packed into %llu (%.1f%%)%s", archive.c_str(), sources.size(),
                static_cast<unsigned long long>(input), static_cast<unsigned long long>(data),
                input == 0 ? 100.0 : 100.0 * static_cast<double>(data) / static_cast<double>(input),
                options.Solid ? ", solid" : "");
  }
  std::printf(", %zu volume%s", written.size(), written.size() == 1 ? "" : "s");
  if (written.size() > 1) std::printf(" of at most %llu bytes", static_cast<unsigned long long>(options.VolumeSize));
  std::printf("\n");
  return 0;
}

}  // namespace korvane::cli
