// Builds Protracker module bytes from a description naming only the fields a test cares
// about, so that a module of a few hundred bytes can reach any loader, sequencer or mixer branch.
#pragma once
#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "player/mod_player.h"

namespace korvane::testing {

struct SampleSpec {
  std::string name;
  int finetuneByte = 0;  // as stored: 8 to 15 are -8 to -1
  int volume = 64;
  std::vector<std::uint8_t> data;  // even length
  int loopStart = 0, loopLength = 2;  // bytes; length 2 = no loop
};

struct CellSpec {
  int sample = 0, period = 0, command = 0, param = 0;
};

inline std::vector<std::uint8_t> Ramp(int n) {  // byte i is i + 1
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), 1);
  return v;
}
// A looping sample of one repeated byte: every frame adds exactly byte * volume.
inline SampleSpec Level(std::uint8_t byte) { return {.data = std::vector<std::uint8_t>(64, byte), .loopLength = 64}; }

struct ModuleWriter {
  std::string signature;  // "" writes the 15-sample layout
  std::string title;
  std::map<int, SampleSpec> samples;
  std::vector<int> orders{0};
  int songLength = -1;  // the stored byte; -1 = the number of orders
  std::map<std::tuple<int, int, int>, CellSpec> cells;

  explicit ModuleWriter(std::string sig = "M.K.") : signature(std::move(sig)) {}
  void Put(int pattern, int row, int channel, CellSpec cell) { cells[{pattern, row, channel}] = cell; }

  std::vector<std::uint8_t> Bytes() const {
    const int channels = signature == "6CHN" ? 6 : (signature == "8CHN" || signature == "FLT8") ? 8 : 4;
    const int slots = signature.empty() ? 15 : 31;
    std::vector<std::uint8_t> out;
    auto put = [&](std::initializer_list<int> bytes) {
      for (int b : bytes) out.push_back(std::uint8_t(b));
    };
    auto text = [&](const std::string& s, std::size_t width) {
      for (std::size_t i = 0; i < width; ++i) out.push_back(i < s.size() ? std::uint8_t(s[i]) : 0);
    };
    text(title, 20);
    for (int slot = 1; slot <= slots; ++slot) {
      const SampleSpec s = samples.count(slot) ? samples.at(slot) : SampleSpec{};
      const int words[] = {int(s.data.size()) / 2, s.loopStart / 2, s.loopLength / 2};
      text(s.name, 22);
      put({words[0] >> 8, words[0], s.finetuneByte, s.volume, words[1] >> 8, words[1], words[2] >> 8, words[2]});
    }
    put({songLength >= 0 ? songLength : int(orders.size()), 127});  // 127: the restart byte, never used
    for (int i = 0; i < 128; ++i) put({i < int(orders.size()) ? orders[i] : 0});
    text(signature, signature.size());
    for (int p = 0; p <= *std::max_element(orders.begin(), orders.end()); ++p)
      for (int r = 0; r < 64; ++r)
        for (int c = 0; c < channels; ++c) {
          const auto it = cells.find({p, r, c});
          const CellSpec x = it != cells.end() ? it->second : CellSpec{};
          put({(x.sample & 0xF0) | (x.period >> 8), x.period, ((x.sample & 0x0F) << 4) | x.command, x.param});
        }
    for (const auto& [slot, s] : samples)
      if (slot <= slots) out.insert(out.end(), s.data.begin(), s.data.end());
    return out;
  }
};

// Loads the module and puts it at its beginning, as StartMusic would.
inline bool Start(ModPlayer& p, const ModuleWriter& m) {
  return LoadModule(p, m.Bytes()) == 1 && ResetPlayState(p) == 1;
}

}  // namespace korvane::testing
