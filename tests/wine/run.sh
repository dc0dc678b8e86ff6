#!/usr/bin/env bash
# The Windows build under Wine, 32-bit and 64-bit: registration, the native
# client, the script clients against tolvex-server on loopback (HTTP and
# HTTPS), the response timer against a silent and a slow server,
# unregistration, and the real dialog under Xvfb (dialog_tests.sh).
# Builds nothing: expects build/mingw-i686, build/mingw-x64 and build/linux.
# Exits non-zero on any failure. Artefacts (screenshots, logs) go to
# $TOLVEX_WINE_ARTIFACTS (default build/wine-artifacts).
# TOLVEX_WINE_ARCHES (default "x86 x64") narrows the per-architecture part.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
HERE=$ROOT/tests/wine
SERVER=$ROOT/build/linux/server/tolvex-server
ARTIFACTS=${TOLVEX_WINE_ARTIFACTS:-$ROOT/build/wine-artifacts}
WORK=$(mktemp -d /tmp/tolvex-wine.XXXXXX)
mkdir -p "$ARTIFACTS"

export WINEPREFIX=$WORK/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
WINE=wine
WINE64=wine
ARCHES=${TOLVEX_WINE_ARCHES:-x86 x64}
[ -x /usr/lib/wine/wine64 ] && WINE64=/usr/lib/wine/wine64

FAILED=0
SERVER_PIDS=()

log() { printf '\n== %s\n' "$*"; }
fail() {
  echo "FAIL $*"
  FAILED=$((FAILED + 1))
}

cleanup() {
  for pid in "${SERVER_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k 2>/dev/null
  if [ -z "${TOLVEX_WINE_KEEP:-}" ]; then rm -rf "$WORK"; else echo "kept $WORK"; fi
}
trap cleanup EXIT

for need in "$ROOT/build/mingw-i686/platform/win32/Tolvex.dll" \
            "$ROOT/build/mingw-x64/platform/win32/Tolvex.dll" \
            "$ROOT/build/mingw-i686/platform/win32/TolvexTestHooks.dll" \
            "$ROOT/build/mingw-x64/platform/win32/TolvexTestHooks.dll" "$SERVER"; do
  [ -e "$need" ] || { echo "missing $need: build the mingw-i686, mingw-x64 and linux presets first"; exit 2; }
done

# Runs a Windows program; its exit status is the check.
run_check() {
  local what=$1
  shift
  if "$@"; then echo "ok   $what"; else fail "$what (exit $?)"; fi
}

# cscript exits 0 even when a script dies of a run-time error: a script
# passes only when it ends by reporting "all passed" and a zero status.
run_script() {
  local what=$1
  shift
  local out status
  out=$("$@" 2>&1)
  status=$?
  printf '%s\n' "$out"
  if [ $status -eq 0 ] && printf '%s' "$out" | grep -q 'all passed'; then
    echo "ok   $what"
  else
    fail "$what (exit $status)"
  fi
}

set_graphics() {  # null | x11
  wineserver -w
  if [ "$1" = null ]; then
    $WINE reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  else
    $WINE reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1
  fi
  # The driver is chosen when wineserver starts.
  wineserver -k
  wineserver -w
}

# The shipped DLL takes no configuration: the timing overrides' names occur
# (as ANSI or UTF-16 strings) in the test build only.
hook_names() { { strings -a "$1"; strings -a -el "$1"; } | grep -c -E 'TOLVEX_(START_HOLD|RESPONSE_PERIOD)_MS'; }
log "no test hook in Tolvex.dll"
for build in mingw-i686 mingw-x64; do
  dir=$ROOT/build/$build/platform/win32
  if [ "$(hook_names "$dir/Tolvex.dll")" -eq 0 ] && [ "$(hook_names "$dir/TolvexTestHooks.dll")" -eq 2 ]; then
    echo "ok   $build Tolvex.dll names no hook; TolvexTestHooks.dll names both"
  else
    fail "$build hook names: Tolvex.dll $(hook_names "$dir/Tolvex.dll"), TolvexTestHooks.dll $(hook_names "$dir/TolvexTestHooks.dll")"
  fi
