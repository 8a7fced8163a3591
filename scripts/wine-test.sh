#!/usr/bin/env bash
# The Windows build under wine: builds Qt for Windows once per machine (scripts/qt-win.sh),
# cross-builds the program, its windows, kestrane-cli.exe and their tests with mingw-w64,
# maps COM ports of a wine prefix of its own to pseudo-terminals, runs the Windows tests
# there, then drives kestrane-cli.exe and the windows against the simulated receiver from
# the Linux side, starts the program once on a virtual display with the real Windows
# platform (a screenshot for README), and builds the installer and the zip, installing
# the installer silently and starting what it installed.
#
#   scripts/wine-test.sh <native build folder> <log folder>
#
# The native build folder must already be configured and built; its wine tests are
# added to it here. Prints "wine-tests: N passed, N failed" for the caller to count.
# A machine on which wine cannot start fails here, saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
native=$1
logs=$(mkdir -p "$2" && cd "$2" && pwd)
win=build/win
state=$PWD/build/wine
mkdir -p "$logs" "$state"

echo "== Qt for Windows"
qt=$(scripts/qt-win.sh | tail -n 1)

echo "== Windows cross build"
# Qt's own wrapper gives the Qt for Windows and the host's moc, uic and rcc; the project's
# mingw-w64 toolchain file is chained in.
"$qt/bin/qt-cmake" -S . -B "$win" -G Ninja -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRANE_WERROR=ON
cmake --build "$win" -j "$(nproc)"

