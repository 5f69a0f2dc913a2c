// Entry points of the two unpackers. The driver sets io.RemainingOutput to the entry's
// unpacked size, then calls the unpacker for the entry's format once; the unpacker pulls the
// packed bytes and pushes the decoded ones through io and returns nothing: the checksum the
// output side accumulated is the verdict.
#pragma once
#include <cstdint>

#include "unpack/unpack_io.h"
#include "unpack/unpack_state.h"

namespace korvane {

// Entries whose UnpVer is above 15. solid: the file header's flag 0x10.
// window: the driver's 1 MiB UnpackWindow (kWindowSize bytes).
void UnpackFormat20(UnpackState& state, UnpackIo& io, std::uint8_t* window, bool solid);

// Entries whose UnpVer is 15 or less. solid: the archive is solid and this is not the first
// entry decoded since the archive was opened.
void UnpackFormat15(UnpackState& state, UnpackIo& io, std::uint8_t* window, bool solid);

// The per-entry reset both unpackers start with; exposed for tests.
void ResetUnpackState(UnpackState& state, bool solid);

}  // namespace korvane
