// The one record of all decompression state. It survives from entry to entry: a solid
// entry continues with the window, tables and adaptive lists its predecessor left behind.
// The program owns one instance (about 60 KB) and hands it to every unpacker call.
#pragma once
#include <cstddef>
#include <cstdint>

#include "unpack/format20_tables.h"

namespace korvane {

inline constexpr std::uint32_t kPackedBufferSize = 8192;
// Bytes behind the packed buffer that the bit readers may load but that no refill ever fills.
// The refill thresholds keep every load inside the 8192 bytes, but only if the refill really
// happens: an abort that arrives between the poll and the refill makes the refill do nothing,
// and the pass then reads on. No pass moves more than 8 bytes past a threshold and no reader
// loads more than 15 bytes beyond its position, so 32 zero bytes cover it for any input.
inline constexpr std::uint32_t kPackedGuardBytes = 32;

// Code lengths resolved by one table lookup instead of the comparison tree: ten bits for the
// literal and multimedia alphabets, eight for the small ones, whose tables are rebuilt with
// every table block and mostly hold short codes (a smaller table is cheaper to fill).
constexpr int FastCodeBitsFor(std::size_t alphabet) { return alphabet >= 256 ? 10 : 8; }

// Canonical prefix code in decoding form. Symbols has room for the whole alphabet; Fast is our
// shortcut (see BuildHuffmanTable) and holds 0 where the comparison tree must decide.
template <std::size_t kAlphabet>
struct HuffmanTable {
  static constexpr int kFastBits = FastCodeBitsFor(kAlphabet);
  std::uint32_t SymbolCount;
  std::uint32_t LengthLimit[16];
  std::uint32_t LengthStart[16];
  std::uint32_t Symbols[kAlphabet];
  std::uint32_t Fast[1u << kFastBits];  // (length << 16) | symbol
};

struct UnpackState {
  // Packed input and bit position.
  std::uint8_t PackedBuffer[kPackedBufferSize + kPackedGuardBytes];
  std::int32_t PackedFill;
  std::uint32_t PackedPos;
  std::uint32_t BitPos;
  // Refills in a row that delivered nothing. After the second one the decoder has read a whole
  // buffer of stale bytes, so the entry's data is certainly used up; the main loops stop there
  // instead of cycling the stale buffer for ever (a stream of table blocks or empty repeats
  // would otherwise never bring RemainingOutput below 0).
  std::uint32_t EmptyRefills;

  // Window.
  std::uint8_t* Window;
  std::uint32_t WindowPos;
  std::uint32_t FlushedPos;
  // Window bytes from the start that may be non-zero since the window was last cleared (up
  // to kWindowSize): a non-solid entry clears only those, not the whole MiB (see
  // NoteWindowWrites).
  std::uint32_t WindowDirtyEnd;

  // Format 2.0.
  HuffmanTable<kMainAlphabet> MainTable;
  HuffmanTable<kDistanceAlphabet> DistanceTable;
  HuffmanTable<kRepeatLengthAlphabet> RepeatLengthTable;
  HuffmanTable<kPreCodeAlphabet> PreCodeTable;
  HuffmanTable<kAudioAlphabet> AudioTables[kMaxAudioChannels];
  std::uint8_t PreviousLengths[kTableLengthCount];
  std::uint32_t RecentDistances[4];
  std::uint32_t RecentDistanceIndex;
  std::uint32_t LastMatchDistance;
  std::uint32_t LastMatchLength;
  bool AudioMode;
  std::int32_t AudioChannels;
  std::int32_t AudioChannel;

  // Multimedia predictor.
  AudioChannelState AudioStates[kMaxAudioChannels];
  std::int32_t CrossDelta;

  // Format 1.5.
  std::uint32_t LiteralOrder[256];
  std::uint32_t LiteralNextSlot[256];
  std::uint32_t LongDistanceOrder[256];
  std::uint32_t LongDistanceNextSlot[256];
  std::uint32_t FlagOrder[256];
  std::uint32_t FlagNextSlot[256];
  std::uint32_t ShortDistanceOrder[256];
  std::uint32_t LiteralPlaceAverage;
  std::uint32_t DistancePlaceAverage;
  std::uint32_t ShortLengthAverage;
  std::uint32_t LongLengthAverage;
  std::uint32_t NearMatchScore;
  std::uint32_t FarDistanceThreshold;
  std::uint32_t LiteralWeight;
  std::uint32_t MatchWeight;
  std::uint32_t ShortCodeToggle;
  std::int32_t LiteralRun;
  bool LiteralMode;
  std::uint32_t RepeatCount;
  std::uint32_t FlagBits;
  std::int32_t FlagBitsLeft;
};

}  // namespace korvane
