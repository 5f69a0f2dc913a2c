#include "engine/engine.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>

#include "engine/archive_format.h"
#include "engine/entry_walk.h"
#include "engine/extraction.h"
#include "engine/file_ops.h"
#include "engine/output_file.h"
#include "engine/volumes.h"
#include "unpack/unpack_state.h"

namespace korvane {
namespace {

EntryInfo InfoOf(const ArchiveState& a) {
  const FileHeader& h = a.File;
  EntryInfo e;
  e.Name = a.EntryName;
  e.HostOs = h.HostOS;
  e.UnpackedSize = h.UnpSize;
  e.PackedSize = h.PackSize;
  const DosDateTime t = SplitDosTime(h.FileTime);
  e.Time = {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second};
  e.Attributes = h.FileAttr;
  e.Checksum = a.Format == ArchiveFormat::kOld ? h.FileCRC & 0xFFFF : h.FileCRC;
  e.Version = h.UnpVer;
  e.Method = h.Method;
  e.Encrypted = (h.HeadFlags & kEncrypted) != 0;
  return e;
}

}  // namespace

struct Extraction::Parts {
  explicit Parts(Host& host) : Reader(host), Unpack(new (std::nothrow) UnpackState) {}
  ArchiveReader Reader;
  std::unique_ptr<UnpackState> Unpack;
};

Extraction::Extraction(Host& host) : P(std::make_unique<Parts>(host)) {}
Extraction::~Extraction() = default;

bool Extraction::Ready() const { return P->Unpack != nullptr; }

std::int32_t Extraction::Run(ExtractionJob& job) {
  if (!Ready()) {
    P->Reader.Frontend.Tell(Notice::kOutOfMemory, nullptr);
    job.ErrorCount = 0;
    return 0;
  }
  return RunExtraction(P->Reader, *P->Unpack, job);
}

EntryInfo Extraction::CurrentEntry() const { return InfoOf(P->Reader.Archive); }

std::int64_t Extraction::VolumePosition() const { return P->Reader.Input.Position(); }

FirstVolume FindFirstVolume(const char* name) {
  FirstVolume result;
  ExtractionJob job;
  if (!PrepareJob(job, JobMode::kTest, name, "")) return result;
  SilentHost silent;  // an archive that cannot be read is the run's to report
  ArchiveReader reader(silent);
  if (!OpenArchive(reader, job) || NextBlock(reader, kFileHead, false) == 0 ||
      (reader.Archive.File.HeadFlags & kSplitBefore) == 0)
    return result;
  char first[sizeof job.ArchiveName];
  std::memcpy(first, job.ArchiveName, sizeof first);
  if (!FindFirstVolumeName(first, sizeof first)) ReplaceExtension(first, sizeof first, "rar");
  // Sets from old media spell their names in capitals, which the file layer finds, but the
  // user may not: the name is given back in the case of the one given.
  char* dot = FindExtensionDot(first);
  const char* givenDot = std::strrchr(job.ArchiveName, '.');
  if (dot != nullptr && givenDot != nullptr && std::isupper(static_cast<unsigned char>(givenDot[1])))
    for (char* c = dot + 1; *c != '\0'; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  result.Later = true;
  result.Missing = CompareNoCase(first, job.ArchiveName) == 0;
  result.Name = first;
  return result;
}

std::vector<std::uint64_t> VolumeSizes(const char* name) {
  char volume[sizeof ExtractionJob{}.ArchiveName];
  std::snprintf(volume, sizeof volume, "%s", name);
  std::vector<std::uint64_t> sizes;
  do {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(volume, error);
    if (error) break;
    sizes.push_back(size);
  } while (sizes.size() < 2000 && AdvanceVolumeName(volume, sizeof volume));
  return sizes;
}

void MakeDestination(Host& host, const char* destination) {
  std::string path(destination);  // rewritten in place, separators and all
  MakeDirectories(host, path.data());
}

ListEnd ListArchive(Host& host, ExtractionJob& job, const std::function<void(bool oldLayout, bool solid)>& opened,
                    const std::function<void(const EntryInfo&)>& entry) {
  ListEnd end;
  ArchiveReader reader(host);
  if (!OpenArchive(reader, job)) return end;
  const ArchiveState& a = reader.Archive;
  end.Opened = true;
  end.OldLayout = a.Format == ArchiveFormat::kOld;
  end.Solid = a.SolidArchive;
  opened(end.OldLayout, end.Solid);

  std::optional<EntryInfo> pending;
  std::string pendingName;
  const auto flush = [&] {
    if (!pending) return;
    pending->Name = pendingName.c_str();
    entry(*pending);
    pending.reset();
  };
  const WalkEnd walked = ForEachEntry(reader, job, [&](WalkStep step) {
    if (step == WalkStep::kContinuation && pending) {
      // The continuing part: its packed bytes add up, its checksum is the whole entry's.
      const EntryInfo part = InfoOf(a);
      pending->PackedSize += part.PackedSize;
      pending->Checksum = part.Checksum;
      pending->Encrypted = part.Encrypted;
      return true;
    }
    flush();
    pending = InfoOf(a);
    char name[sizeof a.EntryName];
    std::memcpy(name, a.EntryName, sizeof name);
    pendingName = host.AdaptEntryName(a.File.HostOS, name, sizeof name) ? name : a.EntryName;
    return true;
  });
  end.MoveFailed = walked == WalkEnd::kMoveFailed;
  end.BrokenAt = a.CurrentBlockPos;
  end.ChainBroke = !end.MoveFailed && reader.Input.Length() >= std::uint64_t{a.CurrentBlockPos} + kNewFileHeaderSize;
  flush();
  end.Volumes = job.CurrentVolume;
  return end;
}

}  // namespace korvane
