// Reads a Protracker module from a block of memory into the player's song: header, order table,
// patterns (periods turned into note indices once) and sample data. It never reads past
// the block, whatever the header fields claim, and it never writes the block.
#include <cmath>
#include <cstring>
#include <new>

#include "player/mod_player.h"

namespace korvane {
namespace {

constexpr std::size_t kTitleBytes = 20;
constexpr std::size_t kSampleHeaderBytes = 30;
constexpr std::size_t kSampleNameBytes = 22;
constexpr std::size_t kSignatureOffset = 1080;
constexpr int kLongSampleHeaders = 31;
constexpr int kShortSampleHeaders = 15;

struct Signature {
  char text[5];
  std::int32_t channels;
};
constexpr Signature kSignatures[] = {
    {"M.K.", 4}, {"FLT4", 4}, {"FLT8", 8}, {"6CHN", 6}, {"8CHN", 8},
};

// Where the parts of the header lie for a given number of sample headers. The 15-sample
// layout has no signature, so its pattern data follows the order table directly.
struct Layout {
  int sampleHeaders;
  bool hasSignature;
  constexpr std::size_t songLengthOffset() const { return kTitleBytes + sampleHeaders * kSampleHeaderBytes; }
  constexpr std::size_t orderOffset() const { return songLengthOffset() + 2; }
  constexpr std::size_t patternOffset() const { return orderOffset() + kOrderTableSize + (hasSignature ? 4 : 0); }
};
static_assert(Layout{kLongSampleHeaders, true}.patternOffset() == 1084);
static_assert(Layout{kLongSampleHeaders, true}.orderOffset() + kOrderTableSize == kSignatureOffset);
static_assert(Layout{kShortSampleHeaders, false}.orderOffset() == 472);
static_assert(Layout{kShortSampleHeaders, false}.patternOffset() == 600);

template <typename T>
std::unique_ptr<T[]> AllocateZeroed(std::size_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

void CopyText(char* to, const std::uint8_t* from, std::size_t bytes) {
  std::size_t n = 0;
  while (n < bytes && from[n] != 0) {
    to[n] = static_cast<char>(from[n]);
    ++n;
  }
  to[n] = '\0';
}

}  // namespace

std::int32_t ReadWordLength(const std::uint8_t* module, std::size_t& cursor) {
  const std::int32_t word = (module[cursor] << 8) | module[cursor + 1];
  cursor += 2;
  return word * 2;
}

std::int32_t NoteFromPeriod(std::int32_t period) {
  if (period <= 0) return -1;
  // 1.007246412224 is the ratio of one eighth of a semitone.
  return static_cast<std::int32_t>(
      std::lround(8.0 + std::log(856.0 / period) / std::log(1.007246412224)));
}

void FreeModule(ModPlayer& player) {
  // Whatever plays the blocks (the wave output) has been stopped by its owner before this.
  static_cast<ModSong&>(player) = ModSong{};
  static_cast<PlayState&>(player) = PlayState{};
  player.delayLeft.reset();
  player.delayRight.reset();
  player.mixLeft.reset();
  player.mixRight.reset();
  player.mixOut.reset();
}

namespace {

// The header layout from the signature at 1080, which also gives the channel count; without
// one the module is of the old 15-sample, 4-channel kind.
Layout ReadLayout(ModPlayer& player, const std::uint8_t* data, std::size_t size) {
  player.channelCount = 4;
  if (size >= kSignatureOffset + 4) {
    for (const Signature& s : kSignatures) {
      if (std::memcmp(data + kSignatureOffset, s.text, 4) == 0) {
        player.channelCount = s.channels;
        std::memcpy(player.signature, s.text, 5);
        return {kLongSampleHeaders, true};
      }
    }
  }
  return {kShortSampleHeaders, false};
}

// Title and sample headers; returns where the song length follows.
std::size_t ReadSampleHeaders(ModPlayer& player, const std::uint8_t* data) {
  CopyText(player.title, data, kTitleBytes);
  std::size_t cursor = kTitleBytes;
  for (int slot = 1; slot < player.sampleSlots; ++slot) {
    ModSample& s = player.samples[slot];
    CopyText(s.name, data + cursor, kSampleNameBytes);
    cursor += kSampleNameBytes;
    s.length = ReadWordLength(data, cursor);
    const std::int32_t finetune = data[cursor++];
    s.finetune = finetune > 7 ? finetune - 16 : finetune;
    s.volume = data[cursor++];
    s.loopStart = ReadWordLength(data, cursor);
    s.loopLength = ReadWordLength(data, cursor);
    s.loopEnd = s.loopStart + s.loopLength;
    if (s.loopEnd > s.length) s.loopEnd = s.length;
    // A loop that starts at or past the end of the data, has no length, or is longer than
    // the part it would wrap within (loopEnd) would either never come back or send the
    // position below the data; such samples play once.
    s.loops = s.loopEnd > 2 && s.loopLength > 0 && s.loopStart < s.length && s.loopLength <= s.loopEnd;
  }
  return cursor;
}

// Song length and order table; the pattern count is one past the largest order.
void ReadOrders(ModPlayer& player, const std::uint8_t* data, std::size_t cursor) {
  player.songLength = data[cursor];
  cursor += 2;  // the restart byte plays no part
  std::int32_t largest = 0;
  for (int i = 0; i < kOrderTableSize; ++i) {
    player.orderTable[i] = data[cursor + i];
    if (player.orderTable[i] > largest) largest = player.orderTable[i];
  }
  // The sequencer wraps at songLength and indexes the 128-entry order table with it, so
  // keep it to 1..128 (0 plays the first order, as a song of one position).
  if (player.songLength > kOrderTableSize) player.songLength = kOrderTableSize;
  if (player.songLength < 1) player.songLength = 1;
  player.patternCount = largest + 1;
}

std::size_t CellCount(const ModPlayer& player) {
  return static_cast<std::size_t>(player.patternCount) * kRowsPerPattern * player.channelCount;
}

// Pattern cells from cursor on; false when they cannot be allocated. Cells that the file
// does not contain are left empty (no sample, no note).
bool ReadPatterns(ModPlayer& player, const std::uint8_t* data, std::size_t size, std::size_t cursor) {
  const std::size_t cellCount = CellCount(player);
  player.patterns = AllocateZeroed<ModCell>(cellCount);
  if (!player.patterns) return false;
  const std::size_t presentCells = (size - cursor) / 4 < cellCount ? (size - cursor) / 4 : cellCount;
  for (std::size_t i = 0; i < cellCount; ++i) {
    ModCell& cell = player.patterns[i];
    if (i >= presentCells) {
      cell.note = -1;
      continue;
    }
    const std::uint8_t* b = data + cursor + i * 4;
    cell.sample = (b[0] & 0xF0) | (b[2] >> 4);
    // A sample number without a slot is read as no sample at all.
    if (cell.sample >= player.sampleSlots) cell.sample = 0;
    cell.note = NoteFromPeriod(((b[0] & 0x0F) << 8) | b[1]);
    cell.command = b[2] & 0x0F;
    cell.param = b[3];
  }
  return true;
}

// Sample data from cursor on, which may lie past the block; false when a sample cannot be
// allocated. Sample bytes missing from a short file stay zero (silence).
bool ReadSampleData(ModPlayer& player, const std::uint8_t* data, std::size_t size, std::size_t cursor) {
  for (int slot = 1; slot < player.sampleSlots; ++slot) {
    ModSample& s = player.samples[slot];
    s.data = AllocateZeroed<std::int8_t>(static_cast<std::size_t>(s.length) + 1);
    if (!s.data) return false;
    if (cursor < size) {
      const std::size_t available = size - cursor;
      const std::size_t n = available < static_cast<std::size_t>(s.length) ? available : s.length;
      std::memcpy(s.data.get(), data + cursor, n);
    }
    cursor += s.length;
    if (s.length > 0 && s.loopLength > 2 && s.loops) s.data[s.loopEnd] = s.data[s.loopStart];
  }
  return true;
}

// The whole module into the song; false when the block is too short or memory runs out.
bool ReadModule(ModPlayer& player, const std::uint8_t* data, std::size_t size) {
  const Layout layout = ReadLayout(player, data, size);
  const std::size_t patternOffset = layout.patternOffset();
  // Everything up to the pattern data is needed to make sense of the rest; a block that
  // stops before that is not a module.
  if (size < patternOffset) return false;

  player.sampleSlots = layout.sampleHeaders + 1;
  player.channels = AllocateZeroed<ModChannel>(player.channelCount);
  player.samples = AllocateZeroed<ModSample>(player.sampleSlots);
  if (!player.channels || !player.samples) return false;

  ReadOrders(player, data, ReadSampleHeaders(player, data));
  if (!ReadPatterns(player, data, size, patternOffset)) return false;
  return ReadSampleData(player, data, size, patternOffset + CellCount(player) * 4);
}

}  // namespace

int LoadModule(ModPlayer& player, const std::uint8_t* data, std::size_t size) {
  FreeModule(player);
  if (data == nullptr) return 0;
  if (!ReadModule(player, data, size)) {
    FreeModule(player);
    return 0;
  }
  BuildVolumeTable(64, player);
  return 1;
}

}  // namespace korvane
