# Sourced: points Wine at a prefix of the build's own and makes it once (quietly).
# Usage: source scripts/wine-env.sh PREFIX_DIR
export WINEPREFIX="$(realpath -m "${1:?prefix directory}")"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
"$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
