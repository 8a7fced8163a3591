#!/usr/bin/env bash
# What the installer put in place starts: kestrane-cli.exe lists the COM ports, and the
# utility (on the offscreen platform, as there is no display here) comes up and keeps
# running until it is stopped. Also checks the Start-menu entry and the uninstaller.
#
#   scripts/wine-installed.sh <install folder as a Linux path>
set -euo pipefail
dir=$1
for f in kestrane-utility.exe kestrane-cli.exe Uninstall.exe; do
  [ -f "$dir/$f" ] || { echo "not installed: $f"; exit 1; }
done
links=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'Kestrane Receiver Utility*.lnk' | head -n 1)
[ -n "$links" ] || { echo "no Start-menu entry"; exit 1; }
echo "Start-menu entry: $links"
wine "$dir/kestrane-cli.exe" ports | tr -d '\r' | grep -q '^COM' || { echo "kestrane-cli.exe did not list a port"; exit 1; }
wine "$dir/kestrane-utility.exe" -platform offscreen >/dev/null 2>&1 &
utility=$!
sleep 8
if ! kill -0 "$utility" 2>/dev/null; then
  echo "kestrane-utility.exe ended on its own"
  exit 1
fi
kill "$utility"
wait "$utility" 2>/dev/null || true
echo "both programs start"
