#!/usr/bin/env bash
# GUI tests of a release stamped by `korvane release` from a folder unlike the project's own
# (other pictures, music, caption and volume count): the window shows the new picture, the
# title ticks the new caption, the sound device gets the new module's render and Test passes
# on the new volumes; the window equals what `korvane preview` drew of the folder.
#   tests/gui/run-stamped.sh BUILD_DIR
# The stub is the build's own korvane.exe (under a 64-bit-only Wine, the win64 one).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "${1:?usage: run-stamped.sh BUILD_DIR}")
cli=${KORVANE_CLI:-$root/build/linux/tools/korvane}
work=$(mktemp -d /tmp/korvane-stamped.XXXXXX)
trap 'rm -rf "$work"' EXIT
time="1999-01-02 03:04:05"
/usr/bin/python3 -B "$root/tests/gui/make_variant.py" "$root/assets" "$work/source"
"$cli" preview "$work/source" "$work/preview.png"
"$cli" release -q --volumes 7 --time "$time" --stub "$build/ui/korvane.exe" "$work/source" "$work/release"
exec /usr/bin/python3 -B "$root/tests/gui/gui_tests.py" --release "$work/release" --payload "$work/source/payload" \
  --attributes "$work/source/payload-attributes.txt" --cli "$cli" --caption "$work/source/caption.txt" \
  --module "$work/source/korvane.mod" --main-picture "$work/source/main.pcx" \
  --progress-picture "$work/source/progress.pcx" --volumes 7 --time "$time" --preview "$work/preview.png" startup test_button
