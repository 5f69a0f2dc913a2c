// The engine as its front ends see it: a job (engine/job.h), the host it talks to
// (engine/host.h), a run of the job, the look-ahead checks a front end makes before one, and
// the listing. The reader, the archive layout and the volume code stay behind this header.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/host.h"
#include "engine/job.h"
#include "engine/space_check.h"

namespace korvane {

// What a listing or a status names of an entry, as read from its header.
struct EntryInfo {
  const char* Name = "";         // as stored, in the archive's code page
  std::uint8_t HostOs = 0;       // the system the archive was made on
  std::uint64_t UnpackedSize = 0;
  std::uint64_t PackedSize = 0;  // all parts of an entry split over volumes
  struct Stamp {
    int Year, Month, Day, Hour, Minute, Second;
  } Time = {1980, 1, 1, 0, 0, 0};  // the MS-DOS stamp, local time
  std::uint32_t Attributes = 0;  // DOS attribute bits (read-only 0x01 ... archive 0x20)
  std::uint32_t Checksum = 0;    // CRC-32, or the old layout's 16-bit checksum
  std::uint8_t Version = 0;      // the unpacker version needed, times ten
  std::uint8_t Method = 0;       // '0' stored ... '5' best
  bool Encrypted = false;
};

// A run of jobs: the reader and the decompression state (whose window carries a solid
// archive's dictionary from entry to entry), made once per program.
class Extraction {
 public:
  explicit Extraction(Host& host);
  ~Extraction();
  Extraction(const Extraction&) = delete;
  Extraction& operator=(const Extraction&) = delete;

  // False when the decompression state could not be had; Run then only tells kOutOfMemory.
  bool Ready() const;
  // Runs job.Mode on job.ArchiveName across its volumes; returns the entries extracted or
  // tested and leaves the failures in job.ErrorCount (see RunExtraction).
  std::int32_t Run(ExtractionJob& job);
  // While a status is reported or a question asked: the entry concerned.
  EntryInfo CurrentEntry() const;
  // How far the run has read in the current volume.
  std::int64_t VolumePosition() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> P;
};

// Whether name is a later volume of its set (its first entry goes on from an earlier one), and
// if so the volume to start with, spelled in the case of the name given.
struct FirstVolume {
  bool Later = false;    // name is not the first volume (false too when it cannot be read)
  bool Missing = false;  // the set's first volume is not there
  std::string Name;
};
FirstVolume FindFirstVolume(const char* name);

// The sizes of the volumes present from the first one (name) on, by the naming rule: the whole
// run's bytes, known before it starts (a run cannot go past a missing volume).
std::vector<std::uint64_t> VolumeSizes(const char* name);

// Makes the folders of a destination the user chose (each reported to the host's status hook);
// whether it worked is for the run to find out, which reports the files it cannot create.
void MakeDestination(Host& host, const char* destination);

// What a listing found besides its entries.
struct ListEnd {
  bool Opened = false;      // the archive could be opened and was one (else the host was told)
  bool OldLayout = false;   // the 1.x layout
  bool Solid = false;
  bool MoveFailed = false;  // a volume was missing or damaged (the host was told)
  // The chain of blocks broke at BrokenAt in the last volume: what lies behind it is more
  // than a header's worth of bytes, so it did not just end. A volume cut inside a block is
  // reported to the host as kUnexpEOF, and may also set this.
  bool ChainBroke = false;
  std::uint32_t BrokenAt = 0;
  std::int32_t Volumes = 0;  // read, the first one included
};

// Lists the entries of job.ArchiveName through all its volumes: opened(oldLayout, solid) once
// the archive is open, then entry(info) once per entry, the parts of a split entry summed
// (its checksum is the last part's, which is the whole entry's). Names are adapted by the host.
ListEnd ListArchive(Host& host, ExtractionJob& job, const std::function<void(bool oldLayout, bool solid)>& opened,
                    const std::function<void(const EntryInfo&)>& entry);

}  // namespace korvane
