// The preview's own text font: 5 x 7 glyphs for printable ASCII with two rows below the
// baseline for descenders, set proportionally (each glyph as wide as its ink, one column
// between glyphs) so that labels fit the controls sized for the installer's proportional
// dialog font. Bold is the glyph drawn twice, one pixel apart, as a bold font looks at this size.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>

namespace korvane::release {

inline constexpr int kGlyphColumns = 5;
inline constexpr int kGlyphRows = 9;      // 7 above the baseline, 2 below
inline constexpr int kSpaceAdvance = 3;   // a glyph without ink
using GlyphBits = std::array<std::uint8_t, kGlyphRows>;  // rows top first, bit 4 the left column

// Characters outside ' '..'~' are drawn as a hollow box.
const GlyphBits& Glyph(unsigned char ch);

struct GlyphSpan {
  int First;    // leftmost inked column
  int Advance;  // inked columns plus the gap after them
};
GlyphSpan SpanOf(unsigned char ch, bool bold);

int TextWidth(std::string_view text, bool bold = false);

// Calls plot(x, y) for every inked pixel of text whose first cell's top left corner is (x, y).
template <typename Plot>
void DrawText(std::string_view text, int x, int y, bool bold, Plot plot) {
  for (const char ch : text) {
    const auto code = static_cast<unsigned char>(ch);
    const GlyphBits& rows = Glyph(code);
    const GlyphSpan span = SpanOf(code, bold);
    for (int r = 0; r < kGlyphRows; ++r)
      for (int c = span.First; c < kGlyphColumns; ++c)
        if (rows[std::size_t(r)] & (0x10 >> c)) {
          plot(x + c - span.First, y + r);
          if (bold) plot(x + c - span.First + 1, y + r);
        }
    x += span.Advance;
  }
}

}  // namespace korvane::release
