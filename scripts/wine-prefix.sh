#!/usr/bin/env bash
# Makes the Wine prefix $WINEPREFIX ready for korvane.exe, once: wineboot, then Wine's own fonts
# (Debian's fonts-wine) linked into the prefix's Fonts folder. Debian's Wine does not read them
# from where the package puts them; without them, caption buttons show the letters "0 1 r"
# instead of their symbols and dialogs are measured with a stand-in font.
set -euo pipefail
: "${WINEPREFIX:?set WINEPREFIX}"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
fi
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [[ -d /usr/share/wine/fonts && ! -e "$fonts/marlett.ttf" ]]; then
  wineserver -k 2>/dev/null || true
  mkdir -p "$fonts"
  ln -sf /usr/share/wine/fonts/* "$fonts/"
fi
