#!/usr/bin/env bash
# Runs every test: native unit tests, the sanitizer build's tests (with the fuzz seed replays),
# the same tests built for 32-bit x86 under qemu-i386, the win64 build's tests under Wine, the
# GUI tests that drive korvane.exe under Xvfb and Wine, and checks that the win32, benchmark and
# libFuzzer builds compile.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-deps.py
jobs=${KORVANE_JOBS:-2}
export CTEST_PARALLEL_LEVEL=$jobs

step() { printf '\n=== %s ===\n' "$*"; }

step "linux: build and test"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
ctest --preset linux -j "$jobs"

step "bench and linux-fuzz: build only (the benchmark and the fuzzers are run by hand)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs"
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz -j "$jobs"

step "linux-asan: build and test"
cmake --preset linux-asan -DKORVANE_STUB_FILE="$PWD/build/linux/stub/ui/korvane.exe" >/dev/null
cmake --build --preset linux-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --preset linux-asan -j "$jobs"

step "linux-i686: build and test at 32 bits under qemu-i386"
cmake --preset linux-i686 >/dev/null
cmake --build --preset linux-i686 -j "$jobs"
ctest --preset linux-i686 -j "$jobs"

step "win64: build and test under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs"
source scripts/wine-env.sh build/win64/wineprefix
ctest --preset win64 -j "$jobs"

step "win32: build"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

if [[ -x tests/gui/run-all.sh ]]; then
  step "GUI tests under Xvfb and Wine"
  tests/gui/run-all.sh build/win64
  step "GUI tests of a release stamped from another folder"
  tests/gui/run-stamped.sh build/win64
fi

wineserver -k 2>/dev/null || true
step "all tests passed"
