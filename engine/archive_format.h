// Reading the block layouts of both archive generations (archive/archive_layout.h): the
// records a header is read into, and the walk over the chain of blocks to the next entry.
#pragma once
#include <cstdint>

#include "engine/archive_reader.h"

namespace korvane {

inline constexpr std::uint32_t kMaxNameBytes = kPathLimit - 1;

enum class HeaderKind { kMain, kFile };

// Reads the fixed part of a header of the open archive's layout at the current position and
// decodes it into the reader; for the new layout HeaderCrc then covers bytes 2 to the end.
// Returns the fixed size, or 0 when fewer bytes than that were there (taken as the end).
std::uint32_t ReadHeaderBytes(ArchiveReader& reader, HeaderKind kind);

// Tells the status hook ("MUnexpEOF") that the open volume ends inside a block, once per
// volume, and counts the volume in CutVolumes.
void ReportUnexpectedEnd(ArchiveReader& reader);

// True when the main header just read matches its checksum (old archives have none).
bool MainHeaderCrcMatches(const ArchiveReader& reader);

// Walks to the next block of wantedType (0x74) and reads its name; with acceptSubBlocks a
// 0x77 block stops the walk too and is returned with the previous FileHeader still in place
// and the position back at its start. Returns the header bytes read, 0 at the end of the
// archive, on a damaged chain or where the volume ends inside a block (told as "MUnexpEOF").
// A name longer than EntryName holds leaves NameTooLong set.
std::uint32_t NextBlock(ArchiveReader& reader, std::uint8_t wantedType, bool acceptSubBlocks);

}  // namespace korvane
