#!/usr/bin/env bash
# The Windows build under Wine, 32-bit and 64-bit: registration, the native
# client, the script clients against tolvex-server on loopback (HTTP and
# HTTPS), the response timer against a silent and a slow server, a
# Japanese Windows (code page 932), unregistration, and the real dialog
# under Xvfb (dialog_tests.sh), also in Japanese and at 144 DPI.
# Builds nothing: expects build/mingw-i686, build/mingw-x64 and build/linux.
# Exits non-zero on any failure. Artefacts (screenshots, logs) go to
# $TOLVEX_WINE_ARTIFACTS (default build/wine-artifacts).
# TOLVEX_WINE_ARCHES (default "x86 x64") narrows the per-architecture part.
# x86 runs wherever the kernel runs 32-bit programs and is skipped, with a
# SKIP line, where it cannot; TOLVEX_WINE_NO_X86=1 makes the suite behave
# as on such a kernel.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
HERE=$ROOT/tests/wine
. "$ROOT/scripts/test-tally.sh"
. "$HERE/script_clients.sh"
SERVER=$ROOT/build/linux/server/tolvex-server
ARTIFACTS=${TOLVEX_WINE_ARTIFACTS:-$ROOT/build/wine-artifacts}
WORK=$(mktemp -d /tmp/tolvex-wine.XXXXXX)
mkdir -p "$ARTIFACTS"

export WINEPREFIX=$WORK/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# The 64-bit loader starts on every machine of ours: it makes the prefix
# and edits it. The 32-bit one runs the x86 programs only.
WINE64=/usr/lib/wine/wine64
[ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine)
WINE32=/usr/lib/wine/wine
[ -x "$WINE32" ] || WINE32=wine
ARCHES=${TOLVEX_WINE_ARCHES:-x86 x64}
# The locale of a Japanese Windows: Wine takes code page 932 from it.
JA_LOCALE=ja_JP.UTF-8

FAILED=0
PASSED=0
RAN=()
SKIPPED=()
SERVER_PIDS=()

log() { printf '\n== %s\n' "$*"; }
ok() {
  echo "ok   $*"
  PASSED=$((PASSED + 1))
}
fail() {
  echo "FAIL $*"
  FAILED=$((FAILED + 1))
}
# A skipped part; in strict mode (TOLVEX_STRICT=1) a failure, but for x86
# on a kernel that cannot run 32-bit programs.
skip() {  # what, why, [allowed]
  echo "SKIP $1: $2"
  SKIPPED+=("$1: $2")
  tally skipped "wine $1" "$2"
  if strict && [ "${3:-}" != allowed ]; then fail "strict mode (TOLVEX_STRICT=1): $1 may not be skipped"; fi
}

# The loader, system directory (regsvr32, cscript), DLL directory and build
# of one architecture.
arch_env() {
  if [ "$1" = x86 ]; then
    W=$WINE32 SYS='C:\windows\syswow64' BUILD=$ROOT/build/mingw-i686
  else
    W=$WINE64 SYS='C:\windows\system32' BUILD=$ROOT/build/mingw-x64
  fi
  D="C:\\tolvex\\$1"
  CS="$SYS\\cscript.exe"
}

# Whether this machine runs 32-bit programs, asked once. A kernel without
# 32-bit support refuses to execute the 32-bit loader: status 126, "Exec
# format error". TOLVEX_WINE_NO_X86=1 stands for that answer. Any other
# failure to start is a fault of the installation, and x86 stays due.
x86_loader_start() {
  if [ "${TOLVEX_WINE_NO_X86:-0}" = 1 ]; then
    echo "Exec format error (TOLVEX_WINE_NO_X86=1)"
    return 126
  fi
  LC_ALL=C "$WINE32" --version 2>&1
}
case " $ARCHES " in
  *" x86 "*)
    loader_out=$(x86_loader_start)
    loader_status=$?
    if [ $loader_status -eq 126 ] && printf '%s' "$loader_out" | grep -q 'Exec format error'; then
      skip x86 "this kernel cannot run 32-bit programs (Wine's 32-bit loader fails to start)" allowed
      echo "     $WINE32 --version: $loader_out; every x86 step is left out, the x64 ones run"
      ARCHES=$(printf '%s\n' $ARCHES | grep -vx x86 | tr '\n' ' ')
    elif [ $loader_status -ne 0 ]; then
      fail "Wine's 32-bit loader $WINE32 does not start (exit $loader_status): $loader_out"
    fi
    ;;
esac
for arch in x86 x64; do
  case " $ARCHES ${SKIPPED[*]} " in
    *" $arch "* | *" $arch: "*) ;;
    *) skip $arch "not in TOLVEX_WINE_ARCHES" ;;
  esac
done

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

has_arch() { case " $ARCHES " in *" $1 "*) return 0 ;; esac; return 1; }

# Runs a Windows program; its exit status is the check.
run_check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what (exit $?)"; fi
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
    ok "$what"
  else
    fail "$what (exit $status)"
  fi
}

