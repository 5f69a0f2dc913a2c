#!/usr/bin/env bash
# GUI tests: drives the win64 build's korvane.exe under Xvfb and Wine in its release directory.
#   tests/gui/run-all.sh BUILD_DIR [TEST_NAME...]
# Environment: KORVANE_CLI (native korvane for the music reference; default build/linux's),
# KORVANE_GUI_SCREENSHOTS (a folder to save the README screenshots into), KORVANE_GUI_KEEP=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:?usage: run-all.sh BUILD_DIR [TEST...]}")
shift
cache="$build/CMakeCache.txt"
[[ -f "$cache" ]] || { echo "run-all.sh: $build is not a configured build" >&2; exit 2; }
source_dir=$(sed -n 's/^KORVANE_RELEASE_SOURCE:[A-Z]*=//p' "$cache")
source_dir=${source_dir:-$root/assets}
release="$build/release"
exe="$build/ui/korvane.exe"
[[ -f "$exe" && -f "$release/korvane.exe" ]] || { echo "run-all.sh: build korvane.exe first ($exe)" >&2; exit 2; }

cli=${KORVANE_CLI:-$root/build/linux/tools/korvane}
if [[ ! -x "$cli" ]]; then
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j "${KORVANE_JOBS:-2}" --target korvane >/dev/null
  cli="$root/build/linux/tools/korvane"
fi

args=(--release "$release" --payload "$source_dir/payload"
      --attributes "$source_dir/payload-attributes.txt" --cli "$cli"
      --caption "$source_dir/caption.txt" --module "$source_dir/korvane.mod"
      --main-picture "$source_dir/main.pcx" --progress-picture "$source_dir/progress.pcx" --volumes "$(cat "$build/assets/volume-count.txt")"
      --time "$(sed -n 's/^KORVANE_RELEASE_TIME:[A-Z]*=//p' "$cache")")
[[ -n "${KORVANE_GUI_SCREENSHOTS:-}" ]] && args+=(--screenshots "$KORVANE_GUI_SCREENSHOTS")
[[ -n "${KORVANE_GUI_KEEP:-}" ]] && args+=(--keep)
exec /usr/bin/python3 -B "$root/tests/gui/gui_tests.py" "${args[@]}" "$@"
