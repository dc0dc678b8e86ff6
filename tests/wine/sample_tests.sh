#!/usr/bin/env bash
# What the release bundle gives a Windows user, under Wine:
#  - tolvex-server.exe (the x64 build) serving samples/server on loopback,
#    with the native tolvex command receiving from it and sending to it;
#  - samples/vbs/receive.vbs and send.vbs against that server, per
#    architecture: data, no data, a refused key and a dead port, each with
#    its advice; a send that writes its own progress file;
#  - samples/trace/tolvex-trace-on.reg and -off.reg, imported with regedit:
#    the trace lands in the user's %TEMP%.
#   sample_tests.sh "ARCHES"
# The prefix is $WINEPREFIX; the DLLs must not be registered (they are
# registered here and unregistered again). Needs build/linux (tolvex) and
# the mingw builds of ARCHES, mingw-x64 for the server.
# Prints ok/FAIL lines; exits with the number of failures.
set -uo pipefail

ARCHES=${1:?arches}
: "${WINEPREFIX:?WINEPREFIX}"
export WINEDEBUG=${WINEDEBUG:--all}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine)
WINE32=/usr/lib/wine/wine
[ -x "$WINE32" ] || WINE32=wine
TOLVEX=$ROOT/build/linux/platform/posix/tolvex
SERVER_EXE=$ROOT/build/mingw-x64/server/tolvex-server.exe
for need in "$TOLVEX" "$SERVER_EXE"; do
  [ -e "$need" ] || { echo "missing $need: build the linux and mingw-x64 presets"; exit 2; }
done

