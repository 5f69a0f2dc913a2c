// korvane list ARCHIVE: one line per entry through every volume, split entries once.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/engine.h"
#include "tools/cli/commands.h"
#include "tools/cli/console_host.h"
#include "tools/cli/options.h"

namespace korvane::cli {
namespace {

constexpr OptionEntry kListOptions[] = {kReadCharsetOption};

const CommandTable kListCommand{
    .Name = "list",
    .Options = kListOptions,
    .Operands = "ARCHIVE",
    .Description = "Lists the entries of an archive (also one behind a self-extracting program), following\n"
                   "it through all of its volumes (name.rar, name.r00, name.r01, ...). An entry split over\n"
                   "volumes is shown once, with the packed sizes of all its parts added.",
    .Epilogue = "exit status: 0 the whole archive was listed; 1 a volume was missing or damaged;\n"
                "             2 bad usage, or the file cannot be opened or is not an archive.",
};

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

// The header, one row per entry and the totals; end is where the walk stopped.
struct Listing {
  bool OldLayout = false;
  std::uint64_t Files = 0, Unpacked = 0, Packed = 0;
};

ListEnd PrintEntries(ConsoleHost& host, ExtractionJob& job, const char* archive, Listing& listing) {
  return ListArchive(
      host, job,
      [&](bool old, bool solid) {
        listing.OldLayout = old;
        std::printf("Archive %s: %s layout%s\n\n", Printable(archive).c_str(), old ? "old (1.x)" : "new (2.0)",
                    solid ? ", solid" : "");
        std::puts("Attrs        Size     Packed Ratio Date       Time     CRC      Ver Meth Name");
      },
      [&](const EntryInfo& entry) {
        PrintRow(entry, listing.OldLayout);
        ++listing.Files;
        listing.Unpacked += entry.UnpackedSize;
        listing.Packed += entry.PackedSize;
      });
}

int ExitCode(const ConsoleHost& host, const ExtractionJob& job, const ListEnd& end, const Listing& listing) {
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
  const unsigned ratio = listing.Unpacked == 0 ? 0 : static_cast<unsigned>(listing.Packed * 100 / listing.Unpacked);
  std::printf("%" PRIu64 " file%s, %" PRIu64 " bytes, %" PRIu64 " packed (%u%%), %d volume%s\n", listing.Files,
              listing.Files == 1 ? "" : "s", listing.Unpacked, listing.Packed, ratio, end.Volumes,
              end.Volumes == 1 ? "" : "s");
  return result;
}

}  // namespace

int RunListCommand(int argc, char** argv) {
  ParsedArgs args;
  if (const int status = ParseCommandLine(kListCommand, argc, argv, args); status >= 0) return status;
  const char* charsetName = ReadCharset(kListCommand, args);
  if (charsetName == nullptr) return 2;
  const char* archive = args.Operands()[0];

  ExtractionJob job;
  if (!PrepareJob(job, JobMode::kTest, archive, "")) {
    std::fprintf(stderr, "korvane: archive name too long: %s\n", archive);
    return 2;
  }
  if (!CheckArchiveReadable(archive)) return 2;
  const NameCharset charset(charsetName);
  ConsoleHost host;
  host.Charset = &charset;
  Listing listing;
  const ListEnd end = PrintEntries(host, job, archive, listing);
  return ExitCode(host, job, end, listing);
}

}  // namespace korvane::cli
