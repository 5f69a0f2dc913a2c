// Format 2.0: LZ77 over the 1 MiB window with prefix codes sent in table blocks, and the
// multimedia mode in which each symbol is a predictor residual. Also the per-entry reset
// that format 1.5 shares.
#include <cstring>

#include "unpack/audio.h"
#include "unpack/bit_input.h"
#include "unpack/huffman.h"
#include "unpack/unpack.h"

namespace korvane {
namespace {

// Each base is the previous base plus 2^(previous extra bits): contiguous value ranges.
constexpr std::uint8_t kLengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                          24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr std::uint8_t kLengthExtraBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                               2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr std::uint32_t kDistanceBase[48] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
constexpr std::uint8_t kDistanceExtraBits[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                                 7,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
                                                 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
constexpr std::uint8_t kShortDistanceBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr std::uint8_t kShortDistanceExtraBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

template <typename Base, typename Extra, std::size_t kCount>
constexpr bool Contiguous(const Base (&base)[kCount], const Extra (&extra)[kCount]) {
  for (std::size_t k = 1; k < kCount; ++k)
    if (base[k] != base[k - 1] + (std::uint32_t{1} << extra[k - 1])) return false;
  return true;
}
static_assert(Contiguous(kLengthBase, kLengthExtraBits));
static_assert(Contiguous(kDistanceBase, kDistanceExtraBits));
static_assert(Contiguous(kShortDistanceBase, kShortDistanceExtraBits));
// The longest match (length code 27 with all extra bits, plus the two distance bonuses, or
// a recent-distance match with its three bonuses) must fit the window's reserve.
static_assert(224 + 31 + 3 + 2 <= kWindowReserve && 224 + 31 + 2 + 3 <= kWindowReserve);
// The farthest distance: code 47 with all 16 extra bits.
static_assert(kDistanceBase[47] + 0xFFFF + 1 == kWindowSize);

constexpr std::uint32_t kTableBlockSymbol = 269;
constexpr std::uint32_t kAudioTableBlockSymbol = 256;
// The table block reader's refill points: at its start and before each code-length symbol.
constexpr std::uint32_t kTableStartRefillPos = 8167;
constexpr std::uint32_t kTableSymbolRefillPos = 8187;
// The trailing check decodes a symbol only with at least this many valid bytes ahead.
constexpr std::int32_t kTrailingSymbolBytes = 5;

void EmitMatch(UnpackState& s, UnpackIo& io, std::uint32_t distance, std::uint32_t length) {
  s.LastMatchDistance = distance;
  s.RecentDistances[s.RecentDistanceIndex & 3] = distance;
  s.RecentDistanceIndex += 1;
  s.LastMatchLength = length;
  CopyFromWindow(s, io, distance, length);
}

void ReadTableBlock(UnpackState& s, UnpackIo& io) {
  if (AbortRequested(io)) return;
  if (s.PackedPos > kTableStartRefillPos) RefillPackedBuffer(s, io, false);
  const std::uint32_t header = PeekBits(s);
  s.AudioMode = (header & 0x8000) != 0;
  if (AbortRequested(io)) return;
  if ((header & 0x4000) == 0) std::memset(s.PreviousLengths, 0, sizeof s.PreviousLengths);
  SkipBits(s, 2);
  if (AbortRequested(io)) return;

  std::uint32_t tableSize;
  if (s.AudioMode) {
    s.AudioChannels = static_cast<std::int32_t>(((header >> 12) & 3) + 1);
    if (s.AudioChannel >= s.AudioChannels) s.AudioChannel = 0;
    SkipBits(s, 2);
    tableSize = kAudioAlphabet * static_cast<std::uint32_t>(s.AudioChannels);
  } else {
    tableSize = kNormalBlockPositions;
  }

  std::uint8_t preLengths[kPreCodeAlphabet];
  for (std::uint8_t& length : preLengths) length = static_cast<std::uint8_t>(ReadBits(s, 4));
  BuildHuffmanTable(preLengths, s.PreCodeTable, kPreCodeAlphabet);

  // Positions the block does not define keep the previous block's lengths (cleared above
  // when the keep flag is 0), so copying all 1028 back below changes nothing there.
  std::uint8_t lengths[kTableLengthCount];
  std::memcpy(lengths, s.PreviousLengths, sizeof lengths);
  std::uint32_t i = 0;
  while (i < tableSize) {
    if (AbortRequested(io)) return;
    if (s.PackedPos > kTableSymbolRefillPos) RefillPackedBuffer(s, io, false);
    const std::uint32_t symbol = DecodeHuffmanSymbol(s, s.PreCodeTable);
    if (symbol < 16) {
      lengths[i] = static_cast<std::uint8_t>((symbol + s.PreviousLengths[i]) & 15);
      ++i;
      continue;
    }
    std::uint32_t run;
    std::uint8_t value = 0;
    if (symbol == 16) {
      run = ReadBits(s, 2) + 3;
      // At the first position there is no earlier length of this block; we repeat 0.
      value = i > 0 ? lengths[i - 1] : 0;
    } else if (symbol == 17) {
      run = ReadBits(s, 3) + 3;
    } else {
      run = ReadBits(s, 7) + 11;
    }
    for (; run > 0 && i < tableSize; --run) lengths[i++] = value;
  }

  if (s.AudioMode) {
    for (std::int32_t j = 0; j < s.AudioChannels; ++j)
      BuildHuffmanTable(lengths + kAudioAlphabet * static_cast<std::uint32_t>(j), s.AudioTables[j], kAudioAlphabet);
  } else {
    BuildHuffmanTable(lengths, s.MainTable, kMainAlphabet);
    BuildHuffmanTable(lengths + kMainAlphabet, s.DistanceTable, kDistanceAlphabet);
    BuildHuffmanTable(lengths + kMainAlphabet + kDistanceAlphabet, s.RepeatLengthTable, kRepeatLengthAlphabet);
  }
  std::memcpy(s.PreviousLengths, lengths, sizeof lengths);
}

// The packer may end an entry with a table block that only the next solid entry uses.
void ReadTrailingTableBlock(UnpackState& s, UnpackIo& io) {
  if (AbortRequested(io)) return;
  if (s.PackedFill < static_cast<std::int64_t>(s.PackedPos) + kTrailingSymbolBytes) return;
  if (s.AudioMode) {
    if (DecodeHuffmanSymbol(s, s.AudioTables[s.AudioChannel & 3]) == kAudioTableBlockSymbol) ReadTableBlock(s, io);
  } else {
    if (DecodeHuffmanSymbol(s, s.MainTable) == kTableBlockSymbol) ReadTableBlock(s, io);
  }
}

// One pass of the main loop past its refill and flush checks: one symbol of the stream.
inline void DecodeItem(UnpackState& s, UnpackIo& io) {
  if (s.AudioMode) {
    const std::uint32_t symbol = DecodeHuffmanSymbol(s, s.AudioTables[s.AudioChannel & 3]);
    if (symbol == kAudioTableBlockSymbol) {
      ReadTableBlock(s, io);
      return;
    }
    s.Window[s.WindowPos] = DecodeAudioByte(s, symbol);
    s.WindowPos += 1;
    if (++s.AudioChannel >= s.AudioChannels) s.AudioChannel = 0;
    io.RemainingOutput -= 1;
    return;
  }

  const std::uint32_t symbol = DecodeHuffmanSymbol(s, s.MainTable);
  if (symbol < 256) {
    s.Window[s.WindowPos] = static_cast<std::uint8_t>(symbol);
    s.WindowPos += 1;
    io.RemainingOutput -= 1;
  } else if (symbol >= 270) {
    const std::uint32_t k = symbol - 270;
    std::uint32_t length = kLengthBase[k] + 3 + ReadBits(s, kLengthExtraBits[k]);
    const std::uint32_t d = DecodeHuffmanSymbol(s, s.DistanceTable);
    const std::uint32_t distance = kDistanceBase[d] + 1 + ReadBits(s, kDistanceExtraBits[d]);
    if (distance >= 0x40000) length += 1;
    if (distance >= 0x2000) length += 1;
    EmitMatch(s, io, distance, length);
  } else if (symbol == kTableBlockSymbol) {
    ReadTableBlock(s, io);
  } else if (symbol == 256) {
    EmitMatch(s, io, s.LastMatchDistance, s.LastMatchLength);
  } else if (symbol <= 260) {
    const std::uint32_t distance = s.RecentDistances[(s.RecentDistanceIndex - (symbol - 256)) & 3];
    const std::uint32_t k = DecodeHuffmanSymbol(s, s.RepeatLengthTable);
    std::uint32_t length = kLengthBase[k] + 2 + ReadBits(s, kLengthExtraBits[k]);
    if (distance >= 0x40000) length += 1;
    if (distance >= 0x2000) length += 1;
    if (distance >= 257) length += 1;
    EmitMatch(s, io, distance, length);
  } else {
    const std::uint32_t k = symbol - 261;
    const std::uint32_t distance = kShortDistanceBase[k] + 1 + ReadBits(s, kShortDistanceExtraBits[k]);
    EmitMatch(s, io, distance, 2);
  }
}

}  // namespace

void ResetUnpackState(UnpackState& s, bool solid) {
  s.PackedPos = 0;
  s.BitPos = 0;
  if (solid) return;
  std::memset(s.AudioStates, 0, sizeof s.AudioStates);
  s.CrossDelta = 0;
  std::memset(s.RecentDistances, 0, sizeof s.RecentDistances);
  s.RecentDistanceIndex = 0;
  s.LastMatchDistance = 0;
  s.LastMatchLength = 0;
  s.AudioChannel = 0;
  std::memset(s.Window, 0, kWindowSize);
  std::memset(s.PreviousLengths, 0, sizeof s.PreviousLengths);
  s.FlushedPos = 0;
  s.WindowPos = 0;
}

void UnpackFormat20(UnpackState& s, UnpackIo& io, std::uint8_t* window, bool solid) {
  if (AbortRequested(io)) return;
  s.Window = window;
  ResetUnpackState(s, solid);
  RefillPackedBuffer(s, io, true);
  if (!solid) ReadTableBlock(s, io);
  StartOutputCount(io);
  while (io.RemainingOutput >= 0) {
    s.WindowPos &= WindowMask;
    if (AbortRequested(io)) return;
    if (s.PackedPos > kMainLoopRefillPos) RefillPackedBuffer(s, io, false);
    if (PackedInputExhausted(s)) break;
    if (WindowNearlyFull(s)) FlushWindow(s, io);
    DecodeItem(s, io);
  }
  ReadTrailingTableBlock(s, io);
  FlushWindow(s, io);
}

}  // namespace korvane
