// CRC-32 two ways: carry-less-multiply folding where an x86-64 processor has PCLMULQDQ
// (checked once at run time), and slicing-by-16 tables everywhere else. Both give the same
// value for every length and alignment; the old 16-bit sum sits at the end.
#include "engine/checksum.h"

#include <array>

#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__)
// Only 64-bit x86 builds get the folding path: the 32-bit builds (mingw i686, -m32) keep the
// tables so they never depend on an instruction their oldest targets may lack.
#define KORVANE_CRC32_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace korvane {
namespace {

constexpr std::uint32_t kCrcPolynomial = 0xEDB88320u;
constexpr std::size_t kSlices = 16;

using CrcTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kCrcPolynomial : c >> 1;
    t[0][n] = c;
  }
  // t[k][n] is the CRC contribution of byte n followed by k zero bytes.
  for (std::size_t k = 1; k < kSlices; ++k)
    for (std::size_t n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFFu];
  return t;
}

constexpr CrcTables kCrcTables = MakeCrcTables();
static_assert(sizeof(kCrcTables) == kSlices * 256 * sizeof(std::uint32_t), "16 KiB of tables, no padding");
static_assert(kCrcTables[0][1] == 0x77073096u && kCrcTables[0][128] == 0xEDB88320u,
              "first-level table must be the reflected IEEE 802.3 table");

inline std::uint32_t Load32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

#ifdef KORVANE_CRC32_CLMUL

// The folding arithmetic, in the CRC's reflected bit order (bit 0 of byte 0 is the highest
// power). A 16-byte block D of the message, followed by T more message bits, contributes
// D·x^T; its low quadword L holds the 64 higher powers, so D = L·x^64 + H. Replacing x^(64+T)
// and x^T by their residues mod P gives a product of at most 95 bits that stands in for D
// at the block T bits later. PCLMULQDQ on reflected operands yields the reflected product
// times x (its 127-bit result sits one bit low in a 128-bit reflected value), so each factor
// is taken one power lower: x^(63+T) for L and x^(T-1) for H.

// x^n mod P in the reflected 32-bit form (bit 31 - k holds x^k): multiplying by x is a right
// shift, and a bit leaving x^31 comes back as P's low terms, exactly as the table is built.
constexpr std::uint32_t PowerOfXModP(unsigned n) {
  std::uint32_t r = 0x80000000u;  // x^0
  for (; n > 0; --n) r = (r & 1u) ? (r >> 1) ^ kCrcPolynomial : r >> 1;
  return r;
}
static_assert(PowerOfXModP(32) == kCrcPolynomial, "x^32 mod P is P's low 32 terms");

// A residue (degree <= 31) as a 64-bit reflected operand: its 32 bits move to the top half.
constexpr std::uint64_t AsOperand(std::uint32_t residue) { return std::uint64_t{residue} << 32; }

struct FoldFactors {
  std::uint64_t low, high;  // for L (x^(63+T)) and for H (x^(T-1))
};
constexpr FoldFactors FactorsFor(unsigned distanceBits) {
  return {AsOperand(PowerOfXModP(distanceBits + 63)), AsOperand(PowerOfXModP(distanceBits - 1))};
}
constexpr unsigned kLanes = 4;  // four independent blocks hide the multiply's latency
constexpr FoldFactors kFoldAcrossLanes = FactorsFor(kLanes * 128);
constexpr FoldFactors kFoldOneBlock = FactorsFor(128);
constexpr std::size_t kClmulMinimum = kLanes * 16;

__attribute__((target("sse2,pclmul"))) inline __m128i Fold(__m128i block, __m128i factors) {
  return _mm_xor_si128(_mm_clmulepi64_si128(block, factors, 0x00), _mm_clmulepi64_si128(block, factors, 0x11));
}

__attribute__((target("sse2,pclmul"))) inline __m128i Load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// size >= kClmulMinimum. The incoming CRC is folded into the first four message bytes, as the
// table path does, so from there on the running value is the message polynomial alone.
__attribute__((target("sse2,pclmul"))) std::uint32_t UpdateCrc32Clmul(std::uint32_t crc, const std::uint8_t* data,
                                                                       std::size_t size) {
  const __m128i acrossLanes = _mm_set_epi64x(static_cast<long long>(kFoldAcrossLanes.high),
                                             static_cast<long long>(kFoldAcrossLanes.low));
  const __m128i oneBlock =
      _mm_set_epi64x(static_cast<long long>(kFoldOneBlock.high), static_cast<long long>(kFoldOneBlock.low));
  __m128i x0 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load(data + 16), x2 = Load(data + 32), x3 = Load(data + 48);
  data += kClmulMinimum;
  size -= kClmulMinimum;
  for (; size >= kClmulMinimum; data += kClmulMinimum, size -= kClmulMinimum) {
    x0 = _mm_xor_si128(Fold(x0, acrossLanes), Load(data));
    x1 = _mm_xor_si128(Fold(x1, acrossLanes), Load(data + 16));
    x2 = _mm_xor_si128(Fold(x2, acrossLanes), Load(data + 32));
    x3 = _mm_xor_si128(Fold(x3, acrossLanes), Load(data + 48));
  }
  x1 = _mm_xor_si128(Fold(x0, oneBlock), x1);
  x2 = _mm_xor_si128(Fold(x1, oneBlock), x2);
  x3 = _mm_xor_si128(Fold(x2, oneBlock), x3);
  for (; size >= 16; data += 16, size -= 16) x3 = _mm_xor_si128(Fold(x3, oneBlock), Load(data));
  // What is left is one block whose CRC from zero is the message's CRC so far; the tables
  // finish it (and the last few bytes) faster than a Barrett reduction would pay for itself here.
  alignas(16) std::uint8_t last[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(last), x3);
  return UpdateCrc32Table(UpdateCrc32Table(0, last, sizeof last), data, size);
}

bool HasClmul() {
  unsigned eax, ebx, ecx, edx;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_PCLMUL) != 0 && (edx & bit_SSE2) != 0;
}

#endif  // KORVANE_CRC32_CLMUL

}  // namespace

std::uint32_t UpdateCrc32Table(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  const auto& t = kCrcTables;
  while (size >= kSlices) {
    const std::uint32_t a = crc ^ Load32(data);
    const std::uint32_t b = Load32(data + 4);
    const std::uint32_t c = Load32(data + 8);
    const std::uint32_t d = Load32(data + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    data += kSlices;
    size -= kSlices;
  }
  while (size-- > 0) crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return crc;
}

std::uint32_t UpdateCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
#ifdef KORVANE_CRC32_CLMUL
  static const bool clmul = HasClmul();
  if (clmul && size >= kClmulMinimum) return UpdateCrc32Clmul(crc, data, size);
#endif
  return UpdateCrc32Table(crc, data, size);
}

std::uint16_t UpdateOldChecksum(std::uint16_t sum, const std::uint8_t* data, std::size_t size) {
  // Kept in 32 bits so neither the add nor the shift can leave the value range we mask to.
  std::uint32_t s = sum;
  for (std::size_t i = 0; i < size; ++i) {
    s = (s + data[i]) & 0xFFFFu;
    s = ((s << 1) | (s >> 15)) & 0xFFFFu;
  }
  return static_cast<std::uint16_t>(s);
}

std::uint32_t UpdateChecksum(std::uint32_t value, const std::uint8_t* data, std::size_t size, ChecksumKind kind) {
  if (kind == ChecksumKind::kOld) return UpdateOldChecksum(static_cast<std::uint16_t>(value), data, size);
  return UpdateCrc32(value, data, size);
}

}  // namespace korvane
