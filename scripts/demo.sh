#!/usr/bin/env bash
# The main job: starts the sample order server on loopback, receives
# company C001's work instructions with `tolvex recv`, sends a progress file
# with `tolvex send`, and shows what arrived on each side.
set -euo pipefail
cd "$(dirname "$0")/.."

TOLVEX_WITH_WINE=0 scripts/install-deps.sh
if [ ! -x build/linux/platform/posix/tolvex ] || [ ! -x build/linux/server/tolvex-server ]; then
  cmake --preset linux >/dev/null
  cmake --build --preset linux -j"$(nproc)" --target tolvex tolvex-server
fi
tolvex=$PWD/build/linux/platform/posix/tolvex
server=$PWD/build/linux/server/tolvex-server

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvex-demo.XXXXXX")
cp -r samples/server "$work/server"
mkdir -p "$work/client"
cp samples/client/progress.txt "$work/client/"

"$server" --root "$work/server" --listen 127.0.0.1:0 >"$work/server.out" 2>"$work/server.log" &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  grep -q '^listening on' "$work/server.out" 2>/dev/null && break
  sleep 0.05
done
url=$(sed -n 's/^listening on //p' "$work/server.out")/
echo "Sample order server: $url (data in $work/server)"

run() {
  echo
  echo "\$ tolvex $*"
  local status=0
  "$tolvex" "$@" || status=$?
  echo "(exit status $status)"
  return "$status"
}

recv_status=0
run recv "$url" sample-key-C001 C001 "$work/client/orders.dat" || recv_status=$?
echo "--- $work/client/orders.dat:"
cat "$work/client/orders.dat"

send_status=0
run send "$url" sample-key-C001 C001 "$work/client/progress.txt" || send_status=$?
echo "--- what the server stored:"
for zip in "$work"/server/inbox/C001/*; do
  echo "$zip"
  unzip -l "$zip" | sed 's/^/    /'
  echo "    content of progress.txt as stored:"
  unzip -p "$zip" progress.txt | sed 's/^/    /'
done
echo
echo "--- server log:"
cat "$work/server.log"
[ "$recv_status" = 0 ] && [ "$send_status" = 0 ]
