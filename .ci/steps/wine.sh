#!/usr/bin/env bash
# The Windows DLLs under Wine, 32-bit and 64-bit, also in a Japanese locale
# and at 144 DPI (a few minutes). Needs the linux, mingw-i686 and mingw-x64
# builds; TOLVEX_WITH_WINE=0 skips. Where the kernel cannot run 32-bit
# programs the x86 part is skipped with a SKIP line and x64 runs alone.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/test-tally.sh
if [ "${TOLVEX_WITH_WINE:-1}" != 1 ]; then
  skip_part wine "TOLVEX_WITH_WINE=${TOLVEX_WITH_WINE}"
  exit
fi
tests/wine/run.sh
