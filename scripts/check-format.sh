#!/usr/bin/env bash
# Fails when a C or C++ file is not clang-formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files '*.cpp' '*.h' '*.c' ':!:third_party/*')
[ -z "$files" ] && exit 0
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files 2>&1 | head -40
exit "${PIPESTATUS[0]}"