done

log "fresh prefix $WINEPREFIX"
$WINE wineboot -i >"$WORK/wineboot.log" 2>&1
wineserver -w
set_graphics null

C=$WINEPREFIX/drive_c
for arch in x86 x64; do
  build=$ROOT/build/mingw-i686
  [ $arch = x64 ] && build=$ROOT/build/mingw-x64
  mkdir -p "$C/tolvex/$arch"
  cp "$build/platform/win32/Tolvex.dll" "$build/platform/win32/TolvexArchiver.dll" \
     "$build/platform/win32/TolvexTestHooks.dll" "$build/tests/wine/tolvex_client.exe" \
     "$build/tests/wine/import_root_ca.exe" "$build/tests/wine/send_close_command.exe" \
     "$C/tolvex/$arch/"
done
cp "$HERE"/scripts/*.vbs "$HERE"/scripts/*.js "$C/tolvex/"
iconv -f UTF-8 -t UTF-16 "$HERE/scripts/texts.txt" >"$C/tolvex/texts.txt"

log "test CA and server certificate for localhost"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tolvex Test CA" \
  -keyout "$WORK/ca.key" -out "$WORK/ca.pem" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
  -keyout "$WORK/server.key" -out "$WORK/server.csr" >/dev/null 2>&1
printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$WORK/server.ext"
openssl x509 -req -in "$WORK/server.csr" -CA "$WORK/ca.pem" -CAkey "$WORK/ca.key" -CAcreateserial \
  -days 2 -extfile "$WORK/server.ext" -out "$WORK/server.pem" >/dev/null 2>&1
cp "$WORK/ca.pem" "$C/tolvex/ca.pem"
run_check "CA imported into the machine ROOT store (64-bit)" \
  $WINE64 'C:\tolvex\x64\import_root_ca.exe' 'C:\tolvex\ca.pem'
run_check "CA imported into the machine ROOT store (32-bit)" \
  $WINE 'C:\tolvex\x86\import_root_ca.exe' 'C:\tolvex\ca.pem'

log "tolvex-server on loopback"
DATA=$WORK/data
mkdir -p "$DATA/outgoing"
printf '# code key\nC001 KEY001\nC002 KEY002\n' >"$DATA/companies.txt"
printf 'ORDER-1,widget,3\r\nORDER-2,gadget,5\r\n' >"$DATA/outgoing/C001.dat"

start_server() {  # name, extra args...; sets URL_<name>
  local name=$1
  shift
  "$SERVER" --root "$DATA" "$@" >"$WORK/$name.out" 2>"$ARTIFACTS/server-$name.log" &
  SERVER_PIDS+=($!)
  for _ in $(seq 50); do
    [ -s "$WORK/$name.out" ] && break
    sleep 0.1
  done
  local line
  line=$(head -1 "$WORK/$name.out")
  printf -v "URL_$name" '%s/' "${line#listening on }"
  echo "$name: $line"
}
start_server http --listen 127.0.0.1:0
start_server https --listen localhost:0 --tls-cert "$WORK/server.pem" --tls-key "$WORK/server.key"
# The reply to C001's receive is about 400 bytes: "slow" sends it in about
# 2.5 s, "slower" in about 8 s.
start_server silent --listen 127.0.0.1:0 --never-answer
start_server slow --listen 127.0.0.1:0 --trickle 40/250
start_server slower --listen 127.0.0.1:0 --trickle 10/200
[ -n "${URL_http:-}" ] && [ -n "${URL_https:-}" ] && [ -n "${URL_silent:-}" ] &&
  [ -n "${URL_slow:-}" ] && [ -n "${URL_slower:-}" ] || { echo "tolvex-server did not start"; exit 1; }
# The certificate names localhost; the server may report another spelling.
PORT_https=${URL_https##*:}
URL_https="https://localhost:${PORT_https}"
# A port that was free a moment ago: nothing listens there.
DEAD_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
URL_dead="http://127.0.0.1:${DEAD_PORT}/"

# A work directory for the long posts: the caller's old file and a progress
# file.
long_post_dir() {
  rm -rf "$1"
  mkdir -p "$1"
  printf 'old orders\r\n' >"$1/orders.txt"
  printf 'progress\r\n' >"$1/progress.txt"
}
same_file() {  # what, got, want
  if cmp -s "$2" "$3"; then echo "ok   $1"; else fail "$1"; fi
}

for arch in $ARCHES; do
  if [ $arch = x86 ]; then
    W=$WINE; SYS='C:\windows\syswow64'
  else
    W=$WINE64; SYS='C:\windows\system32'
  fi
  D="C:\\tolvex\\$arch"
  WORKDIR_UNIX=$C/work-$arch
  WORKDIR="C:\\work-$arch"
  mkdir -p "$WORKDIR_UNIX/進捗"
  : >"$WORKDIR_UNIX/empty.txt"
  printf 'progress of %s\r\nline 2\r\n' "$arch" >"$WORKDIR_UNIX/進捗/progress.txt"

  log "$arch: registration"
  run_check "$arch regsvr32 Tolvex.dll" $W "$SYS\\regsvr32.exe" /s "$D\\Tolvex.dll"
  run_check "$arch regsvr32 TolvexArchiver.dll" $W "$SYS\\regsvr32.exe" /s "$D\\TolvexArchiver.dll"
  run_check "$arch native client: registration" $W "$D\\tolvex_client.exe" registered

  log "$arch: native client"
  run_check "$arch native client: calls" $W "$D\\tolvex_client.exe" calls "$WORKDIR"
  run_check "$arch native client: unloading" $W "$D\\tolvex_client.exe" unload "$D\\Tolvex.dll" \
    "$URL_http" "$WORKDIR\\unload-orders.txt"

  log "$arch: script clients"
  CS="$SYS\\cscript.exe"
  run_script "$arch VBScript variables" $W "$CS" //nologo 'C:\tolvex\args_variables.vbs' "$URL_http" "$WORKDIR"
  run_script "$arch VBScript literals" $W "$CS" //nologo 'C:\tolvex\args_literals.vbs' "$URL_http" "$WORKDIR"
  run_script "$arch JScript arguments" $W "$CS" //nologo 'C:\tolvex\args.js' "$URL_http" "$WORKDIR"
  inbox_before=$(find "$DATA/inbox" -name '*.zip' 2>/dev/null | wc -l)
  run_script "$arch VBScript transfers" $W "$CS" //nologo 'C:\tolvex\transfer.vbs' \
    "$URL_http" "$WORKDIR" "$URL_https" "$URL_dead"
  run_script "$arch JScript transfers" $W "$CS" //nologo 'C:\tolvex\transfer.js' "$URL_http" "$WORKDIR"

  log "$arch: files on disk"
  for got in "$WORKDIR_UNIX/受信/orders.txt" "$WORKDIR_UNIX/受信/secure.txt" "$WORKDIR_UNIX/js-orders.txt"; do
    if cmp -s "$got" "$DATA/outgoing/C001.dat"; then echo "ok   $arch ${got#$C/} matches the server's data"
    else fail "$arch ${got#$C/} differs from the server's data"; fi
  done
  if [ -f "$WORKDIR_UNIX/受信/none.txt" ] && [ ! -s "$WORKDIR_UNIX/受信/none.txt" ]; then
    echo "ok   $arch no-data receive left an empty file"
  else fail "$arch no-data receive file"; fi
  inbox_after=$(find "$DATA/inbox" -name '*.zip' 2>/dev/null | wc -l)
  if [ $((inbox_after - inbox_before)) -eq 2 ]; then echo "ok   $arch two progress archives arrived"
  else fail "$arch progress archives: $((inbox_after - inbox_before)) arrived, 2 expected"; fi
  newest=$(ls -t "$DATA"/inbox/C001/*.zip | head -1)
  if python3 - "$newest" "$WORKDIR_UNIX/進捗/progress.txt" <<'PY'
import sys, zipfile
archive, original = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z, open(original, "rb") as f:
    assert z.namelist() == ["progress.txt"], z.namelist()
    assert z.read("progress.txt") == f.read()
PY
  then echo "ok   $arch the sent archive holds progress.txt unchanged"
  else fail "$arch sent archive content"; fi

  log "$arch: response timer (TolvexTestHooks.dll)"
  long_post_dir "$WORKDIR_UNIX/timing"
  run_check "$arch regsvr32 TolvexTestHooks.dll" $W "$SYS\\regsvr32.exe" /s "$D\\TolvexTestHooks.dll"
  TOLVEX_RESPONSE_PERIOD_MS=300 run_script "$arch silent server: timeouts, then normal calls" \
    $W "$CS" //nologo 'C:\tolvex\post.js' timeout 300 "$URL_silent" "$URL_http" "$WORKDIR\\timing"
  TOLVEX_RESPONSE_PERIOD_MS=1500 run_script "$arch slow but live reply" \
    $W "$CS" //nologo 'C:\tolvex\post.js' slow 1500 "$URL_slow" "$URL_http" "$WORKDIR\\timing"
  TOLVEX_RESPONSE_PERIOD_MS=1500 run_script "$arch reply trickling past four periods" \
    $W "$CS" //nologo 'C:\tolvex\post.js' trickle 1500 "$URL_slower" "$URL_http" "$WORKDIR\\timing"
  run_check "$arch regsvr32 Tolvex.dll again" $W "$SYS\\regsvr32.exe" /s "$D\\Tolvex.dll"
  same_file "$arch old file unchanged by the timeout" "$WORKDIR_UNIX/timing/orders.txt" <(printf 'old orders\r\n')
  same_file "$arch receive after the timeouts" "$WORKDIR_UNIX/timing/fresh.txt" "$DATA/outgoing/C001.dat"
  same_file "$arch slow reply's data" "$WORKDIR_UNIX/timing/slow.txt" "$DATA/outgoing/C001.dat"
  same_file "$arch trickled reply's data" "$WORKDIR_UNIX/timing/trickled.txt" "$DATA/outgoing/C001.dat"

  log "$arch: unregistration"
  run_check "$arch regsvr32 /u Tolvex.dll" $W "$SYS\\regsvr32.exe" /s /u "$D\\Tolvex.dll"
  run_check "$arch regsvr32 /u TolvexArchiver.dll" $W "$SYS\\regsvr32.exe" /s /u "$D\\TolvexArchiver.dll"
  run_check "$arch native client: unregistration" $W "$D\\tolvex_client.exe" unregistered
done

log "the real dialog under Xvfb: Cancel, close command, repainting"
if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null; then
  set_graphics x11
  run_check "x86 regsvr32 stand-in for the dialog tests" \
    $WINE 'C:\windows\syswow64\regsvr32.exe' /s 'C:\tolvex\x86\TolvexArchiver.dll'
  # The session started without a display; the dialog's must start inside Xvfb.
  wineserver -k
  wineserver -w
  export WINE WORK ARTIFACTS DATA C URL_http URL_silent URL_slower
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$HERE/dialog_tests.sh"
  status=$?
  FAILED=$((FAILED + status))
  [ -s "$ARTIFACTS/dialog.png" ] && echo "screenshot: $ARTIFACTS/dialog.png"
  [ -s "$ARTIFACTS/slow-post.png" ] && echo "screenshot: $ARTIFACTS/slow-post.png"
else
  fail "xvfb-run, xdotool or ImageMagick's import missing"
fi

log "result"
if [ "$FAILED" -eq 0 ]; then echo "all Wine tests passed"; else echo "$FAILED Wine test(s) failed"; fi
[ "$FAILED" -eq 0 ]
