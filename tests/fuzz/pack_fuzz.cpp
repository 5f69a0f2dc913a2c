// Fuzz target: arbitrary bytes packed at an arbitrary level must unpack to themselves.
// Input layout:
//   byte 0   bits 0-2: level (value mod 5, plus 1); bit 3: multimedia option;
//            bit 4: two entries, the second solid; bit 5: written in pieces of 1 to 64 bytes;
//            bits 6-7: the data repeated 1, 16 or 256 times (at most 1.5 MiB in all), or (3)
//            followed by noise up to 1 to 5 MiB give or take 25 bytes, so that incompressible
//            entries cross every boundary of the match finder's buffer
//   byte 1   where the two entries divide the data, in 256ths; with noise, also its length
//   byte 2.. the data
#include <algorithm>
#include <cstdlib>
#include <random>

#include "tests/support/round_trip.h"

namespace {

korvane::testing::Bytes Expand(const std::uint8_t* data, std::size_t size, std::uint32_t mode, std::uint8_t shape) {
  korvane::testing::Bytes all;
  if (mode == 3) {
    const std::size_t length = (std::size_t{1} + shape % 5) * (1u << 20) + shape / 5 - 25;
    all.assign(data, data + std::min(size, length));
    std::minstd_rand noise(static_cast<std::uint32_t>(size * 2654435761u + shape));
    while (all.size() < length) all.push_back(static_cast<std::uint8_t>(noise() >> 8));
    return all;
  }
  const std::size_t repeat = std::size_t{1} << (4 * mode);
  for (std::size_t r = 0; r < repeat && all.size() + size <= 0x180000; ++r) all.insert(all.end(), data, data + size);
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvane;
  if (size < 2) return 0;
  const std::uint32_t flags = data[0];
  pack::EncoderSettings settings;
  settings.Level = static_cast<int>(flags & 7) % 5 + 1;
  settings.Multimedia = (flags & 8) != 0;
  const testing::Bytes all = Expand(data + 2, size - 2, flags >> 6, data[1]);

  const auto split = all.begin() + static_cast<std::ptrdiff_t>((flags & 16) ? all.size() * data[1] / 256 : all.size());
  std::vector<testing::Bytes> entries{testing::Bytes(all.begin(), split)};
  if (flags & 16) entries.emplace_back(split, all.end());
  const std::size_t piece = (flags & 32) ? 1 + data[1] % 64 : 0;
  const auto packed = testing::PackEntries(entries, settings, (flags & 16) != 0, piece);
  if (testing::UnpackEntries(packed, entries) != entries) std::abort();
  return 0;
}
