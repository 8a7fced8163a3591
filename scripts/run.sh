#!/usr/bin/env bash
# Builds and starts the Kestrane Receiver Utility. A simulated receiver is started
# beside it on a pseudo-terminal and offered in the Open Port dialog, so the program
# has a receiver to talk to even with no hardware attached.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target kestrane-utility kestrane-sim

simlog=$(mktemp)
build/release/sim/kestrane-sim "$@" >"$simlog" 2>&1 &
simpid=$!
trap 'kill $simpid 2>/dev/null || true; rm -f "$simlog"' EXIT
for _ in $(seq 50); do
  [ -s "$simlog" ] && break
  sleep 0.1
done
simdev=$(head -n 1 "$simlog")
echo "Simulated receiver on $simdev"
export KESTRANE_EXTRA_PORTS="${KESTRANE_EXTRA_PORTS:+$KESTRANE_EXTRA_PORTS:}$simdev"
build/release/app/kestrane-utility
