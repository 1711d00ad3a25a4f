#!/bin/sh
# Builds libtarvex.so and tarvex.dll and runs every test: natively, under
# the address and undefined-behaviour sanitizers, and the Windows programs
# under Wine. Installs missing Debian packages first.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
jobs=$(nproc 2>/dev/null || echo 2)
for preset in linux linux-asan windows; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
