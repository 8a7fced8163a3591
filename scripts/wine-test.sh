#!/usr/bin/env bash
# The Windows build under wine: cross-builds the core, its tests and kestrane-cli.exe
# with mingw-w64, maps COM ports of a wine prefix of its own to pseudo-terminals, runs
# the Windows tests there, then drives kestrane-cli.exe against the simulated receiver
# from the Linux side. Builds the zip of kestrane-cli.exe last.
#
#   scripts/wine-test.sh <native build folder> <log folder>
#
# The native build folder must already be configured and built; its wine tests are
# added to it here. Prints "wine-tests: N passed, N failed" for the caller to count.
# A machine on which wine cannot start fails here, saying so.
set -euo pipefail
cd "$(dirname "$0")/.."
native=$1
logs=$2
win=build/win
state=$PWD/build/wine
mkdir -p "$logs" "$state"

echo "== Windows cross build"
cmake -S . -B "$win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
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

echo "== kestrane-cli.exe against the simulated receiver"
cmake "$native" -DKESTRANE_WINDOWS_CLI="$KESTRANE_WINDOWS_CLI" >/dev/null
cmake --build "$native" --target wine_cli_tests
set +e
ctest --test-dir "$native" -L wine --output-on-failure --repeat until-pass:2 2>&1 |
  tee "$logs/wine-cli.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
set -e
count_ctest_log "$logs/wine-cli.log"

echo "== Windows package"
(cd "$win" && cpack -G ZIP >/dev/null) || status=1
zip=$(ls "$win"/kestrane-cli-*-win64.zip 2>/dev/null | head -n 1)
if [ -n "$zip" ]; then
  unzip -l "$zip" 2>/dev/null || cmake -E tar tf "$zip"
else
  echo "no Windows package was built"; status=1
fi

[ $status -eq 0 ] || failed=$((failed > 0 ? failed : 1))
echo "wine-tests: $passed passed, $failed failed"
exit $status
