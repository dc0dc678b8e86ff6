#!/usr/bin/env bash
# The whole test suite: format check, native unit and end-to-end tests,
# the same under AddressSanitizer and UBSan, both Windows cross builds, the
# archive checks and fuzzers, and the Windows tests under Wine.
#   TOLVEX_WITH_WINE=0   skip the Wine tests (and their packages)
#   TOLVEX_FUZZ_SECONDS  seconds per fuzzer (default 60; 0 skips)
#   TOLVEX_STRICT=1      any skipped part or test, and any filter that
#                        matches nothing, fails the run (on in .ci/run);
#                        the x86 Wine part on a kernel without 32-bit
#                        support is the one skip still allowed
# The last line counts what ran and what was skipped, by part.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
. scripts/test-tally.sh
TOLVEX_TALLY=$(mktemp)
export TOLVEX_TALLY TOLVEX_STRICT=${TOLVEX_STRICT:-0}
finish() {
  local status=$?
  [ $status -eq 0 ] || printf '\n=== failed (exit %s) ===\n' "$status"
  tally_line
  rm -f "$TOLVEX_TALLY"
}
trap finish EXIT

step() { printf '\n=== %s ===\n' "$*"; }

step "packages"
scripts/install-deps.sh

step "format"
scripts/check-format.sh
tally ran format "checked"

step "native build and tests"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$jobs"
run_ctest native --preset linux -j"$jobs"

step "AddressSanitizer + UBSan build and tests"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest asan --preset linux-asan -j"$jobs"

step "ThreadSanitizer: the dialog's loop beside the post, two apartments' jobs at once, the archiver's deflate and inflate threads"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan -j"$jobs" --target dialog_test e2e_responsive_post_test tolvex \
  archive_test
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_gtest "tsan dialog" build/linux-tsan/tests/unit/dialog/dialog_test --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1 TOLVEX_TEST_SERVER=$PWD/build/linux/server/tolvex-server \
  run_gtest "tsan post" build/linux-tsan/tests/e2e/e2e_responsive_post_test --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_gtest "tsan pack and unpack" build/linux-tsan/tests/unit/archive/archive_test --gtest_brief=1 \
  --gtest_filter='*ZipDataCheck*:*ZipRoundTrip*:*ZipDiskFull*'

step "benchmarks build; the memory benchmark for the small sizes (the rest by hand: build/bench/bench/*)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$jobs"
# Fails when a transfer's peak memory is over its limit.
build/bench/bench/transfer_memory_bench --sizes 1,20
tally ran "memory bench" "8 rows"

step "Windows cross builds"
for preset in mingw-i686 mingw-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done

for extra in .ci/steps/*.sh; do
  [ -e "$extra" ] || continue
  step "$(basename "$extra" .sh)"
  bash "$extra"
done

step "all tests passed"
echo "strict mode: ${TOLVEX_STRICT}"
