// Playback through the Windows wave output device: an endless chain of half-second buffers
// that the player renders, on a thread of the output's own. Only the Windows build has it; the
// header names no Windows type, so it may be included before or without <windows.h>.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "player/mod_player.h"

namespace korvane {

// The device playing one player. Stopping it (or destroying it, which stops it) waits for a
// render under way and takes every buffer back before the device closes, so the player need
// only outlive its output.
class WaveOutput {
 public:
  explicit WaveOutput(ModPlayer& player);  // nothing opens before StartMusic
  ~WaveOutput();
  WaveOutput(const WaveOutput&) = delete;
  WaveOutput& operator=(const WaveOutput&) = delete;

  struct Device;  // the open device, its render thread and the queued buffers

  ModPlayer& player;
  std::unique_ptr<Device> waveOut;   // while a device is open
  std::atomic<std::int32_t> playing{0};  // the chain renders a successor for each buffer played
};

// Opens the default device, restarts the song from its beginning and queues two buffers.
// Returns 1 when the music plays (also when it already did), 0 when the first two buffers
// were not both queued (no device: one default beep).
int StartMusic(WaveOutput& output);
// Stops output, waits for a render under way, releases every buffer and closes the device.
// Returns 1; the module stays loaded.
int StopMusic(WaveOutput& output);
// Renders the next block into a new buffer and queues it; 1 when queued, 0 otherwise.
int RenderBuffer(WaveOutput& output);

}  // namespace korvane
