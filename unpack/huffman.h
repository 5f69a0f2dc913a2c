// Canonical prefix codes of format 2.0: building the decoding form from code lengths and
// decoding one symbol. The decode rule is the written comparison tree over LengthLimit; the
// Fast table only caches the tree's answers for codes of up to its kFastBits bits, so both
// paths give the same symbol and consume the same bits for every input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "unpack/bit_input.h"
#include "unpack/unpack_state.h"

namespace korvane {

// Length of the code that starts with n (16 bits, lowest bit clear): the smallest i from 1 to
// 14 with n < limit[i], else 15, by the fixed comparison tree. The limits never decrease, so
// the tree and a linear scan agree.
inline std::uint32_t CodeLengthOf(const std::uint32_t* limit, std::uint32_t n) {
  if (n < limit[8]) {
    if (n < limit[4]) {
      if (n < limit[2]) return n < limit[1] ? 1 : 2;
      return n < limit[3] ? 3 : 4;
    }
    if (n < limit[6]) return n < limit[5] ? 5 : 6;
    return n < limit[7] ? 7 : 8;
  }
  if (n < limit[12]) {
    if (n < limit[10]) return n < limit[9] ? 9 : 10;
    return n < limit[11] ? 11 : 12;
  }
  if (n < limit[14]) return n < limit[13] ? 13 : 14;
  return 15;
}

// Index into Symbols for code length length and input n; an index beyond SymbolCount gives 0.
// The subtraction cannot wrap: the tree only answers length when n >= limit[length - 1].
template <std::size_t kAlphabet>
inline std::uint32_t SymbolIndexOf(const HuffmanTable<kAlphabet>& t, std::uint32_t length, std::uint32_t n) {
  const std::uint32_t k = t.LengthStart[length] + ((n - t.LengthLimit[length - 1]) >> (16 - length));
  return k < t.SymbolCount ? k : 0;
}

// Fills t.Fast for a table whose limits and symbols are built. A code without more codes
// than its lengths have room for (withinKraft) is filled code by code: each code of up to
// kFastBits bits owns the contiguous run of prefixes that start with it, exactly the
// prefixes for which the tree answers its length and symbol, and nothing else gets an
// answer. Any other set of lengths (damaged or hostile input) is filled prefix by prefix.
template <std::size_t kAlphabet>
void FillFastTable(HuffmanTable<kAlphabet>& t, bool withinKraft) {
  constexpr std::uint32_t kBits = HuffmanTable<kAlphabet>::kFastBits;
  constexpr std::uint32_t kShift = 16 - kBits;
  if (withinKraft) {
    // Codes of one length are consecutive numbers in symbol order, starting where the
    // shorter lengths' codes end (LengthLimit of the length below, in 16-bit units); so the
    // short codes fill the table from its start without a gap, and the rest is the tree's.
    std::uint32_t prefix = 0;
    for (std::uint32_t length = 1; length <= kBits; ++length) {
      const std::uint32_t run = 1u << (kBits - length);
      for (std::uint32_t k = t.LengthStart[length]; k < t.LengthStart[length + 1]; ++k, prefix += run) {
        const std::uint32_t entry = (length << 16) | t.Symbols[k];
        for (std::uint32_t j = 0; j < run; ++j) t.Fast[prefix + j] = entry;
      }
    }
    std::memset(t.Fast + prefix, 0, sizeof t.Fast - prefix * sizeof t.Fast[0]);
    return;
  }
  // Cache the answer for each kFastBits-bit prefix whose whole range of inputs gets the
  // same length and the same symbol from the tree. The limits never decrease, so walking the
  // prefixes upwards the tree's length for the range's low end only grows, and the high end
  // has the same length when it is still below that length's limit. Length and index are
  // monotonic in n, so agreeing ends prove it for every n inside.
  std::uint32_t length = 1;
  for (std::uint32_t p = 0; p < (1u << kBits); ++p) {
    const std::uint32_t lo = p << kShift;
    const std::uint32_t hi = (lo | ((1u << kShift) - 1)) & 0xFFFE;
    while (length < 15 && lo >= t.LengthLimit[length]) ++length;
    std::uint32_t entry = 0;
    if (length <= kBits && hi < t.LengthLimit[length]) {
      const std::uint32_t rawLo = t.LengthStart[length] + ((lo - t.LengthLimit[length - 1]) >> (16 - length));
      const std::uint32_t rawHi = t.LengthStart[length] + ((hi - t.LengthLimit[length - 1]) >> (16 - length));
      if (rawLo == rawHi) entry = (length << 16) | t.Symbols[SymbolIndexOf(t, length, lo)];
    }
    t.Fast[p] = entry;
  }
}

template <std::size_t kAlphabet>
void BuildHuffmanTable(const std::uint8_t* lengths, HuffmanTable<kAlphabet>& t, std::uint32_t count) {
  if (count > kAlphabet) count = kAlphabet;
  std::uint32_t perLength[16] = {};
  for (std::uint32_t i = 0; i < count; ++i) ++perLength[lengths[i] & 15];
  perLength[0] = 0;
  t.LengthLimit[0] = 0;
  t.LengthStart[0] = 0;
  std::uint32_t next[16];
  next[0] = 0;
  // n stays below 298 * 2^16 even for lengths that form no valid code; 64 bits say so plainly.
  std::uint64_t n = 0;
  for (std::uint32_t i = 1; i < 16; ++i) {
    n = 2 * (n + perLength[i]);
    const std::uint64_t limit = n << (15 - i);
    t.LengthLimit[i] = limit > 0xFFFF ? 0xFFFF : static_cast<std::uint32_t>(limit);
    t.LengthStart[i] = t.LengthStart[i - 1] + perLength[i - 1];
    next[i] = t.LengthStart[i];
  }
  // The slots handed out are exactly the coded symbols, so next[] never passes count.
  for (std::uint32_t s = 0; s < count; ++s) {
    const std::uint32_t length = lengths[s] & 15;
    if (length != 0) t.Symbols[next[length]++] = s;
  }
  t.SymbolCount = count;

  FillFastTable(t, n <= (std::uint64_t{1} << 16));
}

// The comparison tree alone; DecodeHuffmanSymbol must always agree with it.
template <std::size_t kAlphabet>
inline std::uint32_t DecodeHuffmanSymbolByTree(UnpackState& s, const HuffmanTable<kAlphabet>& t) {
  const std::uint32_t n = PeekBits(s) & 0xFFFE;
  const std::uint32_t length = CodeLengthOf(t.LengthLimit, n);
  SkipBits(s, length);
  return t.Symbols[SymbolIndexOf(t, length, n)];
}

// On either bit reader (BitCursor or BitBuffer).
template <typename Input, std::size_t kAlphabet>
inline std::uint32_t DecodeHuffmanSymbol(Input& in, const HuffmanTable<kAlphabet>& t) {
  const std::uint32_t entry = t.Fast[in.template PeekTop<HuffmanTable<kAlphabet>::kFastBits>()];
  if (entry != 0) {
    in.Skip(entry >> 16);
    return entry & 0xFFFF;
  }
  const std::uint32_t n = in.Peek() & 0xFFFE;
  const std::uint32_t length = CodeLengthOf(t.LengthLimit, n);
  in.Skip(length);
  return t.Symbols[SymbolIndexOf(t, length, n)];
}

template <std::size_t kAlphabet>
inline std::uint32_t DecodeHuffmanSymbol(UnpackState& s, const HuffmanTable<kAlphabet>& t) {
  BitCursor in = BitCursor::Load(s);
  const std::uint32_t symbol = DecodeHuffmanSymbol<BitCursor>(in, t);
  in.Store(s);
  return symbol;
}

}  // namespace korvane