echo "== wine"
export WINEPREFIX=$state/prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
ports=$state/ports
mkdir -p "$ports"
socat_pid=
cleanup() {
  [ -z "$socat_pid" ] || kill "$socat_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

fail_wine() {
  echo "wine cannot be started on this machine: $1" >&2
  echo "wine-tests: 0 passed, 1 failed"
  exit 1
}
command -v wine >/dev/null || fail_wine "no wine command (Debian packages wine and wine64)"
command -v socat >/dev/null || fail_wine "no socat command (Debian package socat)"
wineserver -k 2>/dev/null || true
if ! timeout 300 wine wineboot -i >"$logs/wineboot.log" 2>&1; then
  tail -n 20 "$logs/wineboot.log" >&2
  fail_wine "wineboot failed (log: $logs/wineboot.log)"
fi

# COM5 is the simulated receiver's line (the tests point its link at the receiver they
# start); COM6 and COM7 are joined to each other, for the serial port's own tests. Wine
# follows the links when a port is opened, so the mapping is written once.
socat pty,raw,echo=0,link="$ports/pair-a" pty,raw,echo=0,link="$ports/pair-b" &
socat_pid=$!
for _ in $(seq 50); do
  [ -e "$ports/pair-a" ] && [ -e "$ports/pair-b" ] && break
  sleep 0.1
done
[ -e "$ports/pair-a" ] || fail_wine "socat did not make its pseudo-terminal pair"
for map in COM5=receiver COM6=pair-a COM7=pair-b; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "${map%%=*}" /d "$ports/${map#*=}" /f >/dev/null ||
    fail_wine "its registry does not take a port mapping"
done
# Wine reads the mapping when it starts; from here one server stays up for every run.
wineserver -k
wineserver -w
# The server's own messages (at exit it may list every object it held) go to a log of
# their own, not among the test results.
wineserver -p >"$logs/wineserver.log" 2>&1
wine cmd /c exit 0 >/dev/null 2>&1 || fail_wine "no program runs after the port mapping"

export KESTRANE_TEST_COM_A=COM6 KESTRANE_TEST_COM_B=COM7 KESTRANE_TEST_MAPPED_PORTS=COM5:COM6:COM7
export KESTRANE_WINE=$(command -v wine)
export KESTRANE_WINDOWS_CLI=$PWD/$win/cli/kestrane-cli.exe
export KESTRANE_WINDOWS_WINDOW_TESTS=$PWD/$win/tests/wine/window_wine_tests.exe
export KESTRANE_WINE_RECEIVER_PORT=COM5 KESTRANE_WINE_RECEIVER_LINK=$ports/receiver

passed=0
failed=0
. scripts/ctest-counts.sh

status=0
echo "== Windows tests under wine"
set +e
ctest --test-dir "$win" --output-on-failure -j "$(nproc)" --repeat until-pass:2 2>&1 |
  tee "$logs/wine.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
set -e
count_ctest_log "$logs/wine.log"

echo "== kestrane-cli.exe and the windows against the simulated receiver"
cmake "$native" -DKESTRANE_WINDOWS_CLI="$KESTRANE_WINDOWS_CLI" \
  -DKESTRANE_WINDOWS_WINDOW_TESTS="$KESTRANE_WINDOWS_WINDOW_TESTS" >/dev/null
cmake --build "$native" --target wine_cli_tests wine_window_tests
set +e
ctest --test-dir "$native" -L wine --output-on-failure --repeat until-pass:2 2>&1 |
  tee "$logs/wine-cli.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
set -e
count_ctest_log "$logs/wine-cli.log"

echo "== the program on a virtual display, with the Windows platform"
scripts/wine-smoke.sh "$PWD/$win/app/kestrane-utility.exe" "$logs" "$logs/windows-main-window.png" \
  >"$logs/wine-smoke.log" 2>&1 || { tail -n 20 "$logs/wine-smoke.log"; status=1; }
tail -n 3 "$logs/wine-smoke.log"
passed=$((passed + $(grep -c '^passed: ' "$logs/wine-smoke.log" || true)))
failed=$((failed + $(grep -c '^failed: ' "$logs/wine-smoke.log" || true)))
# The server of the display run is gone; the rest needs one without a display.
wineserver -k 2>/dev/null || true
wineserver -p >>"$logs/wineserver.log" 2>&1

# The uninstaller copies itself away and finishes in the background: a file it removes
# is gone within a few seconds.
wine_gone() {
  for _ in $(seq 50); do [ -e "$1" ] || return 0; sleep 0.2; done
  return 1
}

echo "== Windows packages"
(cd "$win" && cpack >"$logs/cpack-win.log" 2>&1) || { tail -n 20 "$logs/cpack-win.log"; status=1; }
setup=$(ls "$win"/kestrane-utility-*-win64-setup.exe 2>/dev/null | head -n 1)
zip=$(ls "$win"/kestrane-utility-*-win64.zip 2>/dev/null | head -n 1)
if [ -n "$zip" ] && [ -n "$setup" ]; then
  ls -l "$setup" "$zip"
  unzip -l "$zip"
  # Installed silently where a user would not look, both programs started from there,
  # then removed again by its uninstaller.
  target='C:\Kestrane'
  installed=$WINEPREFIX/drive_c/Kestrane
  [ ! -x "$installed/Uninstall.exe" ] || timeout 120 wine "$installed/Uninstall.exe" /S >/dev/null 2>&1 || true
  rm -rf "$installed"
  if timeout 300 wine "$setup" /S "/D=$target" >"$logs/install.log" 2>&1 &&
     scripts/wine-installed.sh "$installed" >>"$logs/install.log" 2>&1 &&
     timeout 120 wine "$installed/Uninstall.exe" /S >>"$logs/install.log" 2>&1 &&
     wine_gone "$installed/kestrane-utility.exe"; then
    echo "passed: installer $(basename "$setup") installs both programs, which start, and uninstalls them"
    passed=$((passed + 1))
  else
    tail -n 20 "$logs/install.log"
    echo "failed: the installer or what it installed"
    failed=$((failed + 1)); status=1
  fi
else
  echo "no Windows installer or zip was built"; status=1
fi

[ $status -eq 0 ] || failed=$((failed > 0 ? failed : 1))
echo "wine-tests: $passed passed, $failed failed"
exit $status
