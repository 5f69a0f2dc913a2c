// Playback through the Windows wave output device: an endless chain of half-second
// buffers, rendered on a thread of the player's own. Windows only; the renderer itself
// (player/mod_player.h) is portable.
#pragma once
// <windows.h> first: it defines a FreeModule macro that the player header then removes.
#include <windows.h>

#include "player/mod_player.h"

namespace korvane {

// Opens the default device, restarts the song from its beginning and queues two buffers.
// Returns 1 when the music plays (also when it already did), 0 when the first two buffers
// were not both queued (no device: one default beep).
int StartMusic(ModPlayer& player);
// Stops output, waits for a render under way, releases every buffer and closes the device.
// Returns 1; the module and delay lines stay until FreeModule.
int StopMusic(ModPlayer& player);
// Renders the next block into a new buffer and queues it; 1 when queued, 0 otherwise.
int RenderBuffer(ModPlayer& player);

}  // namespace korvane
