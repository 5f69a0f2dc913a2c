#!/usr/bin/env bash
# Installs what building and testing need from Debian 12 (the list is scripts/packages.txt).
# Quiet, and safe to run again: apt-get runs only when a package is missing.
set -euo pipefail
cd "$(dirname "$0")"
mapfile -t packages < <(sed 's/#.*//' packages.txt | tr -s ' \t' '\n' | grep -v '^$')
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
