#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, replays each seed corpus, then fuzzes
# each target for the given number of seconds (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
[ -n "$(ls fuzz/*.cpp 2>/dev/null)" ] || { echo "no fuzz targets"; exit 0; }
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRANE_GUI=OFF -DKESTRANE_BENCH=OFF -DKESTRANE_FUZZ=ON -DCMAKE_CXX_FLAGS="$flags" >/dev/null
for src in fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  cmake --build build/fuzz --target "$name"
  corpus=fuzz/corpus/$name
  work=build/fuzz/corpus-$name
  rm -rf "$work"; mkdir -p "$work"
  echo "== $name: replaying the seed corpus"
  if [ -d "$corpus" ]; then
    "build/fuzz/fuzz/$name" -runs=0 "$corpus"
    cp -r "$corpus"/. "$work"/
  fi
  echo "== $name: fuzzing for $seconds s"
  "build/fuzz/fuzz/$name" -max_total_time="$seconds" -print_final_stats=1 "$work" 2>&1 | tail -n 5
done
