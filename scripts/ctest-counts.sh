# Sourced by the test scripts: adds the counts of a ctest log to the totals $passed and
# $failed. A log without ctest's summary line (ctest did not get that far) is a failure.
count_ctest_log() {
  local log=$1 line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
  passed=$((passed + ${total:-0} - ${bad:-0}))
  failed=$((failed + ${bad:-0}))
  [ -n "$line" ] || failed=$((failed + 1))
}

# Prints the tests a ctest log lists as failed, one per line, each after its log's name.
list_failed_tests() {
  local log=$1
  sed -n '/The following tests FAILED:/,/^Errors while running/p' "$log" |
    grep -E '^[[:space:]]+[0-9]+ - ' | sed "s|^[[:space:]]*|$(basename "$log"): |" || true
}
