#!/bin/sh
# Builds one libFuzzer target with clang (address and undefined-behaviour
# sanitizers) and fuzzes it from its seed corpus.
#   scripts/fuzz.sh formula_fuzz 600      (target, seconds)
set -e
cd "$(dirname "$0")/.."
target=${1:?usage: scripts/fuzz.sh TARGET SECONDS}
seconds=${2:-60}
scripts/install-deps.sh fuzz
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARVEX_BUILD_FUZZ=ON \
  -DTARVEX_BUILD_TOOLS=OFF -DTARVEX_BUILD_BENCH=OFF -DTARVEX_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz --target "$target"
# Seeds, where the target has some; new inputs go to the build tree.
corpus=fuzz/corpus/${target%_fuzz}
[ -d "$corpus" ] || corpus=""
work=build/fuzz/corpus-$target
mkdir -p "$work"
dict=""
[ -f "fuzz/${target%_fuzz}.dict" ] && dict="-dict=fuzz/${target%_fuzz}.dict"
exec "build/fuzz/bin/$target" -max_total_time="$seconds" -print_final_stats=1 $dict "$work" $corpus
