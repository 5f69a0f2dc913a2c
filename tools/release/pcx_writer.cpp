#include "tools/release/pcx_writer.h"

namespace korvane::release {
namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr int kLongestRun = 63;

void Put16(std::vector<std::uint8_t>& out, std::size_t at, int value) {
  out[at] = static_cast<std::uint8_t>(value & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

std::vector<std::uint8_t> EncodePcx(int width, int height, std::span<const std::uint8_t> indices,
                                    std::span<const std::uint8_t, 768> palette) {
  std::vector<std::uint8_t> out(kHeaderSize, 0);
  out[0] = 10;  // manufacturer
  out[1] = 5;   // version
  out[2] = 1;   // run-length encoding
  out[3] = 8;   // bits per pixel
  Put16(out, 8, width - 1);
  Put16(out, 10, height - 1);
  Put16(out, 12, 72);  // resolution, as paint programs write it
  Put16(out, 14, 72);
  out[65] = 1;  // planes
  Put16(out, 66, width);
  Put16(out, 68, 1);  // colour palette
  // Runs stay inside their line, as readers that decode line by line expect.
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* line = indices.data() + std::size_t(y) * std::size_t(width);
    for (int x = 0; x < width;) {
      int run = 1;
      while (x + run < width && run < kLongestRun && line[x + run] == line[x]) ++run;
      // A single byte below 0xC0 stands for itself; anything else needs a count in front.
      if (run > 1 || line[x] >= 0xC0) out.push_back(static_cast<std::uint8_t>(0xC0 | run));
      out.push_back(line[x]);
      x += run;
    }
  }
  out.push_back(12);
  out.insert(out.end(), palette.begin(), palette.end());
  return out;
}

}  // namespace korvane::release
