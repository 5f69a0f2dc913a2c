// The module player: the loaded song, the sequencer's play state and the mixer's state in one
// record, and the operations over all three: loading, putting the song at its beginning,
// rendering a block and measuring one pass. Portable; the Windows wave output that plays the
// blocks is player/wave_output.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "player/mixer.h"
#include "player/sequencer.h"
#include "player/song.h"

namespace korvane {

// One instance per program (the installer's main window owns it). Each part is handed on by
// itself: the sequencer gets the play state and the song, the mixer the song, the voices and
// the mixer state.
struct ModPlayer : ModSong, PlayState, MixState {};

// Loader. Returns 1 when the module was loaded, 0 when it was refused (shorter than its
// header, or memory ran out); a refused load leaves the record freed. The bytes are only
// read, and only within [data, data + size).
int LoadModule(ModPlayer& player, const std::uint8_t* data, std::size_t size);
inline int LoadModule(ModPlayer& player, std::span<const std::uint8_t> bytes) {
  return LoadModule(player, bytes.data(), bytes.size());
}
// Releases everything LoadModule and ResetPlayState allocated; the record can be loaded again.
// The parentheses keep <windows.h>'s macro of the same name off this declaration, whichever
// header comes first; callers in files that see that macro write (FreeModule)(player) too.
void(FreeModule)(ModPlayer& player);

// Puts the song at its beginning with silent channels and empty delay lines, as StartMusic
// does before its first render, and allocates the delay lines and accumulators; returns 1,
// or 0 when memory ran out or nothing is loaded.
int ResetPlayState(ModPlayer& player);

// Writes kBlockBytes of interleaved little-endian 16-bit PCM; returns 0 (and writes silence)
// when the play state was not reset or nothing is loaded.
int RenderBlock(ModPlayer& player, std::uint8_t* pcm);

// Frames of one pass through the song from its beginning: until a row is fetched a second
// time, on the same tick clock as RenderBlock. Runs the sequencer on the given record (which
// it leaves reset). Returns 0 when no repeat came within maxFrames.
std::int64_t MeasureSongFrames(ModPlayer& player, std::int64_t maxFrames);

}  // namespace korvane
