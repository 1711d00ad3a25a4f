#!/bin/sh
# Builds libtarvex.so and tarvex.dll and runs every test: natively, under
# the address and undefined-behaviour sanitizers, the threaded parts under
# the thread sanitizer, and the Windows programs under Wine. Installs missing
# Debian packages first.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
jobs=$(nproc 2>/dev/null || echo 2)
# Tests write their diagnostic log into the build tree, not the user's.
XDG_STATE_HOME="$(pwd)/build/test-state"
export XDG_STATE_HOME

for preset in linux linux-asan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

# The programs where threads meet (the cycle thread, chains replaced while
# they run, the link loop), under the thread sanitizer.
echo "=== linux-tsan ==="
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan -j "$jobs" --target core_tests cycle_thread_tests link_tests
for t in core_tests cycle_thread_tests link_tests; do
  TARVEX_NO_REALTIME=1 TSAN_OPTIONS=halt_on_error=1 "build/linux-tsan/bin/$t" --gtest_brief=1
done

echo "=== windows ==="
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows -j "$jobs"
