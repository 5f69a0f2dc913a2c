// Fuzz target modplayer: any bytes through the module loader, then a measured pass (capped)
// and two seconds of rendering, so that header fields, cells and loops of every kind meet
// the sequencer and the mixer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/mod_player.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvane;
  ModPlayer player;
  if (LoadModule(player, data, size) == 0) return 0;
  MeasureSongFrames(player, 20LL * kOutputRate);
  if (ResetPlayState(player) == 0) return 0;
  std::vector<std::uint8_t> pcm(kBlockBytes);
  for (int block = 0; block < 4; ++block) RenderBlock(player, pcm.data());
  return 0;
}
