// korvane list ARCHIVE: one line per entry through every volume, split entries once.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "tools/cli/commands.h"
#include "tools/cli/console_host.h"

namespace korvane::cli {
namespace {

constexpr char kListUsage[] =
    "usage: korvane list [--charset NAME] ARCHIVE\n"
    "\n"
    "Lists the entries of an archive (also one behind a self-extracting program), following\n"
    "it through all of its volumes (name.rar, name.r00, name.r01, ...). An entry split over\n"
    "volumes is shown once, with the packed sizes of all its parts added.\n"
    "  --charset NAME  code page of names from DOS and Windows archives (default cp437)\n"
    "\n"
    "exit status: 0 the whole archive was listed; 1 a volume was missing or damaged;\n"
    "             2 the file cannot be opened or is not an archive.\n";

std::string Attributes(std::uint32_t a) {
  std::string s = "......";
  const char letters[] = "RHSVDA";
  for (int bit = 0; bit < 6; ++bit)
    if (a & (1u << bit)) s[static_cast<std::size_t>(bit)] = letters[bit];
  return s;
}

void PrintRow(const EntryInfo& e, bool oldLayout) {
  const EntryInfo::Stamp& t = e.Time;
  const unsigned ratio = e.UnpackedSize == 0 ? 0 : static_cast<unsigned>(e.PackedSize * 100 / e.UnpackedSize);
  char crc[16];
  if (oldLayout)
    std::snprintf(crc, sizeof crc, "    %04" PRIx32, e.Checksum);
  else
    std::snprintf(crc, sizeof crc, "%08" PRIx32, e.Checksum);
  std::printf("%s %10" PRIu64 " %10" PRIu64 " %4u%% %04d-%02d-%02d %02d:%02d:%02d %s %u.%u m%c%s %s\n",
              Attributes(e.Attributes).c_str(), e.UnpackedSize, e.PackedSize, ratio, t.Year, t.Month, t.Day, t.Hour,
              t.Minute, t.Second, crc, e.Version / 10u, e.Version % 10u,
              e.Method >= '0' && e.Method <= '9' ? e.Method : '?', e.Encrypted ? "*" : " ", DisplayName(e.Name).c_str());
}

}  // namespace

int RunListCommand(int argc, char** argv) {
  const char* archive = nullptr;
  std::string charsetName = kDefaultCharset;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(kListUsage);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("korvane list 1.0");
      return 0;
    }
    bool badCharset = false;
    if (TakeCharsetOption(argc, argv, i, charsetName, badCharset)) {
      if (badCharset) return 2;
      continue;
    }
    if (archive != nullptr || argv[i][0] == '-') {
      std::fputs(kListUsage, stderr);
      return 2;
    }
    archive = argv[i];
  }
  if (archive == nullptr) {
    std::fputs(kListUsage, stderr);
    return 2;
  }

  ExtractionJob job;
  if (!PrepareJob(job, JobMode::kTest, archive, "")) {
    std::fprintf(stderr, "korvane: archive name too long: %s\n", archive);
    return 2;
  }
  if (!CheckArchiveReadable(archive)) return 2;
  const NameCharset charset(charsetName.c_str());
  ConsoleHost host;
  host.Charset = &charset;
  bool oldLayout = false;
  std::uint64_t files = 0, totalUnpacked = 0, totalPacked = 0;
  const ListEnd end = ListArchive(
      host, job,
      [&](bool old, bool solid) {
        oldLayout = old;
        std::printf("Archive %s: %s layout%s\n\n", Printable(archive).c_str(), old ? "old (1.x)" : "new (2.0)",
                    solid ? ", solid" : "");
        std::puts("Attrs        Size     Packed Ratio Date       Time     CRC      Ver Meth Name");
      },
      [&](const EntryInfo& entry) {
        PrintRow(entry, oldLayout);
        ++files;
        totalUnpacked += entry.UnpackedSize;
        totalPacked += entry.PackedSize;
      });
  if (!end.Opened) return 2;
  int result = end.MoveFailed ? 1 : 0;
  if (!end.MoveFailed && !host.SawUnexpectedEnd && end.ChainBroke) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvane: %s: damaged block chain at offset %" PRIu32 "\n", Printable(job.ArchiveName).c_str(),
                 end.BrokenAt);
    result = 1;
  }
  if (host.SawUnexpectedEnd) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvane: %s: the archive ends before its last block\n", Printable(job.ArchiveName).c_str());
    result = 1;
  }
  const unsigned ratio = totalUnpacked == 0 ? 0 : static_cast<unsigned>(totalPacked * 100 / totalUnpacked);
  std::printf("%" PRIu64 " file%s, %" PRIu64 " bytes, %" PRIu64 " packed (%u%%), %d volume%s\n", files,
              files == 1 ? "" : "s", totalUnpacked, totalPacked, ratio, end.Volumes, end.Volumes == 1 ? "" : "s");
  return result;
}

}  // namespace korvane::cli
