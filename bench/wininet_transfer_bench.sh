#!/usr/bin/env bash
# Tolvex.dll's receive and send under Wine against a bare WinINet program
# doing the same exchange (synchronous calls, 256 KiB pieces), in one
# prefix, on tolvex-server over loopback. Pairs alternate which side goes
# first. Reports, per size, the medians and the ratio DLL / bare for the
# whole program (Wine's start, the call or the exchange, the exit) and for
# the transfer alone (the DLL's trace line "reply: ... in N ms", from the
# post's start to the reply's last byte; the bare program's own clock from
# InternetOpen to its last read).
#   bench/wininet_transfer_bench.sh [--sizes 32,256] [--pairs 3] [--arches "x64 x86"]
#                                   [--dirs "recv send"] [--dlls-x64 DIR] [--dlls-x86 DIR]
#                                   [--server-packs]
# --dlls-*: where Tolvex.dll and TolvexArchiver.dll come from (default the
# build's), so an earlier build can be timed against the same bare loop.
# The receive's reply is made once and served from a file, so the ratios
# are the client's alone; --server-packs has the server pack the order
# data for every request instead, as a live order server does (the same
# wait on both sides).
# TOLVEX_BENCH_TRACES=DIR keeps the DLL's trace of each row's last call.
# Sizes are MiB on the wire of the receive's reply (the send posts the
# same order data). Needs the linux, mingw-x64 (and mingw-i686) builds.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SIZES=32,256
PAIRS=3
ARCHES="x64 x86"
DIRS="recv send"
SERVER_PACKS=
DLLS_x64=$ROOT/build/mingw-x64/platform/win32
DLLS_x86=$ROOT/build/mingw-i686/platform/win32
while [ $# -gt 0 ]; do
  case $1 in
    --sizes) SIZES=$2; shift 2 ;;
    --pairs) PAIRS=$2; shift 2 ;;
    --arches) ARCHES=$2; shift 2 ;;
    --dirs) DIRS=$2; shift 2 ;;
    --dlls-x64) DLLS_x64=$2; shift 2 ;;
    --dlls-x86) DLLS_x86=$2; shift 2 ;;
    --server-packs) SERVER_PACKS=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
