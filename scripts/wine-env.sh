# Sourced: points Wine at a prefix of the build's own and makes it once (quietly).
# Usage: source scripts/wine-env.sh PREFIX_DIR
export WINEPREFIX="$(realpath -m "${1:?prefix directory}")"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
fi
