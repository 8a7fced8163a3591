#!/usr/bin/env bash
# Makes the README's screenshots again: builds the program, starts a virtual X
# display and photographs the main window, the Receiver Setup dialog and the Receiver
# Status window and its Statistics talking to a simulated receiver. Writes docs/main-window.png,
# docs/receiver-setup.png, docs/receiver-status.png and docs/receiver-statistics.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target kestrane_screenshots
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1280x1024x24" build/release/tests/screens/kestrane_screenshots docs
