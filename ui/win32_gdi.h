// Windows helpers of the front end: owning wrappers for kernel handles, GDI objects, device
// contexts, their saved state and palette selections, resource bytes, and the palette / DIB
// operations over the portable picture code.
#pragma once
#include <windows.h>

#include <span>

#include "ui/buttons.h"
#include "ui/palette_dib.h"
#include "ui/pcx.h"

namespace korvane::ui {

// Closes the kernel handle (thread, event, file) it holds. CreateFile fails with
// INVALID_HANDLE_VALUE where the others give null; both are kept as no handle.
class KernelHandle {
 public:
  KernelHandle() = default;
  explicit KernelHandle(HANDLE h) : Handle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  KernelHandle(KernelHandle&& o) noexcept : Handle(o.Handle) { o.Handle = nullptr; }
  KernelHandle& operator=(KernelHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      Handle = o.Handle;
      o.Handle = nullptr;
    }
    return *this;
  }
  ~KernelHandle() { Reset(); }
  void Reset() {
    if (Handle) CloseHandle(Handle);
    Handle = nullptr;
  }
  HANDLE Get() const { return Handle; }
  explicit operator bool() const { return Handle != nullptr; }

 private:
  HANDLE Handle = nullptr;
};

// Deletes the GDI object (palette, font) it holds.
template <typename Handle>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(Handle h) : Object(h) {}
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  GdiObject(GdiObject&& o) noexcept : Object(o.Object) { o.Object = nullptr; }
  GdiObject& operator=(GdiObject&& o) noexcept {
    if (this != &o) {
      Reset();
      Object = o.Object;
      o.Object = nullptr;
    }
    return *this;
  }
  ~GdiObject() { Reset(); }
  void Reset() {
    if (Object) DeleteObject(Object);
    Object = nullptr;
  }
  Handle Get() const { return Object; }

 private:
  Handle Object = nullptr;
};
using PaletteHandle = GdiObject<HPALETTE>;
using FontHandle = GdiObject<HFONT>;

// A window's device context from GetDC, released on scope exit.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : Window(window), Dc(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (Dc) ReleaseDC(Window, Dc);
  }
  HDC Get() const { return Dc; }

 private:
  HWND Window;
  HDC Dc;
};

// BeginPaint / EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND window) : Window(window) { Dc = BeginPaint(window, &Paint); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  ~PaintDc() { EndPaint(Window, &Paint); }
  HDC Get() const { return Dc; }

 private:
  HWND Window;
  PAINTSTRUCT Paint{};
  HDC Dc;
};

// Everything a drawing changes in a device context (selected pen, brush and font, text
// alignment, colours, background mode) comes back as it was on scope exit.
class SavedDcState {
 public:
  explicit SavedDcState(HDC dc) : Dc(dc), Saved(dc ? SaveDC(dc) : 0) {}
  SavedDcState(const SavedDcState&) = delete;
  SavedDcState& operator=(const SavedDcState&) = delete;
  ~SavedDcState() {
    if (Saved != 0) RestoreDC(Dc, Saved);
  }

 private:
  HDC Dc;
  int Saved;
};

// Selects a palette as foreground palette and realises it; the previous one comes back on
// scope exit so no device context keeps a palette that is about to be deleted.
class PaletteSelection {
 public:
  PaletteSelection(HDC dc, HPALETTE palette) : Dc(dc) {
    if (Dc && palette) {
      Previous = SelectPalette(Dc, palette, FALSE);
      RealizePalette(Dc);
    }
  }
  PaletteSelection(const PaletteSelection&) = delete;
  PaletteSelection& operator=(const PaletteSelection&) = delete;
  ~PaletteSelection() {
    if (Previous) SelectPalette(Dc, Previous, FALSE);
  }

 private:
  HDC Dc;
  HPALETTE Previous = nullptr;
};

// The bytes of RCDATA resource `id` of the program, empty when it is missing. Resources
// live as long as the program, so the span never dangles.
std::span<const std::uint8_t> LoadRcData(HINSTANCE instance, int id);

// Decodes an RCDATA picture; false (and an empty picture) when it is missing or not one.
bool LoadPcxResource(HINSTANCE instance, int id, PcxPicture& picture);

// A logical palette of the picture's 256 colours; a failure beeps and gives none.
PaletteHandle CreatePcxPalette(std::span<const std::uint8_t, 768> palette);

// Colour table entries as indices of the palette's nearest entries to the picture's colours.
void MapDibColors(PaletteDib& dib, std::span<const std::uint8_t, 768> palette, HPALETTE handle);

// One stretched transfer of the DIB (from its column 1) into the destination rectangle,
// colours taken through the palette selected in the device context.
void DrawDib(HDC dc, const PaletteDib& dib, const ScreenRect& destination);

}  // namespace korvane::ui
