// Opening an archive: recognising it (also behind a leading program) and moving on to the next
// volume, whose name follows from the current one by a fixed rule.
#pragma once
#include <cstddef>

#include "archive/archive_layout.h"  // AdvanceVolumeName
#include "engine/archive_reader.h"
#include "engine/job.h"

namespace korvane {

// The search behind a leading program reads at most this much from offset 7 on.
inline constexpr std::size_t kSfxSearchBuffer = 131072;
inline constexpr std::size_t kSfxSearchFill = 0x1FFF0;
static_assert(kSfxSearchFill <= kSfxSearchBuffer);

// Opens job.ArchiveName, identifies it and skips the rest of its main header, so that the
// next NextBlock reads the first entry. A file that cannot be opened or is not an archive is
// told to the host, and false comes back with nothing open.
bool OpenArchive(ArchiveReader& reader, const ExtractionJob& job);

// Works on the open volume at its start. On success the position is just behind the fixed
// part of the main header and the archive state is set.
bool IdentifyArchive(ArchiveReader& reader);

// The rest of the main header behind its fixed part, skipped by whoever opened the archive.
void SkipRestOfMainHeader(ArchiveReader& reader);

// The first volume of the set that name belongs to, by the naming rule: the same name with the
// extension rar, or exe when only that exists. Rewrites name; false when neither exists.
bool FindFirstVolumeName(char* name, std::size_t capacity);

// Closes the current volume, opens the next one (job.ArchiveName is rewritten) and positions
// at the packed data of the continuing entry. A missing or damaged volume is told to the user
// (kCannotFind or kCorruptVolume) and sets Abort to kEngineGaveUp.
bool OpenNextVolume(ArchiveReader& reader, ExtractionJob& job, bool insideData);

}  // namespace korvane
