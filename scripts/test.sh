#!/usr/bin/env bash
# The whole test suite: format check, native unit and end-to-end tests,
# the same under AddressSanitizer and UBSan, both Windows cross builds, the
# archive checks and fuzzers, and the Windows tests under Wine.
#   TOLVEX_WITH_WINE=0   skip the Wine tests (and their packages)
#   TOLVEX_FUZZ_SECONDS  seconds per fuzzer (default 60; 0 skips)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n=== %s ===\n' "$*"; }

step "packages"
scripts/install-deps.sh

step "format"
scripts/check-format.sh

step "native build and tests"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$jobs"
ctest --preset linux -j"$jobs"

step "AddressSanitizer + UBSan build and tests"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset linux-asan -j"$jobs"

step "ThreadSanitizer: the dialog's loop beside the post, two apartments' jobs at once"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan -j"$jobs" --target dialog_test e2e_responsive_post_test tolvex
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build/linux-tsan/tests/unit/dialog/dialog_test --gtest_brief=1
TSAN_OPTIONS=halt_on_error=1 TOLVEX_TEST_SERVER=$PWD/build/linux/server/tolvex-server \
  build/linux-tsan/tests/e2e/e2e_responsive_post_test --gtest_brief=1

step "benchmarks build (run them by hand: build/bench/bench/*)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j"$jobs"

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
