// Caption ticker fill and step.
#include "ui/ticker.h"

#include <cstring>

namespace korvane::ui {

void FillCaptionTicker(CaptionTicker& ticker, std::span<const std::uint8_t> resource) {
  std::memset(ticker.Text, 0, sizeof ticker.Text);
  const std::size_t limit = resource.size() < kTickerCapacity ? resource.size() : kTickerCapacity;
  for (std::size_t i = 0; i < limit; ++i) {
    const std::uint8_t ch = resource[i];
    if (ch == '~' && i < kTickerCapacity - 1 && i + 1 < resource.size() && resource[i + 1] == '~') break;
    ticker.Text[i] = static_cast<char>(ch);
  }
}

const char* StepCaptionTicker(CaptionTicker& ticker) {
  const auto length = static_cast<std::int32_t>(std::strlen(ticker.Text));
  if (ticker.StartIndex < 0 || ticker.StartIndex > length) ticker.StartIndex = 0;
  const char* caption = ticker.Text + ticker.StartIndex;
  if (++ticker.StartIndex > length) ticker.StartIndex = 0;
  return caption;
}

}  // namespace korvane::ui
