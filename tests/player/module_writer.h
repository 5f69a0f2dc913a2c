// Builds Protracker module bytes from a readable description, so that tests can reach
// every loader, sequencer and mixer branch with a module of a few hundred bytes.
//
//   ModuleWriter m;                         // "M.K.", 4 channels
//   m.AddSample(1, {.volume = 64, .data = Constant(64, 0x40), .loopStart = 0, .loopLength = 64});
//   m.SetOrders({0, 1});
//   m.Put(0, 0, 0, {.sample = 1, .period = 428, .command = 0xC, .param = 32});
//   std::vector<std::uint8_t> bytes = m.Bytes();
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvane::testing {

struct SampleSpec {
  std::string name;
  std::int32_t finetuneByte = 0;  // stored byte, 0 to 15 (8 to 15 are -8 to -1)
  std::int32_t volume = 64;
  std::vector<std::uint8_t> data;  // even length; length word = size / 2
  std::int32_t loopStart = 0;      // bytes, even
  std::int32_t loopLength = 2;     // bytes, even; 2 = no loop
  std::int32_t lengthBytes = -1;   // overrides the stored length (header only) when >= 0
};

struct CellSpec {
  std::int32_t sample = 0;
  std::int32_t period = 0;
  std::int32_t command = 0;
  std::int32_t param = 0;
};

inline std::vector<std::uint8_t> Constant(std::size_t n, std::uint8_t value) {
  return std::vector<std::uint8_t>(n, value);
}

class ModuleWriter {
 public:
  // signature "" writes the 15-sample layout without a signature.
  explicit ModuleWriter(std::string signature = "M.K.", int channels = 0) : signature_(std::move(signature)) {
    channels_ = channels;
    if (channels_ == 0) {
      if (signature_ == "6CHN") channels_ = 6;
      else if (signature_ == "8CHN" || signature_ == "FLT8") channels_ = 8;
      else channels_ = 4;
    }
  }

  void SetTitle(std::string title) { title_ = std::move(title); }
  void AddSample(int slot, SampleSpec spec) { samples_[slot] = std::move(spec); }
  // The played orders; songLength defaults to their count.
  void SetOrders(std::vector<int> orders, int songLength = -1) {
    orders_ = std::move(orders);
    songLength_ = songLength >= 0 ? songLength : static_cast<int>(orders_.size());
  }
  // Raw value of the song length byte (can exceed the order count for tests of bad files).
  void SetSongLengthByte(int value) { songLength_ = value; }
  void Put(int pattern, int row, int channel, CellSpec cell) { cells_[{pattern, row, channel}] = cell; }

  int SampleHeaders() const { return signature_.empty() ? 15 : 31; }
  std::size_t PatternOffset() const { return signature_.empty() ? 600 : 1084; }
  int PatternCount() const {
    int largest = 0;
    for (int o : orders_) largest = o > largest ? o : largest;
    return largest + 1;
  }
  std::size_t SampleDataOffset() const {
    return PatternOffset() + static_cast<std::size_t>(PatternCount()) * 64 * channels_ * 4;
  }

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out;
    Text(out, title_, 20);
    for (int slot = 1; slot <= SampleHeaders(); ++slot) {
      auto it = samples_.find(slot);
      SampleSpec s = it != samples_.end() ? it->second : SampleSpec{};
      Text(out, s.name, 22);
      const std::int32_t length = s.lengthBytes >= 0 ? s.lengthBytes : static_cast<std::int32_t>(s.data.size());
      Word(out, length / 2);
      out.push_back(static_cast<std::uint8_t>(s.finetuneByte));
      out.push_back(static_cast<std::uint8_t>(s.volume));
      Word(out, s.loopStart / 2);
      Word(out, s.loopLength / 2);
    }
    out.push_back(static_cast<std::uint8_t>(songLength_));
    out.push_back(127);  // restart byte, never used
    for (int i = 0; i < 128; ++i)
      out.push_back(static_cast<std::uint8_t>(i < static_cast<int>(orders_.size()) ? orders_[i] : 0));
    for (char c : signature_) out.push_back(static_cast<std::uint8_t>(c));
    for (int p = 0; p < PatternCount(); ++p)
      for (int r = 0; r < 64; ++r)
        for (int c = 0; c < channels_; ++c) {
          auto it = cells_.find({p, r, c});
          CellSpec cell = it != cells_.end() ? it->second : CellSpec{};
          out.push_back(static_cast<std::uint8_t>((cell.sample & 0xF0) | ((cell.period >> 8) & 0x0F)));
          out.push_back(static_cast<std::uint8_t>(cell.period & 0xFF));
          out.push_back(static_cast<std::uint8_t>(((cell.sample & 0x0F) << 4) | (cell.command & 0x0F)));
          out.push_back(static_cast<std::uint8_t>(cell.param));
        }
    for (int slot = 1; slot <= SampleHeaders(); ++slot) {
      auto it = samples_.find(slot);
      if (it != samples_.end()) out.insert(out.end(), it->second.data.begin(), it->second.data.end());
    }
    return out;
  }

 private:
  struct Key {
    int pattern, row, channel;
    bool operator<(const Key& o) const {
      if (pattern != o.pattern) return pattern < o.pattern;
      if (row != o.row) return row < o.row;
      return channel < o.channel;
    }
  };
  static void Text(std::vector<std::uint8_t>& out, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
  }
  static void Word(std::vector<std::uint8_t>& out, int value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
  }

  std::string signature_;
  int channels_ = 4;
  std::string title_;
  std::map<int, SampleSpec> samples_;
  std::vector<int> orders_{0};
  int songLength_ = 1;
  std::map<Key, CellSpec> cells_;
};

}  // namespace korvane::testing
