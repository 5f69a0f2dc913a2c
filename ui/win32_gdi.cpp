// Resources, palettes and DIB drawing for the front end.
#include "ui/win32_gdi.h"

#include <vector>

namespace korvane::ui {
namespace {

// The SDK names neither: MessageBeep's plain speaker beep, and the only LOGPALETTE version.
constexpr UINT kSimpleBeep = 0xFFFFFFFF;
constexpr WORD kPaletteVersion = 0x300;

}  // namespace

std::span<const std::uint8_t> LoadRcData(HINSTANCE instance, int id) {
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(id), RT_RCDATA);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(instance, found);
  if (!loaded) return {};
  const void* bytes = LockResource(loaded);
  const DWORD size = SizeofResource(instance, found);
  if (!bytes || size == 0) return {};
  return {static_cast<const std::uint8_t*>(bytes), size};
}

bool LoadPcxResource(HINSTANCE instance, int id, PcxPicture& picture) {
  return DecodePcx(LoadRcData(instance, id), picture);
}

PaletteHandle CreatePcxPalette(std::span<const std::uint8_t, 768> palette) {
  // LOGPALETTE declares one entry; the other 255 follow it in the same block.
  std::vector<std::uint8_t> block(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY), 0);
  auto* description = reinterpret_cast<LOGPALETTE*>(block.data());
  description->palVersion = kPaletteVersion;
  description->palNumEntries = 256;
  for (int i = 0; i < 256; ++i) {
    description->palPalEntry[i] = {palette[3 * i], palette[3 * i + 1], palette[3 * i + 2], 0};
  }
  HPALETTE handle = CreatePalette(description);
  if (!handle) MessageBeep(kSimpleBeep);
  return PaletteHandle(handle);
}

void MapDibColors(PaletteDib& dib, std::span<const std::uint8_t, 768> palette, HPALETTE handle) {
  MapDibColors(dib, palette, [handle](std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const UINT index = GetNearestPaletteIndex(handle, PALETTERGB(r, g, b));
    return static_cast<std::uint16_t>(index == CLR_INVALID ? 0 : index);
  });
}

void DrawDib(HDC dc, const PaletteDib& dib, const ScreenRect& destination) {
  if (!dib.Valid()) return;
  const SourceRect source = DibSourceRect(dib);
  StretchDIBits(dc, destination.X, destination.Y, destination.Width, destination.Height, source.X, source.Y,
                source.Width, source.Height, dib.Pixels().data(), reinterpret_cast<const BITMAPINFO*>(dib.Info()),
                DIB_PAL_COLORS, SRCCOPY);
}

}  // namespace korvane::ui
