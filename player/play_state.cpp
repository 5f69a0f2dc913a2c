// Putting the song back at its beginning (what StartMusic does before its first render,
// shared with the command-line tool so that both produce the same samples), and measuring
// one pass through the song.
#include <cstring>
#include <new>

#include "player/mod_player.h"

namespace korvane {
namespace {

bool EnsureZeroed(std::unique_ptr<std::int32_t[]>& buffer, std::size_t count) {
  if (!buffer) buffer.reset(new (std::nothrow) std::int32_t[count]);
  if (!buffer) return false;
  std::memset(buffer.get(), 0, sizeof(std::int32_t) * count);
  return true;
}

}  // namespace

int ResetPlayState(ModPlayer& player) {
  if (!player.patterns || !player.channels || !player.samples) return 0;
  std::memset(player.channels.get(), 0, sizeof(ModChannel) * player.channelCount);
  player.speed = 6;
  player.tempo = 125;
  player.samplesLeftInTick = 0;
  player.orderPos = 0;
  player.rowPos = 0;
  player.tick = 0;
  player.currentOrder = 0;
  player.currentRow = player.Row(0, 0);
  if (!EnsureZeroed(player.delayLeft, kDelayFrames) || !EnsureZeroed(player.delayRight, kDelayFrames) ||
      !EnsureZeroed(player.mixLeft, kBlockFrames) || !EnsureZeroed(player.mixRight, kBlockFrames))
    return 0;
  if (!player.mixOut) player.mixOut.reset(new (std::nothrow) std::int16_t[2 * kBlockFrames]);
  if (!player.mixOut) return 0;
  return 1;
}

std::int64_t MeasureSongFrames(ModPlayer& player, std::int64_t maxFrames) {
  if (!ResetPlayState(player)) return 0;
  constexpr std::size_t kRows = static_cast<std::size_t>(kOrderTableSize) * kRowsPerPattern;
  std::unique_ptr<std::uint8_t[]> fetched(new (std::nothrow) std::uint8_t[kRows]());
  if (!fetched) return 0;
  std::int64_t result = 0;
  // Block by block, as RenderBlock runs the clock, so that tempo changes land on the same
  // frames; only the mixing is left out.
  const auto firstFetch = [&] {
    if (player.tick != 0) return true;
    std::uint8_t& seen = fetched[static_cast<std::size_t>(player.orderPos) * kRowsPerPattern + player.rowPos];
    if (seen) return false;
    seen = 1;
    return true;
  };
  for (std::int64_t frames = 0; frames < maxFrames && result == 0; frames += kBlockFrames) {
    const int walked = RunTickClock(player, player, kBlockFrames, firstFetch, [](int, int) {});
    if (walked < kBlockFrames) result = frames + walked;
  }
  ResetPlayState(player);
  return result;
}

}  // namespace korvane
