#!/bin/sh
# Builds the Linux library and runs the reference host, tarvexctl, on it.
# Arguments go to tarvexctl (try --help); Ctrl-C stops it.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux --target tarvexctl tarvex -j "$(nproc 2>/dev/null || echo 2)"
exec build/linux/bin/tarvexctl "$@"