SERVER=$ROOT/build/linux/server/tolvex-server
CLI=$ROOT/build/linux/platform/posix/tolvex
WORK=$(mktemp -d /tmp/tolvex-wbench.XXXXXX)
export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
WINE64=/usr/lib/wine/wine64; [ -x "$WINE64" ] || WINE64=$(command -v wine64 || echo wine)
WINE32=/usr/lib/wine/wine; [ -x "$WINE32" ] || WINE32=wine
stop_servers() {
  for pid in $(cat "$WORK"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  rm -f "$WORK"/*.pid
}
cleanup() {
  stop_servers
  wineserver -k 2>/dev/null || true
  if [ -n "${TOLVEX_BENCH_KEEP:-}" ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

if [[ " $ARCHES " == *" x86 "* ]] && ! LC_ALL=C "$WINE32" --version >/dev/null 2>&1; then
  echo "x86 left out: this kernel cannot run 32-bit programs (Wine's 32-bit loader does not start)"
  ARCHES=${ARCHES//x86/}
fi

# Order data sized so that the receive's reply (zip, form-encoded) is
# about MiB-on-the-wire.
make_orders() {  # MiB-on-the-wire FILE
  python3 "$ROOT/scripts/make-orders.py" $(($1 * 1048576 * 17 / 10)) "$2"
}

# Run as $(start_server ...), a subshell: the pid goes to a file for the
# cleanup to find.
start_server() {  # NAME ARGS...
  local name=$1; shift
  "$SERVER" --listen 127.0.0.1:0 --max-body 8G "$@" >"$WORK/$name.out" 2>"$WORK/$name.log" &
  echo $! >"$WORK/$name.pid"
  for _ in $(seq 600); do
    port=$(sed -n 's/.*:\([0-9][0-9]*\).*/\1/p' "$WORK/$name.out" | head -n1)
    [ -n "$port" ] && { echo "$port"; return; }
    sleep 0.1
  done
  echo "tolvex-server $name did not start: $(cat "$WORK/$name.log")" >&2
  exit 1
}

# The body the component posts for a send, caught once from the command
# (the same core builds it): what the bare program posts.
capture_body() {  # URL-PORT-FILE DATAFILE OUT
  python3 - "$1" "$3" <<'PY' &
import http.server, sys
port_file, out = sys.argv[1], sys.argv[2]
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        n = int(self.headers["Content-Length"])
        with open(out, "wb") as f:
            left = n
            while left:
                chunk = self.rfile.read(min(left, 1 << 20))
                f.write(chunk); left -= len(chunk)
        self.send_response(200); self.send_header("Content-Length", "1"); self.end_headers()
        self.wfile.write(b"0")
    def log_message(self, *a): pass
s = http.server.HTTPServer(("127.0.0.1", 0), H)
open(port_file, "w").write(str(s.server_address[1]))
s.handle_request()
PY
  local pid=$!
  for _ in $(seq 100); do [ -s "$1" ] && break; sleep 0.1; done
  "$CLI" --quiet send "http://127.0.0.1:$(cat "$1")/" key-1 C001 "$2" >/dev/null
  wait $pid
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

echo "== prefix"
$WINE64 wineboot -i >"$WORK/wineboot.log" 2>&1; wineserver -w
# No display needed: the dialog runs on Wine's null graphics driver, which
# is chosen when wineserver starts.
$WINE64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -k; wineserver -w
C=$WINEPREFIX/drive_c
mkdir -p "$C/bench"
$WINE64 reg add 'HKCU\Software\TolvexPro\Tolvex' /v TraceFile /d 'C:\bench\trace.txt' /f >/dev/null 2>&1
for arch in $ARCHES; do
  build=$ROOT/build/mingw-x64; dlls=$DLLS_x64; W=$WINE64; SYS='C:\windows\system32'
  [ "$arch" = x86 ] && { build=$ROOT/build/mingw-i686; dlls=$DLLS_x86; W=$WINE32; SYS='C:\windows\syswow64'; }
  mkdir -p "$C/bench/$arch"
  cp "$dlls/Tolvex.dll" "$dlls/TolvexArchiver.dll" "$build/bench/wininet/transfer_bench.exe" \
     "$C/bench/$arch/"
  $W "$SYS\\regsvr32.exe" /s "C:\\bench\\$arch\\TolvexArchiver.dll"
  $W "$SYS\\regsvr32.exe" /s "C:\\bench\\$arch\\Tolvex.dll"
done

printf '\n%-4s %5s %-5s | %10s %10s %6s | %10s %10s %6s\n' arch MiB dir "dll ms" "bare ms" ratio \
  "dll xfer" "bare xfer" ratio
IFS=, read -r -a sizes <<<"$SIZES"
for mib in "${sizes[@]}"; do
  root=$WORK/root-$mib
  mkdir -p "$root/outgoing"
  echo "C001 key-1" >"$root/companies.txt"
  make_orders "$mib" "$root/outgoing/C001.dat"
  [[ " $DIRS " == *" send "* ]] && cp "$root/outgoing/C001.dat" "$C/bench/progress.txt"
  # The receive's reply made once, so neither side waits for the server to pack.
  port=$(start_server "pack-$mib" --root "$root")
  printf '3C001        key-1%45s' '' >"$C/bench/recv-body.txt"
  curl -s -S --http1.0 -A VB6 -H 'Content-Type:application/x-www-form-urlencoded' \
    --data-binary @"$C/bench/recv-body.txt" -o "$WORK/reply-$mib" \
    "http://127.0.0.1:$port/servlets/GetSOData"
  if [ -n "$SERVER_PACKS" ]; then
    recv_port=$port
  else
    recv_port=$(start_server "recv-$mib" --root "$root" --reply-file "$WORK/reply-$mib")
  fi
  if [[ " $DIRS " == *" send "* ]]; then
    send_port=$(start_server "send-$mib" --root "$root")
    capture_body "$WORK/capture-port" "$C/bench/progress.txt" "$C/bench/send-body.txt"
    rm -f "$WORK/capture-port"
  fi
  wire=$(stat -c %s "$WORK/reply-$mib")
  for arch in $ARCHES; do
    W=$WINE64; [ "$arch" = x86 ] && W=$WINE32
    B="C:\\bench\\$arch\\transfer_bench.exe"
    for dir in $DIRS; do
      port=$recv_port; [ $dir = send ] && port=$send_port
      url="http://127.0.0.1:$port/"
      body='C:\bench\recv-body.txt'; [ $dir = send ] && body='C:\bench\send-body.txt'
      : >"$WORK/dll.ms"; : >"$WORK/bare.ms"; : >"$WORK/dll.xfer"; : >"$WORK/bare.xfer"
      for pair in $(seq "$PAIRS"); do
        for side in $([ $((pair % 2)) = 1 ] && echo "dll bare" || echo "bare dll"); do
          if [ $side = dll ]; then
            rm -f "$C/bench/trace.txt" "$C/bench/received.txt"
            file='C:\bench\received.txt'; [ $dir = send ] && file='C:\bench\progress.txt'
            began=$(date +%s%N)
            line=$($W "$B" $dir "$url" key-1 C001 "$file") || true
            echo $((($(date +%s%N) - began) / 1000000)) >>"$WORK/dll.ms"
            set -- $line
            [ "$2" = 0 ] || { echo "DLL $dir failed: $line"; tail -5 "$C/bench/trace.txt" 2>/dev/null; exit 1; }
            tr -d '\r' <"$C/bench/trace.txt" | sed -n 's/.*\* reply: .* in \([0-9.]*\) ms$/\1/p' | tail -n1 >>"$WORK/dll.xfer"
            if [ -n "${TOLVEX_BENCH_TRACES:-}" ]; then
              mkdir -p "$TOLVEX_BENCH_TRACES"
              cp "$C/bench/trace.txt" "$TOLVEX_BENCH_TRACES/$arch-$mib-$dir.txt"
            fi
          else
            began=$(date +%s%N)
            line=$($W "$B" bare "${url}servlets/$([ $dir = recv ] && echo GetSOData || echo PutProgressData)" \
              "$body" 'C:\bench\bare-reply.txt') || true
            echo $((($(date +%s%N) - began) / 1000000)) >>"$WORK/bare.ms"
            set -- $line
            [ "$2" = 0 ] || { echo "bare $dir failed: $line"; exit 1; }
            echo "$3" >>"$WORK/bare.xfer"
          fi
        done
      done
      d=$(median <"$WORK/dll.ms"); b=$(median <"$WORK/bare.ms")
      dx=$(median <"$WORK/dll.xfer"); bx=$(median <"$WORK/bare.xfer")
      awk -v a="$arch" -v w="$wire" -v t="$dir" -v d="$d" -v b="$b" -v dx="$dx" -v bx="$bx" \
        'BEGIN { printf "%-4s %5.1f %-5s | %10.0f %10.0f %6.2f | %10.0f %10.0f %6.2f\n", a, w / 1048576, t, d, b, d / b, dx, bx, dx / bx }'
    done
  done
  stop_servers
  rm -rf "$root" "$WORK/reply-$mib" "$C/bench/received.txt" "$C/bench/bare-reply.txt" \
    "$C/bench/progress.txt" "$C/bench/send-body.txt"
done
echo "(medians of $PAIRS alternating pairs; bare: synchronous WinINet, 256 KiB pieces; ms: the whole program; xfer: the post, from the start of the exchange to the reply's last byte)"
