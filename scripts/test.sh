#!/usr/bin/env bash
# Builds the project and runs every test twice: a normal build with warnings as
# errors, and an AddressSanitizer + UndefinedBehaviorSanitizer build. Then the fuzz
# targets replay their seed corpus and run for a short, bounded time, and the Debian
# package is built and listed. Last, the Windows build (scripts/wine-test.sh): Qt for
# Windows built once per machine, the program cross-built with mingw-w64, its tests,
# windows and kestrane-cli.exe run under wine, a start on a virtual display, and the
# installer and zip, installed and started.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
. scripts/ctest-counts.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
logs=build/test-logs
mkdir -p "$logs"
passed=0
failed=0

# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local dir=$1 log=$2
  set +e
  # End-to-end tests run against real pseudo-terminals and a simulated receiver with
  # its own thread; on a loaded two-core machine one may miss a deadline. A test that
  # fails is run once more, and its first failure stays in the log.
  # The wine tests (label wine) need the set-up of the Windows step, which runs them.
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --repeat until-pass:2 -LE wine 2>&1 |
    tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  count_ctest_log "$log"
  return "$rc"
}

status=0
echo "== normal build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRANE_WERROR=ON
cmake --build build/release -j "$jobs"
run_ctest build/release "$logs/release.log" || status=1

echo "== sanitizer build"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRANE_WERROR=ON \
  -DKESTRANE_SANITIZE=ON -DKESTRANE_BENCH=OFF
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  run_ctest build/asan "$logs/asan.log" || status=1

echo "== fuzz targets"
scripts/fuzz.sh "${FUZZ_SECONDS:-20}" || status=1

echo "== Debian package"
(cd build/release && cpack -G DEB >/dev/null) || status=1
deb=$(ls build/release/kestrane-utility_*.deb 2>/dev/null | head -n 1)
if [ -n "$deb" ]; then
  dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends):'
  dpkg-deb --contents "$deb"
else
  echo "no package was built"; status=1
fi

echo "== Windows build under wine"
set +e
scripts/wine-test.sh build/release "$logs" 2>&1 | tee "$logs/wine-all.log"
wine_rc=${PIPESTATUS[0]}
set -e
[ "$wine_rc" -eq 0 ] || status=1
line=$(grep -E '^wine-tests: [0-9]+ passed, [0-9]+ failed' "$logs/wine-all.log" | tail -n 1)
if [ -n "$line" ]; then
  passed=$((passed + $(sed -E 's/^wine-tests: ([0-9]+) passed.*/\1/' <<<"$line")))
  failed=$((failed + $(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")))
else
  failed=$((failed + 1))
fi

[ $status -eq 0 ] || failed=$((failed > 0 ? failed : 1))
# The failures again, last, where a reader of a long log looks first.
for log in "$logs"/release.log "$logs"/asan.log "$logs"/wine.log "$logs"/wine-cli.log; do
  [ ! -f "$log" ] || list_failed_tests "$log"
done
echo "tests: $passed passed, $failed failed"
exit $status
