#!/usr/bin/env bash
# What differs between two MSI packages, as msitools reads them: the
# summary information, every table and every stream (the cabinet with the
# files among them). Prints the differing summary lines and the names of
# differing tables and streams, or "no difference".
#   scripts/compare-msi.sh A.msi B.msi
set -euo pipefail
a=${1:?first MSI}
b=${2:?second MSI}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/a" "$work/b"
msidump -t -s -d "$work/a" "$a" >/dev/null
msidump -t -s -d "$work/b" "$b" >/dev/null
same=1
if ! summary=$(diff <(msiinfo suminfo "$a") <(msiinfo suminfo "$b")); then
  printf 'summary information:\n%s\n' "$(printf '%s\n' "$summary" | grep '^[<>]')"
  same=0
fi
# The summary stream (named "\005SummaryInformation") and its table dump
# were compared field by field above.
find "$work" -name '*SummaryInformation*' -delete
if ! tables=$(diff -rq "$work/a" "$work/b"); then
  printf 'tables and streams:\n%s\n' "$(printf '%s\n' "$tables" | sed "s|$work/[ab]/||g")"
  same=0
fi
[ $same = 1 ] && echo "no difference"
exit 0
