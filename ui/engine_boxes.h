// The boxes in which the installer shows what the engine tells it and asks: text (a %s stands
// for the name concerned), title, style and owner. They are the installer's own and are kept
// exactly, oddities included: the titles spell the group's name two ways ("Zendril 1997",
// "Zendril 97") or are left to the system (nullptr), "Archive" is capitalised mid-sentence and
// the write error reads like a code. The GUI tests read them back.
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/host.h"

namespace korvane::ui {

// Message box styles, with the values Windows gives them (this part builds everywhere).
inline constexpr std::uint32_t kMbOk = 0x00;
inline constexpr std::uint32_t kMbOkCancel = 0x01;
inline constexpr std::uint32_t kMbIconStop = 0x10;

struct EngineBox {
  const char* Format;
  const char* Title;
  std::uint32_t Style;
  bool OwnedByProgress;  // owned by the progress window, else by nobody
};

EngineBox BoxFor(Notice notice);
EngineBox BoxFor(Question question);

// The box's text with the subject put in (cut to capacity); an empty subject for none.
void FormatBoxText(const EngineBox& box, const char* subject, char* text, std::size_t capacity);

}  // namespace korvane::ui
