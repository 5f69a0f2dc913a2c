// The archive writer: writes the archive layout the installer reads (signature, main header,
// file headers with their data), optionally split into volumes name.rar, name.r00, ...
// Entries are stored (kMethodStored) or packed with the format 2.0 packer (one method per
// level up to kMethodBest), each on its own or as one solid stream.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_layout.h"

namespace korvane {

struct PackOptions {
  std::uint64_t VolumeSize = 0;                // 0: one file, no volumes
  std::uint8_t HostOs = kNativeHost;           // kHostMsdos, kHostWindows or kHostUnix
  std::optional<std::uint32_t> FixedDosTime;   // every entry gets this time when set
  int Level = 0;                               // 0 stores; 1 (fastest) to 5 (smallest) pack
  bool Solid = false;                          // one packed stream through all entries
  bool Multimedia = false;                     // weigh multimedia blocks for all data
  bool FollowAllLinks = false;                 // also links that lead outside the given paths
  // Called now and then while packing with the bytes read so far and in all.
  std::function<void(std::uint64_t done, std::uint64_t total)> Progress;
  // Called as each volume is renamed to its final name, so that an interrupted run knows
  // which final names are its own.
  std::function<void(std::size_t volume)> VolumeInPlace;
};

// One file or directory to be archived, as found on disk, and how its data is written.
struct PackSource {
  std::string Name;       // archive name, parts separated by '\'
  std::string Path;       // where it is read from
  bool Directory = false;
  std::uint64_t Size = 0;
  std::uint32_t DosTime = 0;
  std::uint32_t Attributes = 0;  // DOS attribute bits for MS-DOS and Windows, the st_mode bits for Unix
  // Filled by CollectSources for a stored entry, changed by PackSources for a packed one.
  std::uint8_t Method = kMethodStored;
  std::uint64_t PackedSize = 0;     // bytes of data in the volumes
  std::string DataPath;             // where those bytes are read from
  std::uint64_t DataOffset = 0;     // and from which offset
  std::uint32_t PackedCrc = 0;      // packed entries: the CRC-32 of the file, as FileCRC holds it
  bool Solid = false;               // kSolidEntry: continues the packed stream of the entries before
};

// One stretch of an entry's data inside one volume.
struct PartPlan {
  std::size_t Entry = 0;     // index into the sources
  std::uint64_t Offset = 0;  // first data byte of the entry in this part
  std::uint64_t Size = 0;    // packed (= stored) bytes in this part
  bool ContinuesFromPrevious = false;  // kSplitBefore
  bool ContinuesInNext = false;        // kSplitAfter
};

struct VolumePlan {
  std::vector<PartPlan> Parts;
  std::uint64_t Bytes = 0;  // length of the volume file
};

// Walks the given paths (a directory is stored with everything below it, named from its
// own base name) in a stable order: a directory before its contents, names sorted bytewise.
// Every file is opened once here so that an unreadable one fails before anything is written.
// A symbolic link is followed when its target lies inside one of the given paths (or with
// FollowAllLinks); otherwise, and always when it leads to a directory it is in, it is left
// out and its path added to skippedLinks.
bool CollectSources(const std::vector<std::string>& paths, const PackOptions& options,
                    std::vector<PackSource>& sources, std::vector<std::string>& skippedLinks, std::string& error);

// Packs the files at options.Level into packedPath, one after the other, and points each
// packed source there. A file that packing does not make smaller stays stored (and, in a
// solid archive, leaves the stream as if it had never been there).
bool PackSources(std::vector<PackSource>& sources, const PackOptions& options, const std::string& packedPath,
                 std::string& error);

// Smallest volume size the planner accepts for these sources: room for the main header, two
// file headers and two data bytes, which guarantees that every volume but the last can end
// inside an entry marked as continuing (the reader only moves on after such an entry).
std::uint64_t MinimumVolumeSize(const std::vector<PackSource>& sources);

// Lays the entries out over volumes of at most volumeSize bytes (0: a single file).
bool PlanVolumes(const std::vector<PackSource>& sources, std::uint64_t volumeSize,
                 std::vector<VolumePlan>& volumes, std::string& error);

// Finds the volume size that gives exactly `count` volumes, if there is one.
std::optional<std::uint64_t> VolumeSizeForCount(const std::vector<PackSource>& sources, std::size_t count);

// The names of the planned volumes, the first being archivePath.
std::vector<std::string> VolumeNames(const std::string& archivePath, std::size_t count);
// The temporary name a volume is written under until all are complete.
std::string TemporaryVolumeName(const std::string& volumeName);

// Writes the planned volumes, the first at archivePath. Each volume is written under a
// temporary name and renamed only when all of them are complete; on any failure every
// file this call created is removed. `written` receives the final volume paths in order.
bool WriteVolumes(const std::string& archivePath, const std::vector<PackSource>& sources,
                  const std::vector<VolumePlan>& volumes, const PackOptions& options,
                  std::vector<std::string>& written, std::string& error);

}  // namespace korvane
