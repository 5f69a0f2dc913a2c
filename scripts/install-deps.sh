#!/usr/bin/env bash
# Installs what building and testing need from Debian 12. Quiet, and safe to run again:
# apt-get runs only when a package is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev googletest libbenchmark-dev zlib1g-dev libxmp-dev
  clang libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine64 xvfb xdotool imagemagick x11-utils
  python3 python3-pil fonts-dejavu-core
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Debian's wine64 puts its loader outside PATH; scripts and people expect `wine64`.
if ! command -v wine64 >/dev/null && [[ -x /usr/lib/wine/wine64 ]]; then
  ln -sf /usr/lib/wine/wine64 /usr/local/bin/wine64
fi
