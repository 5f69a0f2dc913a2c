// The caption ticker: the text that scrolls through the main window's title bar, one
// character per timer tick. Setting the caption is the caller's business.
#pragma once
#include <cstdint>
#include <span>

namespace korvane::ui {

inline constexpr std::size_t kTickerCapacity = 500;

struct CaptionTicker {
  char Text[kTickerCapacity + 1] = {};  // always NUL-terminated
  std::int32_t StartIndex = 0;
};

// Takes the text from resource 142: up to the marker "~~" (a "~" at the last position
// counts as text) and at most 500 characters, bounded by the resource's real size.
void FillCaptionTicker(CaptionTicker& ticker, std::span<const std::uint8_t> resource);

// Returns the caption to show for this tick (the text from the start index on) and moves
// the start index on by one, back to 0 after the tick that shows the empty caption.
const char* StepCaptionTicker(CaptionTicker& ticker);

}  // namespace korvane::ui
