#!/usr/bin/env bash
# A packager's build: no preset, Release, warnings not errors, with GCC and
# with clang, tests included, each in a directory of its own. Our presets
# make warnings errors (TOLVEX_WERROR); these builds must pass without it,
# whatever a compiler version warns about.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/test-tally.sh
jobs=$(nproc)
for compiler in gcc:g++ clang:clang++; do
  c=${compiler%%:*}
  cxx=${compiler#*:}
  dir=build/plain-$c
  echo "--- cmake -S . -B $dir -DCMAKE_BUILD_TYPE=Release with $c"
  CC=$c CXX=$cxx cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  if ! cmake --build "$dir" -j"$jobs" >"$dir.log" 2>&1; then
    # All of it: with several jobs the first error is seldom near the end.
    cat "$dir.log"
    echo "the plain $c build failed"
    exit 1
  fi
  grep -E 'warning:' "$dir.log" | sort -u | head -n 20 || true
  # A failing test's own output is printed in full, as in the native step.
  run_ctest "plain $c" --test-dir "$dir" -j"$jobs" --output-on-failure
done
