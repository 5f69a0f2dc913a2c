// korvane list ARCHIVE: one line per entry through every volume, split entries once.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "engine/archive_format.h"
#include "engine/entry_walk.h"
#include "engine/job.h"
#include "engine/volumes.h"
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

struct Row {
  FileHeader Header;
  std::string Name;
  std::uint64_t Packed = 0;
  bool OldLayout = false;
};

std::string Attributes(std::uint32_t a) {
  std::string s = "......";
  const char letters[] = "RHSVDA";
  for (int bit = 0; bit < 6; ++bit)
    if (a & (1u << bit)) s[static_cast<std::size_t>(bit)] = letters[bit];
  return s;
}

void PrintRow(const Row& r) {
  const FileHeader& h = r.Header;
  const DosDateTime t = SplitDosTime(h.FileTime);
  const unsigned ratio = h.UnpSize == 0 ? 0 : static_cast<unsigned>(r.Packed * 100 / h.UnpSize);
  char crc[16];
  if (r.OldLayout)
    std::snprintf(crc, sizeof crc, "    %04" PRIx32, h.FileCRC & 0xFFFF);
  else
    std::snprintf(crc, sizeof crc, "%08" PRIx32, h.FileCRC);
  std::printf("%s %10" PRIu32 " %10" PRIu64 " %4u%% %04d-%02d-%02d %02d:%02d:%02d %s %u.%u m%c%s %s\n",
              Attributes(h.FileAttr).c_str(), h.UnpSize, r.Packed, ratio, t.Year, t.Month, t.Day, t.Hour, t.Minute,
              t.Second, crc, h.UnpVer / 10u, h.UnpVer % 10u, h.Method >= '0' && h.Method <= '9' ? h.Method : '?', (h.HeadFlags & kEncrypted) ? "*" : " ",
              DisplayName(r.Name.c_str()).c_str());
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
  if (!PrepareJob(job, 'T', archive, "")) {
    std::fprintf(stderr, "korvane: archive name too long: %s\n", archive);
    return 2;
  }
  if (!CheckArchiveReadable(archive)) return 2;
  const NameCharset charset(charsetName.c_str());
  ConsoleHost host;
  ArchiveReader reader(host);
  if (!OpenArchive(reader, job, nullptr)) return 2;
  const ArchiveState& a = reader.Archive;
  const bool oldLayout = a.Format == ArchiveFormat::kOld;
  std::printf("Archive %s: %s layout%s\n\n", Printable(archive).c_str(), oldLayout ? "old (1.x)" : "new (2.0)",
              a.SolidArchive ? ", solid" : "");
  std::puts("Attrs        Size     Packed Ratio Date       Time     CRC      Ver Meth Name");

  std::optional<Row> pending;
  std::uint64_t files = 0, totalUnpacked = 0, totalPacked = 0;
  auto flush = [&] {
    if (!pending) return;
    PrintRow(*pending);
    ++files;
    totalUnpacked += pending->Header.UnpSize;
    totalPacked += pending->Packed;
    pending.reset();
  };
  const WalkEnd end = ForEachEntry(reader, job, [&](WalkStep step) {
    const FileHeader& h = a.File;
    if (step == WalkStep::kContinuation && pending) {
      // The continuing part: its packed bytes add up, its CRC is the one of the whole entry.
      pending->Packed += h.PackSize;
      pending->Header.FileCRC = h.FileCRC;
      pending->Header.HeadFlags = h.HeadFlags;
    } else {
      flush();
      pending = Row{h, a.EntryName, h.PackSize, oldLayout};
      char name[sizeof a.EntryName];
      std::memcpy(name, a.EntryName, sizeof name);
      if (charset.Convert(h.HostOS, name, sizeof name)) pending->Name = name;
    }
    return true;
  });
  int result = 0;
  if (end == WalkEnd::kMoveFailed) {
    result = 1;
  } else if (!host.SawUnexpectedEnd && reader.Input.Length() >= std::uint64_t{a.CurrentBlockPos} + kNewFileHeaderSize) {
    // A full header's worth of bytes left over means the chain broke, not that it ended.
    std::fflush(stdout);
    std::fprintf(stderr, "korvane: %s: damaged block chain at offset %" PRIu32 "\n", Printable(job.ArchiveName).c_str(),
                 a.CurrentBlockPos);
    result = 1;
  }
  flush();
  if (host.SawUnexpectedEnd) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvane: %s: the archive ends before its last block\n", Printable(job.ArchiveName).c_str());
    result = 1;
  }
  const unsigned ratio = totalUnpacked == 0 ? 0 : static_cast<unsigned>(totalPacked * 100 / totalUnpacked);
  std::printf("%" PRIu64 " file%s, %" PRIu64 " bytes, %" PRIu64 " packed (%u%%), %d volume%s\n", files,
              files == 1 ? "" : "s", totalUnpacked, totalPacked, ratio, job.CurrentVolume,
              job.CurrentVolume == 1 ? "" : "s");
  return result;
}

}  // namespace korvane::cli
