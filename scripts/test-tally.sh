# Sourced by scripts/test.sh and its steps: what ran and what was skipped,
# by part, gathered in the file $TOLVEX_TALLY (scripts/test.sh sets it; a
# step run alone only prints). TOLVEX_STRICT=1 (on in .ci/run) turns every
# skip into a failure, but for the skips a caller names as allowed.

tally() {  # ran|skipped, part, what
  if [ -n "${TOLVEX_TALLY:-}" ]; then printf '%s\t%s\t%s\n' "$1" "$2" "$3" >>"$TOLVEX_TALLY"; fi
}

strict() { [ "${TOLVEX_STRICT:-0}" = 1 ]; }

# A part left out: named on the last line; fails in strict mode unless
# the third argument is "allowed".
skip_part() {  # part, why, [allowed]
  echo "SKIP $1: $2"
  tally skipped "$1" "$2"
  if strict && [ "${3:-}" != allowed ]; then
    echo "strict mode (TOLVEX_STRICT=1): $1 may not be skipped" >&2
    return 1
  fi
}

# Counts a GoogleTest summary (a binary's own or ctest's) for one part:
# no test at all always fails, as a filter matching nothing does; a
# skipped test fails in strict mode.
count_tests() {  # part, log, tests ran, tests skipped
  local part=$1 log=$2 ran=${3:-0} skipped=${4:-0}
  if [ "$ran" -eq 0 ]; then
    echo "$part: no test ran (a filter or label matching nothing?)" >&2
    tally ran "$part" "0 tests"
    return 1
  fi
  tally ran "$part" "$ran tests"
  if [ "$skipped" -gt 0 ]; then
    tally skipped "$part" "$skipped tests"
    if strict; then
      echo "strict mode (TOLVEX_STRICT=1): $skipped test(s) of $part skipped:" >&2
      grep -E '\*\*\*Skipped|^\[  SKIPPED \] [A-Za-z]' "$log" >&2 || true
      return 1
    fi
  fi
}

# ctest, its failures and its counts.
run_ctest() {  # part, ctest arguments...
  local part=$1 log status
  shift
  log=$(mktemp)
  # Streamed as it runs; the status is kept apart from tee's.
  {
    status=0
    ctest --no-tests=error "$@" || status=$?
    echo "$status" >"$log.status"
  } 2>&1 | tee "$log"
  status=$(cat "$log.status")
  rm -f "$log.status"
  if [ "$status" -ne 0 ]; then
    tally ran "$part" "failed"
    rm -f "$log"
    return "$status"
  fi
  local ran skipped
  ran=$(sed -n 's/^.* tests passed, [0-9]* tests\{0,1\} failed out of \([0-9]*\)$/\1/p' "$log" | tail -1)
  skipped=$(grep -c '[*][*][*]Skipped' "$log" || true)
  status=0
  count_tests "$part" "$log" "${ran:-0}" "$skipped" || status=$?
  rm -f "$log"
  return $status
}

# One GoogleTest binary run directly, its failures and its counts.
run_gtest() {  # part, binary, arguments...
  local part=$1 log status
  shift
  log=$(mktemp)
  # Streamed as it runs; the status is kept apart from tee's.
  {
    status=0
    "$@" || status=$?
    echo "$status" >"$log.status"
  } 2>&1 | tee "$log"
  status=$(cat "$log.status")
  rm -f "$log.status"
  if [ "$status" -ne 0 ]; then
    tally ran "$part" "failed"
    rm -f "$log"
    return "$status"
  fi
  local ran skipped
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' "$log" | tail -1)
  skipped=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}.*/\1/p' "$log" | tail -1)
  status=0
  count_tests "$part" "$log" "${ran:-0}" "${skipped:-0}" || status=$?
  rm -f "$log"
  return $status
}

# The last line: "ran: PART WHAT, ...; skipped: PART (WHY), ..." in the
# order the parts came.
tally_line() {
  local ran skipped
  ran=$(awk -F'\t' '$1 == "ran" { printf "%s%s %s", n++ ? ", " : "", $2, $3 }' "$TOLVEX_TALLY")
  skipped=$(awk -F'\t' '$1 == "skipped" { printf "%s%s (%s)", n++ ? ", " : "", $2, $3 }' "$TOLVEX_TALLY")
  echo "ran: ${ran:-nothing}; skipped: ${skipped:-nothing}"
}