FAILED=0
ok() { echo "ok   sample: $*"; }
fail() {
  echo "FAIL sample: $*"
  FAILED=$((FAILED + 1))
}
C=$WINEPREFIX/drive_c
HERE=$C/tolvex-sample
rm -rf "$HERE"
mkdir -p "$HERE"
cp "$SERVER_EXE" "$ROOT"/samples/vbs/*.vbs "$ROOT"/samples/trace/*.reg "$HERE/"
cp -r "$ROOT/samples/server" "$HERE/data"
DATA=$HERE/data

# The server as a Windows user starts it; its first line ends in CRLF.
"$WINE64" 'C:\tolvex-sample\tolvex-server.exe' --root 'C:\tolvex-sample\data' \
  --listen 127.0.0.1:0 >"$HERE/server.out" 2>"$HERE/server.log" &
SERVER=$!
trap 'kill $SERVER 2>/dev/null' EXIT
for _ in $(seq 100); do
  grep -q listening "$HERE/server.out" 2>/dev/null && break
  sleep 0.1
done
URL=$(tr -d '\r' <"$HERE/server.out" | sed -n 's/^listening on //p' | head -1)/
if [ "$URL" = / ]; then
  fail "tolvex-server.exe did not start: $(cat "$HERE/server.log")"
  exit "$FAILED"
fi
ok "tolvex-server.exe listens on $URL"
refusal=$("$WINE64" 'C:\tolvex-sample\tolvex-server.exe' --root 'C:\tolvex-sample\data' \
  --tls-cert a.pem --tls-key a.key 2>&1)
if [ $? -eq 2 ] && printf '%s' "$refusal" | grep -q 'has no TLS'; then
  ok "tolvex-server.exe refuses --tls-cert: no TLS in the Windows build"
else fail "tolvex-server.exe and --tls-cert"; fi
DEAD_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
DEAD="http://127.0.0.1:$DEAD_PORT/"

native() {  # what, want status, want file or "", args...
  local what=$1 want=$2 file=$3
  shift 3
  "$TOLVEX" --quiet "$@" >"$HERE/native.out"
  local got=$?
  if [ "$got" -ne "$want" ]; then fail "native $what: status $got, $want expected ($(cat "$HERE/native.out"))"
  elif [ -n "$file" ] && ! cmp -s "$file" "${@: -1}"; then fail "native $what: the file differs"
  else ok "native $what: $want"; fi
}
mkdir -p "$HERE/native"
native "receive C001" 0 "$DATA/outgoing/C001.dat" recv "$URL" sample-key-C001 C001 "$HERE/native/orders.txt"
printf 'W2026-1201,done\r\n' >"$HERE/native/progress.txt"
native "send C001" 0 "" send "$URL" sample-key-C001 C001 "$HERE/native/progress.txt"
stored=$(ls "$DATA"/inbox/C001/*-progress.zip 2>/dev/null | head -1)
if [ -n "$stored" ] && python3 - "$stored" "$HERE/native/progress.txt" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z, open(sys.argv[2], "rb") as f:
    assert [i.filename for i in z.infolist()] == ["progress.txt"]
    assert z.read("progress.txt") == f.read()
PY
then ok "the server stored the native send whole"; else fail "the native send's archive: ${stored:-none}"; fi
native "receive C002 (no data)" 0 "" recv "$URL" sample-key-C002 C002 "$HERE/native/none.txt"
native "receive with a wrong key" 90 "" recv "$URL" wrong-key C001 "$HERE/native/wrong.txt"

# The samples, as a user runs them: exit status and the advice printed.
sample() {  # arch, what, want status, want text, script, args...
  local arch=$1 what=$2 want=$3 text=$4 script=$5
  shift 5
  local loader=$WINE64 cscript='C:\windows\system32\cscript.exe'
  [ "$arch" = x86 ] && loader=$WINE32 cscript='C:\windows\syswow64\cscript.exe'
  local out status
  out=$("$loader" "$cscript" //nologo "C:\\tolvex-sample\\$script" "$@" 2>&1)
  status=$?
  printf '%s\n' "$out" | sed 's/^/     /'
  if [ $status -eq "$want" ] && printf '%s' "$out" | grep -qF "$text"; then ok "$arch $script $what"
  else fail "$arch $script $what: status $status, $want and \"$text\" expected"; fi
}
for arch in $ARCHES; do
  loader=$WINE64 sys='C:\windows\system32' build=$ROOT/build/mingw-x64
  [ "$arch" = x86 ] && loader=$WINE32 sys='C:\windows\syswow64' build=$ROOT/build/mingw-i686
  mkdir -p "$HERE/$arch/work" "$HERE/$arch/empty"
  W="C:\\tolvex-sample\\$arch"
  sample "$arch" "before registration: 429 and the package to install" 1 "Install Tolvex-$arch.msi" \
    receive.vbs "$URL" sample-key-C001 C001 "$W\\work\\orders.txt"
  # As from the bundle: Tolvex.dll alone, packing with its built-in archiver.
  cp "$build"/platform/win32/Tolvex.dll "$HERE/$arch/"
  "$loader" "$sys\\regsvr32.exe" /s "$W\\Tolvex.dll" || fail "$arch regsvr32"
  printf 'W2026-1201,%s\r\n' "$arch" >"$HERE/$arch/work/progress.txt"
  sample "$arch" "receive C001" 0 "RecvSO $W\\work\\orders.txt: 0 - Done." \
    receive.vbs "$URL" sample-key-C001 C001 "$W\\work\\orders.txt"
  if cmp -s "$HERE/$arch/work/orders.txt" "$DATA/outgoing/C001.dat"; then ok "$arch vbs orders.txt holds C001's data"
  else fail "$arch vbs orders.txt"; fi
  sample "$arch" "send C001" 0 "SendProgress $W\\work\\progress.txt: 0 - Done." \
    send.vbs "$URL" sample-key-C001 C001 "$W\\work\\progress.txt"
  printf 'old orders\r\n' >"$HERE/$arch/empty/none.txt"
  sample "$arch" "no data for C002: the file emptied" 0 ": 0 - No data: the server holds nothing" \
    receive.vbs "$URL" sample-key-C002 C002 "$W\\empty\\none.txt"
  if [ -f "$HERE/$arch/empty/none.txt" ] && [ ! -s "$HERE/$arch/empty/none.txt" ]; then
    ok "$arch vbs no data left none.txt empty, as the advice says"
  else fail "$arch vbs no data: none.txt not emptied"; fi
  sample "$arch" "a wrong key" 90 ": 90 - The server refused the request" \
    receive.vbs "$URL" wrong-key C001 "$W\\empty\\wrong.txt"
  sample "$arch" "a dead port: may be retried" 9 "Unattended code may try this call again later." \
    send.vbs "$DEAD" sample-key-C001 C001 "$W\\work\\progress.txt"
  sample "$arch" "a code over 12 characters" 90 "warning: the server reads only C001-BRANCH-" \
    receive.vbs "$URL" sample-key-C001 C001-BRANCH-TOKYO "$W\\empty\\long.txt"
  # Data a failed receive kept beside the file stops a retry.
  : >"$HERE/$arch/empty/kept.txt.received-20261209-023105.zip"
  sample "$arch" "kept data beside the file: no retry" 9 "a person must act first" \
    receive.vbs "$DEAD" sample-key-C001 C001 "$W\\empty\\kept.txt"

  # The shipped .reg files, imported as a user double-clicks them.
  "$loader" regedit /s 'C:\tolvex-sample\tolvex-trace-on.reg'
  find "$C/users" -name tolvex-trace.log -delete 2>/dev/null
  sample "$arch" "traced: a dead port" 9 ": 9 -" receive.vbs "$DEAD" sample-key-C001 C001 "$W\\empty\\traced.txt"
  trace=$(find "$C/users" -name tolvex-trace.log 2>/dev/null | head -1)
  if [ -n "$trace" ] && grep -q 'WinINet error 12029' "$trace"; then
    ok "$arch tolvex-trace-on.reg: the trace is in ${trace#"$C/"} and names 12029"
  else fail "$arch tolvex-trace-on.reg: no trace in %TEMP%"; fi
  "$loader" regedit /s 'C:\tolvex-sample\tolvex-trace-off.reg'
  if "$WINE64" reg query 'HKCU\Software\TolvexPro\Tolvex' /v TraceFile >/dev/null 2>&1; then
    fail "$arch tolvex-trace-off.reg left TraceFile"
  else ok "$arch tolvex-trace-off.reg removed TraceFile"; fi

  "$loader" "$sys\\regsvr32.exe" /s /u "C:\\tolvex-sample\\$arch\\Tolvex.dll"
done
sed 's/^/     server: /' "$HERE/server.log" | tr -d '\r' | tail -n 20
exit "$FAILED"
