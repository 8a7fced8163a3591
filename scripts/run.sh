#!/usr/bin/env bash
# Builds and starts the Kestrane Receiver Utility. A simulated receiver is started
# beside it on a pseudo-terminal, offered in the Open Port dialog and opened at start-up,
# so the program shows a receiver's sentences at once even with no hardware attached.
# Arguments go to the simulator (kestrane-sim --help); the port is opened at its --baud
# when that is one the program offers, else not at start-up.
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
rate=19200
previous=
for arg in "$@"; do
  case "$previous" in --baud|-b) rate=$arg ;; esac
  case "$arg" in --baud=*) rate=${arg#--baud=} ;; esac
  previous=$arg
done
case "$rate" in
  4800|9600|19200|38400) start=(--port "$simdev" --baud "$rate") ;;
  *) start=() ;;
esac
build/release/app/kestrane-utility "${start[@]}"