set_graphics() {  # null | x11
  wineserver -w
  if [ "$1" = null ]; then
    $WINE64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  else
    $WINE64 reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1
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
    ok "$build Tolvex.dll names no hook; TolvexTestHooks.dll names both"
  else
    fail "$build hook names: Tolvex.dll $(hook_names "$dir/Tolvex.dll"), TolvexTestHooks.dll $(hook_names "$dir/TolvexTestHooks.dll")"
  fi
done

log "fresh prefix $WINEPREFIX"
$WINE64 wineboot -i >"$WORK/wineboot.log" 2>&1
wineserver -w
set_graphics null

C=$WINEPREFIX/drive_c
for arch in $ARCHES; do
  arch_env $arch
  mkdir -p "$C/tolvex/$arch"
  cp "$BUILD/platform/win32/Tolvex.dll" "$BUILD/platform/win32/TolvexArchiver.dll" \
     "$BUILD/platform/win32/TolvexTestHooks.dll" "$BUILD/tests/wine/tolvex_client.exe" \
     "$BUILD/tests/wine/import_root_ca.exe" "$BUILD/tests/wine/send_close_command.exe" \
     "$C/tolvex/$arch/"
done
copy_script_clients "$C/tolvex" "$HERE"/scripts/*.vbs "$HERE"/scripts/*.js

log "test CA and server certificate for localhost"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tolvex Test CA" \
  -keyout "$WORK/ca.key" -out "$WORK/ca.pem" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
  -keyout "$WORK/server.key" -out "$WORK/server.csr" >/dev/null 2>&1
printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$WORK/server.ext"
openssl x509 -req -in "$WORK/server.csr" -CA "$WORK/ca.pem" -CAkey "$WORK/ca.key" -CAcreateserial \
  -days 2 -extfile "$WORK/server.ext" -out "$WORK/server.pem" >/dev/null 2>&1
# Two that WinINet must refuse: a self-signed one for localhost, and one
# the test CA signed for another host.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost" \
  -keyout "$WORK/untrusted.key" -out "$WORK/untrusted.pem" >/dev/null 2>&1
openssl req -newkey rsa:2048 -nodes -subj "/CN=elsewhere.example" \
  -keyout "$WORK/wronghost.key" -out "$WORK/wronghost.csr" >/dev/null 2>&1
printf 'subjectAltName=DNS:elsewhere.example\nextendedKeyUsage=serverAuth\n' >"$WORK/wronghost.ext"
openssl x509 -req -in "$WORK/wronghost.csr" -CA "$WORK/ca.pem" -CAkey "$WORK/ca.key" -CAcreateserial \
  -days 2 -extfile "$WORK/wronghost.ext" -out "$WORK/wronghost.pem" >/dev/null 2>&1
cp "$WORK/ca.pem" "$C/tolvex/ca.pem"
for arch in $ARCHES; do
  arch_env $arch
  run_check "$arch CA imported into the machine ROOT store" $W "$D\\import_root_ca.exe" 'C:\tolvex\ca.pem'
done

log "tolvex-server on loopback"
DATA=$WORK/data
mkdir -p "$DATA/outgoing"
# A company of a Japanese client: code and key in kana and kanji, full- and
# half-width, so that their code page 932 bytes outnumber their characters.
JA_CODE='テスト商事ｶﾅ'
JA_KEY='表ｷｰ鍵-受注'
printf '# code key\nC001 KEY001\nC002 KEY002\n%s %s\n' "$JA_CODE" "$JA_KEY" >"$DATA/companies.txt"
printf 'ORDER-1,widget,3\r\nORDER-2,gadget,5\r\n' >"$DATA/outgoing/C001.dat"
printf '受注-1,部品,7\r\n受注-2,ﾈｼﾞ,500\r\n' | iconv -f UTF-8 -t CP932 >"$DATA/outgoing/$JA_CODE.dat"
# The header of a request for that company: 63 characters in code page 932.
JA_HEADER_BYTES=$(python3 -c 'import sys; print(len(("3" + sys.argv[1].ljust(12) + sys.argv[2].ljust(50)).encode("cp932")))' "$JA_CODE" "$JA_KEY")

# Sets URL_<name> from the server's "listening on" line, waited for up to
# 10 s; a server without that line ends the suite, since every check
# against it would fail for a reason of no interest.
start_server() {  # name, [--root DIR], extra args...
  local name=$1 root=$DATA
  shift
  if [ "${1:-}" = --root ]; then
    root=$2
    shift 2
  fi
  "$SERVER" --root "$root" "$@" >"$WORK/$name.out" 2>"$ARTIFACTS/server-$name.log" &
  SERVER_PIDS+=($!)
  local address=
  for _ in $(seq 100); do
    address=$(sed -n 's/^listening on \(http[^ ]*\)$/\1/p' "$WORK/$name.out" | head -1)
    [ -n "$address" ] && break
    sleep 0.1
  done
  if [ -z "$address" ]; then
    echo "tolvex-server $name did not start: $(cat "$WORK/$name.out" "$ARTIFACTS/server-$name.log")"
    exit 1
  fi
  printf -v "URL_$name" '%s/' "$address"
  echo "$name: listening on $address"
}
start_server http --listen 127.0.0.1:0
start_server https --listen localhost:0 --tls-cert "$WORK/server.pem" --tls-key "$WORK/server.key"
start_server untrusted --listen localhost:0 --tls-cert "$WORK/untrusted.pem" --tls-key "$WORK/untrusted.key"
start_server wronghost --listen localhost:0 --tls-cert "$WORK/wronghost.pem" --tls-key "$WORK/wronghost.key"
# The reply to C001's receive is about 400 bytes: "slow" sends it in about
# 2.5 s, "slower" in about 8 s.
start_server silent --listen 127.0.0.1:0 --never-answer
start_server slow --listen 127.0.0.1:0 --trickle 40/250
start_server slower --listen 127.0.0.1:0 --trickle 10/200
# A hostile server: its archive holds the data member beside files that must
# never reach the caller's directory.
python3 - "$WORK/hostile.reply" <<'PY'
import io, sys, urllib.parse, zipfile
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, "w") as z:
    z.writestr("C001.dat", b"new orders\r\n")
    z.writestr(".bashrc", b"planted\n")
    z.writestr("sub/evil.txt", b"planted\n")
    z.writestr("orders.txt", b"planted\n")
with open(sys.argv[1], "wb") as f:
    f.write(b"0" + urllib.parse.quote_from_bytes(buffer.getvalue(), safe="").encode())
PY
start_server hostile --listen 127.0.0.1:0 --reply-file "$WORK/hostile.reply"
# Replies WinINet must not take for the servlet's: one cut short of its
# Content-Length, and redirects whose body would read as "no data" (302)
# or "accepted" (301, 307) were the status ignored. They point at a port
# where nothing listens.
start_server cutoff --listen 127.0.0.1:0 --drop-after 20
for status in 301 302 307; do
  body=0
  [ $status = 302 ] && body=1
  start_server redirect$status --listen 127.0.0.1:0 --status $status --reply-body $body \
    --location "http://127.0.0.1:9/elsewhere"
done
# A server of its own for the large transfers, so their data stays apart:
# TOLVEX_WINE_LARGE_MIB (default 100, 0 skips; 1024 is the full check of a
# 1 GiB file) of random bytes each way, which the form encoding makes about
# 2.5 times as many on the wire.
LARGE_MIB=${TOLVEX_WINE_LARGE_MIB:-100}
LARGE=$WORK/large
mkdir -p "$LARGE/outgoing"
printf 'C001 KEY001\nC002 KEY002\n' >"$LARGE/companies.txt"
if [ "$LARGE_MIB" -gt 0 ]; then
  head -c $((LARGE_MIB << 20)) /dev/urandom >"$LARGE/outgoing/C001.dat"
  # Order data that packs well (a 32 MiB reply), for receives whose reads
  # outpace the server that packs it.
  python3 "$ROOT/scripts/make-orders.py" 57000000 "$LARGE/outgoing/C002.dat"
  start_server large --root "$LARGE" --listen 127.0.0.1:0 --max-body $((LARGE_MIB * 3 + 16))M
fi
# Apartment threads calling at once: a server of their own that answers
# each company C1 to C$APARTMENTS with its own data, after a delay.
APARTMENTS=4
APT=$WORK/apartments
mkdir -p "$APT/outgoing"
for i in $(seq $APARTMENTS); do
  echo "C$i KEY-C$i" >>"$APT/companies.txt"
  python3 -c 'import sys; c = sys.argv[1]; sys.stdout.buffer.write(b"".join(b"%s,order-%d,%d\r\n" % (c.encode(), n, n % 7 + 1) for n in range(1, 1001)))' "C$i" >"$APT/outgoing/C$i.dat"
done
"$SERVER" --root "$APT" --listen 127.0.0.1:0 --delay-ms 1500 >"$WORK/apartments.out" 2>"$ARTIFACTS/server-apartments.log" &
SERVER_PIDS+=($!)
for _ in $(seq 50); do
  [ -s "$WORK/apartments.out" ] && break
  sleep 0.1
done
URL_apartments="$(sed -n 's/^listening on //p' "$WORK/apartments.out" | head -1)/"
# The Japanese client's server reads headers in code page 932.
start_server ja --listen 127.0.0.1:0 --charset CP932
start_server ja_slower --listen 127.0.0.1:0 --charset CP932 --trickle 10/200
# The certificate names localhost; the server may report another spelling.
PORT_https=${URL_https##*:}
URL_https="https://localhost:${PORT_https}"
URL_untrusted="https://localhost:${URL_untrusted##*:}"
URL_wronghost="https://localhost:${URL_wronghost##*:}"
# A port that was free a moment ago: nothing listens there.
DEAD_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
URL_dead="http://127.0.0.1:${DEAD_PORT}/"

# Wine takes code page 932 from the locale even where glibc lacks it, but
# file names and command lines with Japanese characters pass intact only
# where it is generated (scripts/install-deps.sh does).
if locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; then
  ok "locale $JA_LOCALE generated"
else
  fail "locale $JA_LOCALE not generated: run scripts/install-deps.sh"
fi

# A work directory for the long posts: the caller's old file and a progress
# file.
long_post_dir() {
  rm -rf "$1"
  mkdir -p "$1"
  printf 'old orders\r\n' >"$1/orders.txt"
  printf 'progress\r\n' >"$1/progress.txt"
}
same_file() {  # what, got, want
  if cmp -s "$2" "$3"; then ok "$1"; else fail "$1"; fi
}
# The sent archive holds exactly one member, NAME, with FILE's bytes.
archive_holds() {  # archive, name, file
  python3 - "$@" <<'PY'
import sys, zipfile
archive, name, original = sys.argv[1:]
with zipfile.ZipFile(archive) as z, open(original, "rb") as f:
    names = [i.filename if i.flag_bits & 0x800 else i.filename.encode("cp437").decode("utf-8")
             for i in z.infolist()]
    assert names == [name], names
    assert z.read(z.infolist()[0]) == f.read()
PY
}
# The server's log line for a request, past the first SKIP lines, waited
# for up to 5 s: the server writes it after the reply went out, so it may
# come after the client has its answer.
log_line() {  # server name, lines to skip, servlet
  local line
  for _ in $(seq 50); do
    line=$(tail -n +$(($2 + 1)) "$ARTIFACTS/server-$1.log" | grep " /servlets/$3 " | head -1)
    [ -n "$line" ] && break
    sleep 0.1
  done
  printf '%s\n' "$line"
}

# $APARTMENTS threads of the native client, six rounds, on single-threaded
# apartments or in the multithreaded one; then each company's inbox holds
# exactly its own sends (rounds 2, 5, and 3 or 4 by the company's parity).
apartment_checks() {  # arch, sta | mta
  rm -rf "$APT/inbox"
  local model=
  [ "$2" = mta ] && model=mta
  run_check "$1 native client: $APARTMENTS $2 threads at once" $W "$D\\tolvex_client.exe" \
    apartments "$URL_apartments" "$WORKDIR" $APARTMENTS $model
  local i got
  for i in $(seq $APARTMENTS); do
    got=$(python3 - "$APT/inbox/C$i" "C$i" <<'PY'
import glob, sys, zipfile
archives = sorted(glob.glob(sys.argv[1] + "/*.zip"))
for archive in archives:
    with zipfile.ZipFile(archive) as z:
        names = z.namelist()
        assert names == ["progress-%s.txt" % sys.argv[2]], names
        assert z.read(names[0]).startswith(b"progress of %s round " % sys.argv[2].encode())
print(len(archives))
PY
)
    if [ "$got" = 3 ]; then ok "$1 C$i's three sends reached the server under C$i"
    else fail "$1 C$i's inbox: ${got:-unreadable} archive(s) of its own, 3 expected"; fi
  done
}

for arch in $ARCHES; do
  arch_env $arch
  RAN+=("$arch: registration, native client, script clients, response timer, Japanese Windows, unregistration")
  WORKDIR_UNIX=$C/work-$arch
  WORKDIR="C:\\work-$arch"
  mkdir -p "$WORKDIR_UNIX/進捗"
  : >"$WORKDIR_UNIX/empty.txt"
  printf 'progress of %s\r\nline 2\r\n' "$arch" >"$WORKDIR_UNIX/進捗/progress.txt"

  log "$arch: registration"
  run_check "$arch regsvr32 Tolvex.dll" $W "$SYS\\regsvr32.exe" /s "$D\\Tolvex.dll"
  run_check "$arch regsvr32 TolvexArchiver.dll" $W "$SYS\\regsvr32.exe" /s "$D\\TolvexArchiver.dll"
  run_check "$arch native client: registration" $W "$D\\tolvex_client.exe" registered stand-in

  log "$arch: native client"
  run_check "$arch native client: calls" $W "$D\\tolvex_client.exe" calls "$WORKDIR"
  run_check "$arch native client: unloading" $W "$D\\tolvex_client.exe" unload "$D\\Tolvex.dll" \
    "$URL_http" "$WORKDIR\\unload-orders.txt"
  # The opt-in trace (TraceFile under HKCU\Software\TolvexPro\Tolvex).
  run_check "$arch native client: trace file" $W "$D\\tolvex_client.exe" trace "$URL_dead" \
    "$URL_http" "$WORKDIR"
  apartment_checks "$arch" sta
  apartment_checks "$arch" mta
  # The caller's file as users have it. Wine reaches \\localhost\work-ARCH
  # through dosdevices/unc. Wine's file channel logs every NtCreateFile:
  # none may name the devices COM1 or NUL, which the calls refuse unopened.
  mkdir -p "$WINEPREFIX/dosdevices/unc/localhost"
  ln -sfn "$WORKDIR_UNIX" "$WINEPREFIX/dosdevices/unc/localhost/work-$arch"
  failed_before=$FAILED
  WINEDEBUG=trace+file run_check "$arch native client: the caller's file held, relative, deep, on a share, a device" \
    timeout 300 $W "$D\\tolvex_client.exe" files "$URL_http" "$URL_dead" "$WORKDIR" \
    "\\\\localhost\\work-$arch" 2>"$WORK/files-$arch.log"
  # Its standard error holds Wine's file trace; on a failure, the rest of it.
  [ $FAILED -eq $failed_before ] || grep -v ':trace:' "$WORK/files-$arch.log"
  opened=$(grep -ciE 'NtCreateFile.*name=L"\\\\\?\?\\\\(COM1|NUL)"' "$WORK/files-$arch.log")
  if [ "$opened" -eq 0 ] && grep -q 'NtCreateFile' "$WORK/files-$arch.log"; then
    ok "$arch COM1 and NUL were never opened ($(grep -c NtCreateFile "$WORK/files-$arch.log") opens logged)"
  else
    fail "$arch COM1 or NUL opened $opened time(s), or Wine logged no opens"
  fi
  # Wine keeps no access control list of a file's own: it maps the list
  # onto the Unix mode. The new file's mode came from the old file's list
  # (acl-probe.txt was given the same one), not from a fresh file's.
  mode_new=$(stat -c %a "$WORKDIR_UNIX/files/attributes/orders.txt")
  mode_probe=$(stat -c %a "$WORKDIR_UNIX/files/attributes/acl-probe.txt")
  mode_fresh=$(stat -c %a "$WORKDIR_UNIX/files/reference.txt")
  if [ "${mode_new:0:2}" = "${mode_probe:0:2}" ] && [ "$mode_new" != "$mode_fresh" ]; then
    ok "$arch the new file took the old one's list (Unix mode $mode_new, a fresh file's $mode_fresh)"
  else
    fail "$arch the new file's Unix mode $mode_new, the list's $mode_probe, a fresh file's $mode_fresh"
  fi
  # The relative send sent the file of the client's current directory.
  sent_relative=no
  for archive in "$DATA"/inbox/C001/*.zip; do
    archive_holds "$archive" progress.txt "$WORKDIR_UNIX/files/relative/progress.txt" 2>/dev/null &&
      sent_relative=yes
  done
  if [ $sent_relative = yes ]; then ok "$arch the relative send arrived with the current directory's file"
  else fail "$arch no archive holds the relative send's progress.txt"; fi

  log "$arch: script clients"
  run_script "$arch VBScript variables" $W "$CS" //nologo 'C:\tolvex\args_variables.vbs' "$URL_http" "$WORKDIR"
  run_script "$arch VBScript literals" $W "$CS" //nologo 'C:\tolvex\args_literals.vbs' "$URL_http" "$WORKDIR"
  run_script "$arch JScript arguments" $W "$CS" //nologo 'C:\tolvex\args.js' "$URL_http" "$WORKDIR"
  inbox_before=$(find "$DATA/inbox" -name '*.zip' 2>/dev/null | wc -l)
  run_script "$arch VBScript transfers" $W "$CS" //nologo 'C:\tolvex\transfer.vbs' \
    "$URL_http" "$WORKDIR" "$URL_https" "$URL_dead" "$URL_untrusted" "$URL_wronghost"
  run_script "$arch JScript transfers" $W "$CS" //nologo 'C:\tolvex\transfer.js' "$URL_http" "$WORKDIR"

  log "$arch: files on disk"
  for got in "$WORKDIR_UNIX/受信/orders.txt" "$WORKDIR_UNIX/受信/secure.txt" "$WORKDIR_UNIX/js-orders.txt"; do
    if cmp -s "$got" "$DATA/outgoing/C001.dat"; then ok "$arch ${got#$C/} matches the server's data"
    else fail "$arch ${got#$C/} differs from the server's data"; fi
  done
  if [ -f "$WORKDIR_UNIX/受信/none.txt" ] && [ ! -s "$WORKDIR_UNIX/受信/none.txt" ]; then
    ok "$arch no-data receive left an empty file"
  else fail "$arch no-data receive file"; fi
  inbox_after=$(find "$DATA/inbox" -name '*.zip' 2>/dev/null | wc -l)
  if [ $((inbox_after - inbox_before)) -eq 2 ]; then ok "$arch two progress archives arrived"
  else fail "$arch progress archives: $((inbox_after - inbox_before)) arrived, 2 expected"; fi
  newest=$(ls -t "$DATA"/inbox/C001/*.zip | head -1)
  if archive_holds "$newest" progress.txt "$WORKDIR_UNIX/進捗/progress.txt"; then
    ok "$arch the sent archive holds progress.txt unchanged"
  else fail "$arch sent archive content"; fi

  log "$arch: response timer (TolvexTestHooks.dll)"
  long_post_dir "$WORKDIR_UNIX/timing"
  run_check "$arch regsvr32 TolvexTestHooks.dll" $W "$SYS\\regsvr32.exe" /s "$D\\TolvexTestHooks.dll"
  TOLVEX_RESPONSE_PERIOD_MS=300 run_script "$arch silent server: timeouts, then normal calls" \
    $W "$CS" //nologo 'C:\tolvex\post.js' timeout 300 "$URL_silent" "$URL_http" "$WORKDIR\\timing"
  TOLVEX_RESPONSE_PERIOD_MS=1500 run_script "$arch slow but live reply" \
    $W "$CS" //nologo 'C:\tolvex\post.js' slow 1500 "$URL_slow" "$URL_http" "$WORKDIR\\timing"
  run_check "$arch native client: a guest among the client's windows" $W "$D\\tolvex_client.exe" \
    guest TolvexTestHooks.dll "$WORKDIR" "$URL_http" "$URL_dead" "$URL_silent" "$URL_slow"
  TOLVEX_RESPONSE_PERIOD_MS=1500 run_script "$arch reply trickling past four periods" \
    $W "$CS" //nologo 'C:\tolvex\post.js' trickle 1500 "$URL_slower" "$URL_http" "$WORKDIR\\timing"
  run_check "$arch regsvr32 Tolvex.dll again" $W "$SYS\\regsvr32.exe" /s "$D\\Tolvex.dll"
  same_file "$arch old file unchanged by the timeout" "$WORKDIR_UNIX/timing/orders.txt" <(printf 'old orders\r\n')
  same_file "$arch receive after the timeouts" "$WORKDIR_UNIX/timing/fresh.txt" "$DATA/outgoing/C001.dat"
  same_file "$arch slow reply's data" "$WORKDIR_UNIX/timing/slow.txt" "$DATA/outgoing/C001.dat"
  same_file "$arch trickled reply's data" "$WORKDIR_UNIX/timing/trickled.txt" "$DATA/outgoing/C001.dat"

  log "$arch: a hostile archive"
  rm -rf "$WORKDIR_UNIX/hostile"
  mkdir -p "$WORKDIR_UNIX/hostile"
  printf 'old orders\r\n' >"$WORKDIR_UNIX/hostile/orders.txt"
  run_script "$arch only the data member reaches the caller's file" \
    $W "$CS" //nologo 'C:\tolvex\post.js' hostile 0 "$URL_hostile" "$URL_http" "$WORKDIR\\hostile"
  if [ "$(cd "$WORKDIR_UNIX/hostile" && find . | sort | tr '\n' ' ')" = ". ./C001.dat ./orders.txt ./so.zip " ]; then
    ok "$arch the hostile archive left nothing but the caller's files"
  else fail "$arch after the hostile archive: $(cd "$WORKDIR_UNIX/hostile" && find . | tr '\n' ' ')"; fi

  log "$arch: replies that are not the servlet's"
  for status in 301 302 307; do
    long_post_dir "$WORKDIR_UNIX/refused"
    before=$(grep -c ' /servlets/' "$ARTIFACTS/server-redirect$status.log" || true)
    url_var=URL_redirect$status
    run_script "$arch a reply cut short gives 9; a $status redirect is not followed" \
      $W "$CS" //nologo 'C:\tolvex\post.js' refused 0 "$URL_cutoff" "${!url_var}" "$WORKDIR\\refused"
    after=$(grep -c ' /servlets/' "$ARTIFACTS/server-redirect$status.log" || true)
    if [ $((after - before)) = 2 ]; then ok "$arch the $status server saw one request per call"
    else fail "$arch the $status server saw $((after - before)) requests for 2 calls"; fi
  done
  # A receive's reply is in no file of the prefix but the caller's: WinINet
  # writes nothing to the user's Internet cache.
  needle=$(curl -s --data-binary "3C001        KEY001$(printf '%44s' '')" "${URL_http}servlets/GetSOData" |
    head -c 48 | tail -c 40)
  if [ ${#needle} -ne 40 ]; then
    fail "$arch the sample server's reply could not be read for the cache check"
  elif grep -rlF -- "$needle" "$WINEPREFIX/drive_c/users" >/dev/null 2>&1; then
    fail "$arch a receive's reply lies in the prefix: $(grep -rlF -- "$needle" "$WINEPREFIX/drive_c/users" | head -3 | tr '\n' ' ')"
  else ok "$arch no file of the prefix's users holds a received reply"; fi

  if [ "$LARGE_MIB" -gt 0 ]; then
    log "$arch: $LARGE_MIB MiB each way"
    rm -rf "$WORKDIR_UNIX/large"
    mkdir -p "$WORKDIR_UNIX/large"
    head -c $((LARGE_MIB << 20)) /dev/urandom >"$WORKDIR_UNIX/large/progress.txt"
    # The native client, so the call's peak memory can be told apart from
    # what the process held before it.
    run_check "$arch a $LARGE_MIB MiB receive and send within 64 MiB of memory" \
      $W "$D\\tolvex_client.exe" large "$URL_large" "$WORKDIR\\large"
    same_file "$arch the large receive's data" "$WORKDIR_UNIX/large/large.txt" "$LARGE/outgoing/C001.dat"
    left=$(cd "$WORKDIR_UNIX/large" && ls -A | tr '\n' ' ')
    if [ "$left" = "large.txt progress.txt " ]; then ok "$arch nothing left behind by the large calls"
    else fail "$arch the large calls left: $left"; fi
    newest=$(ls -t "$LARGE"/inbox/C001/*.zip 2>/dev/null | head -1)
    if [ -n "$newest" ] && archive_holds "$newest" progress.txt "$WORKDIR_UNIX/large/progress.txt"; then
      ok "$arch the large send arrived whole"
    else fail "$arch the large send's archive"; fi
    # On one processor, a read's completion often comes before the call that
    # started it has returned.
    run_check "$arch receives of order data from a server packing as it sends" \
      taskset -c 0 $W "$D\\tolvex_client.exe" live "$URL_large" "$WORKDIR\\large\\live.txt" 10
    same_file "$arch the live receive's data" "$WORKDIR_UNIX/large/live.txt" "$LARGE/outgoing/C002.dat"
    rm -rf "$WORKDIR_UNIX/large" "$LARGE/inbox"
  fi

  log "$arch: a Japanese Windows (code page 932) against a server reading code page 932"
  # The caller's directory 受注 holds the file it sends, 進捗報告.txt, and
  # receives 注文.txt; transfer.js builds the names itself.
  JA_DIR_UNIX=$WORKDIR_UNIX/受注
  mkdir -p "$JA_DIR_UNIX"
  printf '進捗 %s\r\n' "$arch" | iconv -f UTF-8 -t CP932 >"$JA_DIR_UNIX/進捗報告.txt"
  ja_seen=$(wc -l <"$ARTIFACTS/server-ja.log")
  LC_ALL=$JA_LOCALE run_script "$arch JScript transfers for $JA_CODE in $JA_LOCALE" \
    $W "$CS" //nologo 'C:\tolvex\transfer.js' "$URL_ja" "$WORKDIR" ja
  same_file "$arch 受注/注文.txt holds $JA_CODE's data" "$JA_DIR_UNIX/注文.txt" "$DATA/outgoing/$JA_CODE.dat"
  # The log names the bytes the server got: 63 characters in code page 932
  # are $JA_HEADER_BYTES bytes (63 in Windows-1252, more in UTF-8).
  line=$(log_line ja "$ja_seen" GetSOData)
  if printf '%s' "$line" | grep -q " 200 $JA_HEADER_BYTES bytes in, status 0, sent [0-9]* archive bytes to $JA_CODE\$"; then
    ok "$arch the server read a $JA_HEADER_BYTES-byte code page 932 header for $JA_CODE"
  else
    fail "$arch receive header for $JA_CODE, $JA_HEADER_BYTES bytes in code page 932 expected: $line"
  fi
  line=$(log_line ja "$ja_seen" PutProgressData)
  if printf '%s' "$line" | grep -q "status 0, stored .*/inbox/$JA_CODE/"; then
    ok "$arch the server stored the send for $JA_CODE"
  else
    fail "$arch send for $JA_CODE: $line"
  fi
  newest=$(ls -t "$DATA/inbox/$JA_CODE"/*.zip 2>/dev/null | head -1)
  if [ -n "$newest" ] && archive_holds "$newest" 進捗報告.txt "$JA_DIR_UNIX/進捗報告.txt"; then
    ok "$arch the sent archive holds 進捗報告.txt unchanged"
  else fail "$arch sent archive for $JA_CODE"; fi

  # The type library by a Japanese user's locale (0x411), which falls
  # back to locale 0, never to 0x409.
  LC_ALL=$JA_LOCALE run_check "$arch native client: registration seen by a Japanese user" \
    $W "$D\\tolvex_client.exe" registered stand-in

  log "$arch: unregistration"
  run_check "$arch regsvr32 /u Tolvex.dll" $W "$SYS\\regsvr32.exe" /s /u "$D\\Tolvex.dll"
  run_check "$arch regsvr32 /u TolvexArchiver.dll" $W "$SYS\\regsvr32.exe" /s /u "$D\\TolvexArchiver.dll"
  run_check "$arch native client: unregistration" $W "$D\\tolvex_client.exe" unregistered

  # ---- A clean PC: Tolvex.dll alone, for all users and per user ----
  log "$arch: only Tolvex.dll registered: the built-in archiver"
  RAN+=("$arch: the built-in archiver, the stand-in chosen where registered, per-user registration, refused registrations")
  run_check "$arch regsvr32 Tolvex.dll alone" $W "$SYS\\regsvr32.exe" /s "$D\\Tolvex.dll"
  rm -f "$WORKDIR_UNIX/archiver-orders.txt"
  inbox_before=$(find "$DATA/inbox" -name '*.zip' 2>/dev/null | wc -l)
  run_check "$arch receive and send through the built-in archiver" $W "$D\\tolvex_client.exe" \
    archiver "$URL_http" "$WORKDIR" "archiver: the built-in zip archiver, as MarloxO.Marlox cannot be created in this process (CLSIDFromProgID failed: 0x800401F3"
  same_file "$arch the built-in archiver's receive holds the server's data" \
    "$WORKDIR_UNIX/archiver-orders.txt" "$DATA/outgoing/C001.dat"
  newest=$(ls -t "$DATA"/inbox/C001/*.zip | head -1)
  if [ "$(find "$DATA/inbox" -name '*.zip' | wc -l)" -eq $((inbox_before + 1)) ] &&
     archive_holds "$newest" archiver-progress.txt "$WORKDIR_UNIX/archiver-progress.txt"; then
    ok "$arch the built-in archiver's send arrived as a zip holding the file unchanged"
  else fail "$arch the built-in archiver's send"; fi
  if [ "$arch" = x64 ] && has_arch x86; then
    # The control registered for 32-bit processes only, as on a PC with
    # 32-bit Office: the ProgID is there, its class is not for x64
    # (REGDB_E_CLASSNOTREG on Windows, REGDB_E_KEYMISSING under Wine).
    run_check "x86 regsvr32 TolvexArchiver.dll only" $WINE32 'C:\windows\syswow64\regsvr32.exe' /s 'C:\tolvex\x86\TolvexArchiver.dll'
    run_check "$arch the control registered for x86 only: the built-in archiver" $W "$D\\tolvex_client.exe" \
      archiver "$URL_http" "$WORKDIR" "cannot be created in this process (CoCreateInstance failed: 0x8004015"
    run_check "x86 regsvr32 /u TolvexArchiver.dll" $WINE32 'C:\windows\syswow64\regsvr32.exe' /s /u 'C:\tolvex\x86\TolvexArchiver.dll'
  fi
  run_check "$arch regsvr32 TolvexArchiver.dll" $W "$SYS\\regsvr32.exe" /s "$D\\TolvexArchiver.dll"
  run_check "$arch with the stand-in registered, the stand-in archives" $W "$D\\tolvex_client.exe" \
    archiver "$URL_http" "$WORKDIR" "archiver: MarloxO.Marlox {2F1C7C55-8E0B-4B8E-9D0A-6B3E5F4A1C27}" hosted
  run_check "$arch regsvr32 /u TolvexArchiver.dll" $W "$SYS\\regsvr32.exe" /s /u "$D\\TolvexArchiver.dll"
  run_check "$arch regsvr32 /u Tolvex.dll" $W "$SYS\\regsvr32.exe" /s /u "$D\\Tolvex.dll"

  log "$arch: per-user registration (regsvr32 /n /i:user)"
  run_check "$arch regsvr32 /n /i:user Tolvex.dll" $W "$SYS\\regsvr32.exe" /s /n /i:user "$D\\Tolvex.dll"
  run_check "$arch native client: per-user keys only" $W "$D\\tolvex_client.exe" user-registered
  run_check "$arch regsvr32 /u /n /i:user Tolvex.dll" $W "$SYS\\regsvr32.exe" /s /u /n /i:user "$D\\Tolvex.dll"
  run_check "$arch native client: no per-user key left" $W "$D\\tolvex_client.exe" user-unregistered
  run_check "$arch native client: registrations into keys closed to writing" $W "$D\\tolvex_client.exe" \
    denied "$D\\Tolvex.dll"
  run_check "$arch native client: nothing left after the refused registrations" $W "$D\\tolvex_client.exe" unregistered
  # ---- end of the clean PC ----

  SERVER_DATA=$DATA "$HERE/msi_tests.sh" "$arch" "$W" "$URL_http" "$URL_https"
  msi_status=$?
  # Each of its failures counts, as a dialog pass's do.
  if [ $msi_status -ne 0 ]; then
    echo "FAIL $arch MSI package: $msi_status failure(s)"
    FAILED=$((FAILED + msi_status))
  fi
done

# ---- Both architectures registered, each removed alone ----
case $(has_arch x86 && has_arch x64 && echo both) in
  both)
    log "both architectures registered; either removed alone"
    RAN+=("x86 and x64: either architecture unregistered alone, the other still works; both gone, nothing left")
    both() {  # regsvr32 arguments for both DLLs
      $WINE32 'C:\windows\syswow64\regsvr32.exe' /s "$@" 'C:\tolvex\x86\Tolvex.dll' &&
        $WINE64 'C:\windows\system32\regsvr32.exe' /s "$@" 'C:\tolvex\x64\Tolvex.dll'
    }
    for gone in x86 x64; do
      left=x64
      [ $gone = x64 ] && left=x86
      run_check "regsvr32 Tolvex.dll, x86 and x64" both
      arch_env $gone
      run_check "$gone regsvr32 /u Tolvex.dll" $W "$SYS\\regsvr32.exe" /s /u "$D\\Tolvex.dll"
      # Its type library keys under both locales went with it.
      gone_kind=win64
      [ $gone = x86 ] && gone_kind=win32
      for locale in 409 0; do
        if $WINE64 reg query "HKCR\\TypeLib\\{1D0186B2-71D1-42FA-8909-D692E19B3970}\\1.0\\$locale\\$gone_kind" >/dev/null 2>&1; then
          fail "$gone type library key under locale $locale left after its removal"
        else
          ok "$gone type library key under locale $locale removed with it"
        fi
      done
      arch_env $left
      run_check "$left native client: registration whole after the $gone DLL's removal" \
        $W "$D\\tolvex_client.exe" registered
      run_check "$left creates the object and transfers after the $gone DLL's removal" \
        $W "$D\\tolvex_client.exe" archiver "$URL_http" "C:\\work-$left" "archiver: the built-in zip archiver"
      run_check "$left regsvr32 /u Tolvex.dll" $W "$SYS\\regsvr32.exe" /s /u "$D\\Tolvex.dll"
      for arch in x86 x64; do
        arch_env $arch
        run_check "$arch native client: nothing left once both are gone ($gone first)" \
          $W "$D\\tolvex_client.exe" unregistered
      done
    done
    ;;
  *) skip "either architecture removed alone" "needs both x86 and x64" ;;
esac
# ---- end of both architectures ----

log "the bundle: tolvex-server.exe, the VBScript sample, the trace's .reg files"
"$HERE/sample_tests.sh" "$ARCHES" >"$WORK/sample.out" 2>&1
sample_failures=$?
cat "$WORK/sample.out"
PASSED=$((PASSED + $(grep -c '^ok ' "$WORK/sample.out")))
[ $sample_failures -ne 0 ] && FAILED=$((FAILED + sample_failures))
RAN+=("the Windows sample server with the native command; the VBScript sample and trace files on $ARCHES")

# One run of dialog_tests.sh in its own Xvfb at the pass's DPI (Wine's
# LogPixels); the wineserver restarts so that the desktop and the system
# DPI are taken afresh.
dialog_pass() {  # arch, pass (plain | ja | dpi144)
  local dpi=96
  [ "$2" = dpi144 ] && dpi=144
  $WINE64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
  wineserver -k
  wineserver -w
  ARCH=$1 PASS=$2 DPI=$dpi xvfb-run -a -s "-screen 0 1280x1024x24 -dpi $dpi" \
    "$HERE/dialog_tests.sh" >"$WORK/dialog-$1-$2.out" 2>&1
  local status=$?
  cat "$WORK/dialog-$1-$2.out"
  PASSED=$((PASSED + $(grep -c '^ok ' "$WORK/dialog-$1-$2.out")))
  [ $status -ne 0 ] && FAILED=$((FAILED + status))
  RAN+=("$1: the dialog under Xvfb, pass $2 ($dpi DPI)")
}

log "the real dialog under Xvfb: Cancel, close command, repainting; in Japanese; at 144 DPI"
if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null; then
  set_graphics x11
  export W SYS D CS WORK ARTIFACTS DATA C URL_http URL_silent URL_slower URL_ja_slower JA_LOCALE JA_CODE JA_KEY
  for arch in $ARCHES; do
    arch_env $arch
    run_check "$arch regsvr32 TolvexArchiver.dll for the dialog tests" \
      $W "$SYS\\regsvr32.exe" /s "$D\\TolvexArchiver.dll"
    for pass in plain ja dpi144; do
      log "$arch dialog: $pass"
      dialog_pass $arch $pass
    done
  done
  # Whatever runs next sees the usual 96 DPI again.
  $WINE64 reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1
  for shot in "$ARTIFACTS"/*.png; do [ -s "$shot" ] && echo "screenshot: $shot"; done
else
  fail "xvfb-run, xdotool or ImageMagick's import missing"
fi

log "result"
for what in "${RAN[@]}"; do echo "ran:     $what"; done
tally ran wine "$PASSED checks ($(printf '%s' "$ARCHES" | xargs | tr ' ' '+'))"
for what in "${SKIPPED[@]}"; do echo "skipped: $what"; done
echo "$PASSED check(s) passed, $FAILED failed, ${#SKIPPED[@]} part(s) skipped (a skip is no pass)"
if [ "$FAILED" -eq 0 ]; then echo "all Wine tests that ran passed"; else echo "$FAILED Wine test(s) failed"; fi
exit $((FAILED > 125 ? 125 : FAILED))
