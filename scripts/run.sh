#!/usr/bin/env bash
# Builds and runs the program's main job: for now the command-line tool on the archive given.
#   scripts/run.sh ARCHIVE        lists the archive
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "${KORVANE_JOBS:-2}" --target korvane >/dev/null
exec build/linux/tools/korvane list "$@"
