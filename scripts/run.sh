#!/usr/bin/env bash
# Builds everything for Windows (win64) and runs the installer in the demo release directory
# under Wine; the command-line tool's listing stays available.
#   scripts/run.sh                   korvane.exe in a Wine virtual desktop on $DISPLAY
#   scripts/run.sh --headless [PNG]  the same under Xvfb; saves a screenshot after a few
#                                    seconds (default BUILD/korvane-headless.png) and ends
#   scripts/run.sh --list ARCHIVE    lists an archive with the native tool
#   scripts/run.sh ARCHIVE           the same (an existing file as the only argument)
# BUILD is build/win64, or $KORVANE_BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${KORVANE_JOBS:-2}
build=${KORVANE_BUILD_DIR:-build/win64}  # the win64 build to make and run

list_archive() {
  scripts/install-deps.sh
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j "$jobs" --target korvane >/dev/null
  exec build/linux/tools/korvane list "$@"
}

mode=desktop
shot=$build/korvane-headless.png
case "${1:-}" in
  --list) shift; list_archive "$@" ;;
  --headless) mode=headless; [[ -n "${2:-}" ]] && shot=$2 ;;
  "") ;;
  *) if [[ $# -eq 1 && -f "$1" ]]; then list_archive "$@"; fi
     echo "usage: scripts/run.sh [--headless [PNG] | --list ARCHIVE]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
cmake --preset win64 -B "$build" >/dev/null
cmake --build "$build" -j "$jobs"
release=$(realpath "$build")/release
[[ -f "$release/korvane.exe" ]] || { echo "run.sh: no korvane.exe in $release" >&2; exit 1; }
source scripts/wine-env.sh "$build/run-prefix"

if [[ $mode == headless ]]; then
  display=""
  for n in $(seq 91 400); do
    if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then display=:$n; break; fi
  done
  [[ -n $display ]] || { echo "run.sh: no free X display" >&2; exit 1; }
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
  for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X${display#:} ]] && break; sleep 0.1; done
  export DISPLAY=$display
  (cd "$release" && wine explorer /desktop=Korvane,800x600 korvane.exe >/dev/null 2>&1 &)
  sleep "${KORVANE_SHOT_DELAY:-8}"
  mkdir -p "$(dirname "$shot")"
  import -window root "$shot"
  echo "screenshot saved: $shot"
  exit 0
fi

[[ -n "${DISPLAY:-}" ]] || { echo "run.sh: no \$DISPLAY; use scripts/run.sh --headless" >&2; exit 1; }
cd "$release"
exec wine explorer /desktop=Korvane,800x600 korvane.exe
