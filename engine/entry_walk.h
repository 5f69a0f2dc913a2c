// The walk over an archive's entries through all its volumes, shared by the extraction
// driver, the command-line listing and anything else that visits every entry. It reads each
// entry's header (sub-blocks are passed over), moves to the next volume when an entry that
// goes on there was not read to its end, and leaves the packed data to the visitor.
#pragma once
#include <cstdint>

#include "engine/archive_format.h"
#include "engine/job.h"
#include "platform/file_layer.h"

namespace korvane {

enum class WalkStep {
  kEntry,         // a header read in this volume
  kContinuation,  // the continuing header read after a move to the next volume
  kEnd,           // the archive ended, its chain broke, or the job was aborted
  kMoveFailed,    // the next volume was missing or damaged (the user has been told)
};

// One step on an opened archive. For an entry or a continuation the header is in
// reader.Archive.File (the name in EntryName, as stored), reader.EntryContinues follows the
// header, and the position is at the start of its packed data in this volume.
WalkStep NextEntry(ArchiveReader& reader, ExtractionJob& job);

enum class WalkEnd { kEnd, kMoveFailed, kStopped };

// Calls visit(step) for every entry, with step kEntry or kContinuation, until the archive
// ends, a move fails or visit returns false. After each visit the position moves to the next
// block; a visitor that read the packed data may have moved it on to a later volume.
template <typename Visit>
WalkEnd ForEachEntry(ArchiveReader& reader, ExtractionJob& job, Visit&& visit) {
  for (;;) {
    const WalkStep step = NextEntry(reader, job);
    if (step == WalkStep::kEnd) return WalkEnd::kEnd;
    if (step == WalkStep::kMoveFailed) return WalkEnd::kMoveFailed;
    if (!visit(step)) return WalkEnd::kStopped;
    reader.Input.Seek(reader.Archive.NextBlockPos, kSeekStart);
  }
}

}  // namespace korvane
