#include "player/module_check.h"

#include <algorithm>
#include <cstring>

namespace korvane {
namespace {

constexpr std::size_t kSignatureOffset = 1080;
// The tags other trackers of the time wrote at the same place. The loader reads such files
// with the 15-sample layout, but they are music all the same, not files that happen to be long.
constexpr char kTags[][5] = {"M.K.", "M!K!", "M&K!", "N.T.", "FEST", "EXO4", "CD81", "OKTA", "OCTA"};

bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

bool IsModuleTag(const std::uint8_t* t) {
  for (const char* tag : kTags)
    if (std::memcmp(t, tag, 4) == 0) return true;
  if (IsDigit(t[0]) && std::memcmp(t + 1, "CHN", 3) == 0) return true;   // 2CHN .. 9CHN
  if (IsDigit(t[0]) && IsDigit(t[1]) && t[2] == 'C' && t[3] == 'H') return true;  // 10CH .. 32CH
  return (std::memcmp(t, "FLT", 3) == 0 || std::memcmp(t, "TDZ", 3) == 0) && IsDigit(t[3]);
}
constexpr std::size_t kShortSamples = 15;
constexpr std::size_t kSampleHeaderOffset = 20;
constexpr std::size_t kSampleHeaderBytes = 30;
constexpr std::size_t kSongLengthOffset = kSampleHeaderOffset + kShortSamples * kSampleHeaderBytes;
constexpr std::size_t kOrderOffset = kSongLengthOffset + 2;
constexpr std::size_t kOrderEntries = 128;
constexpr std::size_t kPatternOffset = kOrderOffset + kOrderEntries;
constexpr std::size_t kPatternBytes = 64 * 4 * 4;
static_assert(kSongLengthOffset == 470 && kPatternOffset == 600);

// Sample names are no help: real modules of this layout carry control bytes in them.
bool SampleHeaderIsSane(const std::uint8_t* h) {
  const std::uint8_t finetune = h[24], volume = h[25];
  return finetune <= 15 && volume <= 64;
}

}  // namespace

bool LooksLikeModule(const std::uint8_t* data, std::size_t size) {
  if (size >= kSignatureOffset + 4 && IsModuleTag(data + kSignatureOffset)) return true;
  if (size < kPatternOffset) return false;
  for (std::size_t s = 0; s < kShortSamples; ++s)
    if (!SampleHeaderIsSane(data + kSampleHeaderOffset + s * kSampleHeaderBytes)) return false;
  const std::size_t songLength = data[kSongLengthOffset];
  if (songLength == 0 || songLength > kOrderEntries) return false;
  const std::uint8_t* orders = data + kOrderOffset;
  if (std::any_of(orders, orders + songLength, [](std::uint8_t o) { return o > 127; })) return false;
  // The loader sizes the pattern block by the highest entry of the whole table.
  const std::size_t patterns = *std::max_element(orders, orders + kOrderEntries) + 1u;
  return patterns <= 127 && kPatternOffset + patterns * kPatternBytes <= size;
}

}  // namespace korvane
