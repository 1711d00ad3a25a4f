#!/bin/sh
# Builds the Linux library and runs the reference host's demo on it: a
# simulated X-Plane, the library and the emulated motion controller, live.
# Arguments go to `tarvexctl demo` (--seconds N ends it by itself); Ctrl-C stops it.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux --target tarvexctl tarvex tarvex-gamesim tarvex-controller -j "$(nproc 2>/dev/null || echo 2)"
exec build/linux/bin/tarvexctl demo "$@"
