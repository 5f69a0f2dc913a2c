// Recognising an archive (also behind a leading program), moving an extraction on to the next
// volume, naming that volume, and creating the directories along a path.
#pragma once
#include <cstddef>

#include "engine/engine_state.h"
#include "engine/job.h"

namespace korvane {

// The search behind a leading program reads at most this much from offset 7 on.
inline constexpr std::size_t kSfxSearchBuffer = 131072;
inline constexpr std::size_t kSfxSearchFill = 0x1FFF0;
static_assert(kSfxSearchFill <= kSfxSearchBuffer);

// Works on the open archive file (Session.InputFile) at its start. On success the position
// is just behind the fixed part of the main header and the archive state is set.
bool IdentifyArchive(EngineState& e);

// name.rar/.exe -> name.r00 -> ... -> name.r99 -> name.s00; .999 -> .A00. Rewrites name in
// place; false (unchanged) when the result would not fit in capacity bytes.
bool AdvanceVolumeName(char* name, std::size_t capacity);

// Closes the current volume, opens the next one (job.ArchiveName is rewritten) and positions
// at the packed data of the continuing entry. A missing or damaged volume is told to the user
// (a message box owned by the progress window) and sets Abort to 1.
bool OpenNextVolume(EngineState& e, ExtractionJob& job, bool insideData);

// Creates every directory named by a prefix of path that ends just before a separator; the
// part after the last separator is not created. Separators become backslashes.
void MakeDirectories(EngineState& e, char* path);

// The rest of the main header behind its fixed part, skipped by whoever opened the archive.
void SkipRestOfMainHeader(EngineState& e);

}  // namespace korvane
