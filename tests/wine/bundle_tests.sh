#!/usr/bin/env bash
# The release bundle as a newcomer uses it, under Wine: unzipped into a
# fresh prefix, and every command of README.txt's quick start (the lines
# that begin with ">") run in order from a command prompt in its folder:
# both packages installed, the sample server started, receive.vbs and
# send.vbs run. Both samples must return 0, the received file must hold
# the sample company's data and the server must have stored the progress
# file whole. Where the kernel runs 32-bit programs, the two samples run
# again with %WINDIR%\SysWOW64\cscript.exe, as README.txt says for
# Tolvex-x86 alone.
#   bundle_tests.sh BUNDLE.zip
# The quick start's server listens on 127.0.0.1:8080, which must be free.
# Prints ok/FAIL/SKIP lines; exits with the number of failures.
set -uo pipefail

ZIP=$(realpath "${1:?the bundle zip}")
WORK=$(mktemp -d /tmp/tolvex-bundle.XXXXXX)
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine)
WINE32=/usr/lib/wine/wine
[ -x "$WINE32" ] || WINE32=wine
FAILED=0
ok() { echo "ok   bundle: $*"; }
fail() {
  echo "FAIL bundle: $*"
  FAILED=$((FAILED + 1))
}
cleanup() {
  wineserver -k 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

if python3 -c 'import socket; socket.create_connection(("127.0.0.1", 8080), 1)' 2>/dev/null; then
  fail "127.0.0.1:8080, the quick start's port, is in use by another program"
  exit "$FAILED"
fi

"$WINE64" wineboot -i >/dev/null 2>&1
wineserver -w
# No display: windows are made but not shown.
"$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k
wineserver -w

C=$WINEPREFIX/drive_c
unzip -q "$ZIP" -d "$C"
BUNDLE=$(find "$C" -maxdepth 1 -name 'Tolvex-*-windows' -type d | head -1)
[ -n "$BUNDLE" ] || { fail "no Tolvex-*-windows folder in $ZIP"; exit "$FAILED"; }
mapfile -t COMMANDS < <(tr -d '\r' <"$BUNDLE/README.txt" | sed -n 's/^ *> //p')
if [ ${#COMMANDS[@]} -ge 5 ]; then ok "README.txt's quick start has ${#COMMANDS[@]} commands"
else fail "README.txt's quick start has ${#COMMANDS[@]} commands, at least 5 expected"; fi

# One command as cmd.exe runs it in the bundle's folder; "start" returns
# at once and leaves the server running.
run() {  # loader, command
  (cd "$BUNDLE" && "$1" cmd /c "$2" 2>&1)
}
server_up() {
  for _ in $(seq 100); do
    python3 -c 'import socket; socket.create_connection(("127.0.0.1", 8080), 1)' 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
sample_run() {  # loader, command, what
  local out status
  out=$(run "$1" "$2")
  status=$?
  printf '%s\n' "$out" | sed 's/^/     /'
  if [ $status -eq 0 ] && printf '%s' "$out" | grep -q ': 0 - Done\.'; then ok "$3: $2 returns 0"
  else fail "$3: $2 returned $status"; fi
}

for command in "${COMMANDS[@]}"; do
  case $command in
    start\ *)
      run "$WINE64" "$command" >/dev/null
      if server_up; then ok "the sample server answers after: $command"
      else fail "nothing listens on 127.0.0.1:8080 after: $command"; fi
      ;;
    *cscript*)
      sample_run "$WINE64" "$command" "64-bit cscript"
      ;;
    *)
      out=$(run "$WINE64" "$command")
      status=$?
      if [ $status -eq 0 ]; then ok "$command"; else fail "$command: exit $status $out"; fi
      ;;
  esac
done

DATA=$BUNDLE/samples
if cmp -s "$DATA/client/orders.txt" "$DATA/server/outgoing/C001.dat"; then
  ok "samples\\client\\orders.txt holds the sample company's data"
else fail "samples\\client\\orders.txt differs from the server's data"; fi
stored=$(ls "$DATA"/server/inbox/C001/*-progress.zip 2>/dev/null | head -1)
if [ -n "$stored" ] && python3 - "$stored" "$DATA/client/progress.txt" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z, open(sys.argv[2], "rb") as f:
    assert z.namelist() == ["progress.txt"], z.namelist()
    assert z.read("progress.txt") == f.read()
PY
then ok "the server stored samples\\client\\progress.txt whole"
else fail "the server's inbox: ${stored:-no archive}"; fi

# With Tolvex-x86 alone, README.txt says to use the 32-bit cscript.
loader_out=$(LC_ALL=C "$WINE32" --version 2>&1)
loader_status=$?
if [ $loader_status -eq 126 ] && printf '%s' "$loader_out" | grep -q 'Exec format error'; then
  echo "SKIP bundle x86: this kernel cannot run 32-bit programs; the 32-bit cscript is left out"
else
  for command in "${COMMANDS[@]}"; do
    case $command in
      cscript\ *) sample_run "$WINE64" "%WINDIR%\\SysWOW64\\cscript.exe ${command#cscript }" "32-bit cscript" ;;
    esac
  done
fi
exit "$FAILED"
