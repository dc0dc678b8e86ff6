#!/usr/bin/env bash
# Archiver checks beyond the plain unit run:
#  1. the interop tests with Info-ZIP and Python's zipfile must really run
#     here (in ctest they skip when a tool is missing): a skip, or a filter
#     that matches none of them, fails the step;
#  2. each libFuzzer target runs TOLVEX_FUZZ_SECONDS (default 60, 0 skips)
#     from its seed corpus; any crash, sanitizer report or write outside the
#     target directory fails the step.
# Packages: zip unzip python3 clang libclang-rt-14-dev zlib1g-dev (all in
# scripts/install-deps.sh). Run time: about 2.5 minutes with the default.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${TOLVEX_FUZZ_SECONDS:-60}
repo=$(pwd)
. scripts/test-tally.sh

for tool in zip unzip python3; do
  command -v "$tool" >/dev/null || { echo "archive checks need $tool" >&2; exit 1; }
done
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target archive_test
TOLVEX_STRICT=1 run_gtest "archive interop" build/linux/tests/unit/archive/archive_test \
  --gtest_filter='*OurArchiveTest*:*ForeignArchiveTest*' --gtest_brief=1

if [ "$seconds" = 0 ]; then
  skip_part fuzz "TOLVEX_FUZZ_SECONDS=0"
  exit
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target unpack_fuzzer form_decode_fuzzer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in unpack:unpack_fuzzer form_decode:form_decode_fuzzer; do
  corpus=${target%%:*}
  fuzzer=${target#*:}
  mkdir -p "$work/$corpus" "$work/artifacts"
  echo "--- $fuzzer for $seconds s"
  status=0
  (cd "$work" && "$repo/build/fuzz/fuzz/$fuzzer" -max_total_time="$seconds" \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    "$work/$corpus" "$repo/fuzz/corpus/$corpus") >"$work/$fuzzer.log" 2>&1 || status=$?
  if [ $status -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
    # The whole run: the report and its stack come well before the end.
    cat "$work/$fuzzer.log"
    echo "$fuzzer failed (exit $status); the failing input:" >&2
    ls -l "$work/artifacts" >&2
    exit 1
  fi
  tail -n 12 "$work/$fuzzer.log"
done
tally ran fuzz "2 targets, $seconds s each"
