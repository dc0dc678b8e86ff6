#!/usr/bin/env bash
# The real dialog on an X display without a window manager: run by run.sh
# inside xvfb-run, once per architecture and pass. Expects the DLLs and
# tolvex_client.exe in $D of $WINEPREFIX and these variables: ARCH (x86 or
# x64), W (its Wine loader), SYS (its system directory), D, CS (its
# cscript), PASS, DPI (the system DPI run.sh set), WORK, ARTIFACTS, DATA, C
# (the prefix's drive_c), URL_http, URL_silent (never answers), URL_slower
# (trickles its reply over several seconds), URL_ja_slower (the same,
# reading headers in code page 932), JA_LOCALE, JA_CODE, JA_KEY.
# PASS "plain":
#  1. Cancel before the job starts (TolvexTestHooks.dll holds the start);
#     a click on the native client's own form during the call does nothing.
#  2. Cancel during a receive's post, then a normal receive.
#  3. The close command during a send's post, then a normal send.
#  4. The dialog repaints during a slow post: covered and uncovered, the
#     label is drawn again; screenshot in $ARTIFACTS/slow-post-$ARCH.png.
#  5. The layout check below.
# PASS "ja": the layout check in the Japanese locale, for the company with
# a Japanese code; PASS "dpi144": the layout check at 144 DPI.
# The layout check: the native client receives while it looks at its own
# dialog (controls inside the client area and apart, every caption's glyphs
# in the dialog's font, the label's "受信(…)" fitting its control), then
# shows that caption again in the label; the screenshot
# $ARTIFACTS/$PASS-dialog-$ARCH.png, taken meanwhile, must not have a blank
# label.
# Prints ok/FAIL lines; exits with the number of failures, at most 125.
set -uo pipefail

FAILED=0
ok() { echo "ok   $ARCH $PASS: $*"; }
fail() {
  echo "FAIL $ARCH $PASS: $*"
  FAILED=$((FAILED + 1))
}
same_file() {  # what, got, want
  if cmp -s "$2" "$3"; then ok "$1"; else fail "$1"; fi
}

WORK_UNIX=$C/work-$ARCH
WORKDIR="C:\\work-$ARCH"
DIR_UNIX=$WORK_UNIX/dialog
DIR="$WORKDIR\\dialog"
mkdir -p "$DIR_UNIX"

register() { $W "$SYS\\regsvr32.exe" /s "$D\\$1" && ok "regsvr32 $1" || fail "regsvr32 $1"; }

# The dialog's X window once it is on the screen, waited for up to 30 s.
dialog_window() {
  local window
  for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name '^Tolvex$' 2>/dev/null | head -1)
    [ -n "$window" ] && { echo "$window"; return 0; }
    sleep 0.1
  done
  return 1
}

# Twips to pixels at the pass's DPI, rounded as the dialog rounds.
px() { echo $((($1 * DPI + 720) / 1440)); }

# Geometry of the dialog's client area: it sits at the bottom right of the
# X window. Sets CX, CY (its top left corner).
client_origin() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  CX=$((X + WIDTH - $(px 5805)))
  CY=$((Y + HEIGHT - $(px 720)))
}

# Presses Cancel: the middle of the button is 5347 by 172 twips into the
# client area.
click_cancel() {
  client_origin "$1"
  xdotool mousemove --sync $((CX + $(px 5347))) $((CY + $(px 172)))
  xdotool click 1
}

# Requests the server NAME holds back (its log says so as each comes in).
held_requests() { grep -c 'reply held back' "$ARTIFACTS/server-$1.log"; }
# Waits up to 60 s for one more than COUNT: the call's post is on. No
# fixed pause: a Cancel before the post would pass as one during it.
wait_for_post() {  # server name, count before the call
  for _ in $(seq 600); do
    [ "$(held_requests "$1")" -gt "$2" ] && return 0
    sleep 0.1
  done
  fail "the call's request never reached the $1 server"
  return 1
}

CLIENT=
# A script client in the background, its output in $WORK/NAME.out.
start_client() {  # name, env assignments..., then cscript arguments
  local name=$1
  shift
  env "$@" >"$WORK/$name.out" 2>&1 &
  CLIENT=$!
}
# Waits up to 60 s for the client; it passes only when it reports
# "all passed" and exits 0: cscript exits 0 even when a script dies of a
# run-time error, so an "ok" line or a zero status alone proves nothing.
finish_client() {  # name, what
  local status=124
  for _ in $(seq 600); do
    if ! kill -0 "$CLIENT" 2>/dev/null; then
      wait "$CLIENT"
      status=$?
      break
    fi
    sleep 0.1
  done
  [ $status = 124 ] && kill "$CLIENT" 2>/dev/null
  sed 's/^/    /' "$WORK/$1.out"
  if [ $status -eq 0 ] && grep -q 'all passed' "$WORK/$1.out"; then ok "$2"; else fail "$2 (exit $status)"; fi
}
# Grey deviation of the label's area in a screenshot: near 0 when blank.
label_deviation() {  # image; the label: 30,30 twips, 4875 by 255
  convert "$1" -crop "$(px 4875)x$(px 255)+$((CX + 2))+$((CY + 2))" \
    -colorspace Gray -format '%[fx:standard_deviation]' info:
}

# The layout check, with a screenshot while the receive runs.
layout_check() {  # url, key, code, then env assignments for the client
  local url=$1 key=$2 code=$3
  shift 3
  rm -f "$DIR_UNIX/layout.txt"
  start_client layout "$@" $W "$D\\tolvex_client.exe" dialog "$url" "$key" "$code" \
    "$DIR\\layout.txt" "$DPI"
  if window=$(dialog_window); then
    # The client shows the label's receive caption for three seconds.
    for _ in $(seq 200); do
      grep -q 'receive caption for the screenshot' "$WORK/layout.out" && break
      sleep 0.1
    done
    sleep 0.5
    client_origin "$window"
    import -window root "$ARTIFACTS/$PASS-dialog-$ARCH.png"
    local shown
    shown=$(label_deviation "$ARTIFACTS/$PASS-dialog-$ARCH.png")
    echo "    label's grey deviation: $shown"
    if awk -v s="$shown" 'BEGIN { exit !(s > 0.05) }'; then
      ok "the label is drawn in $PASS-dialog-$ARCH.png"
    else
      fail "the label is blank in $PASS-dialog-$ARCH.png"
    fi
  else
    fail "no dialog window"
  fi
  finish_client layout "the dialog's layout and captions at $DPI DPI"
}

if [ "$PASS" != plain ]; then register Tolvex.dll; fi
if [ "$PASS" = ja ]; then
  layout_check "$URL_ja_slower" "$JA_KEY" "$JA_CODE" LC_ALL="$JA_LOCALE"
  same_file "the receive for $JA_CODE" "$DIR_UNIX/layout.txt" "$DATA/outgoing/$JA_CODE.dat"
  exit $((FAILED > 125 ? 125 : FAILED))
fi
if [ "$PASS" = dpi144 ]; then
  layout_check "$URL_slower" KEY001 C001
  same_file "the receive at $DPI DPI" "$DIR_UNIX/layout.txt" "$DATA/outgoing/C001.dat"
  exit $((FAILED > 125 ? 125 : FAILED))
fi

echo "-- Cancel before the job starts"
register TolvexTestHooks.dll
start_client before-start TOLVEX_START_HOLD_MS=60000 \
  $W "$CS" //nologo 'C:\tolvex\cancel.vbs' "$URL_http" "$WORKDIR"
if window=$(dialog_window); then
  sleep 1
  import -window root "$ARTIFACTS/dialog-$ARCH.png"
  click_cancel "$window"
else
  fail "no dialog window"
fi
finish_client before-start "Cancel before the job: 99, empty ErrorMsg"
[ ! -e "$WORK_UNIX/cancelled.txt" ] && ok "no file touched by the cancelled call" ||
  fail "the cancelled call touched a file"

echo "-- the client's own form during the call"
# The native client owns a form covered by a button and starts a receive
# whose job never starts. The mouse goes over the form and clicks the
# button, Cancel ends the call, and the button is clicked once more.
start_client click $W "$D\\tolvex_client.exe" click "$URL_http" "$WORKDIR\\click.txt"
form=
if window=$(dialog_window); then
  form=$(xdotool search --onlyvisible --name '^Tolvex client form$' 2>/dev/null | head -1)
fi
if [ -n "$form" ]; then
  eval "$(xdotool getwindowgeometry --shell "$form")"
  FX=$((X + WIDTH / 2))
  FY=$((Y + HEIGHT / 2))
  xdotool mousemove --sync $FX $FY
  sleep 0.3
  xdotool mousemove --sync $((FX + 5)) $((FY + 5))
  sleep 0.5
  xdotool click 1
  sleep 0.5
  click_cancel "$window"
  sleep 1.5
  xdotool mousemove --sync $FX $FY click 1
else
  fail "no dialog or no client form"
fi
finish_client click "the client's form during the call: clicks do nothing, the pointer is the hourglass"
# Everything below runs on the shipped DLL.
register Tolvex.dll

echo "-- Cancel during the post"
rm -rf "$DIR_UNIX"
mkdir -p "$DIR_UNIX"
printf 'old orders\r\n' >"$DIR_UNIX/orders.txt"
printf 'progress\r\n' >"$DIR_UNIX/progress.txt"
seen=$(held_requests silent)
start_client cancel $W "$CS" //nologo 'C:\tolvex\post.js' cancel 0 "$URL_silent" "$URL_http" "$DIR"
if window=$(dialog_window); then
  wait_for_post silent "$seen" && click_cancel "$window"
else
  fail "no dialog window"
fi
finish_client cancel "Cancel during the receive, then a normal receive"
same_file "old file unchanged by the cancelled receive" "$DIR_UNIX/orders.txt" <(printf 'old orders\r\n')
same_file "receive after the cancelled one" "$DIR_UNIX/fresh.txt" "$DATA/outgoing/C001.dat"

echo "-- the close command during the post"
seen=$(held_requests silent)
start_client close $W "$CS" //nologo 'C:\tolvex\post.js' close 0 "$URL_silent" "$URL_http" "$DIR"
if dialog_window >/dev/null; then
  if wait_for_post silent "$seen"; then
    $W "$D\\send_close_command.exe" Tolvex || fail "close command not delivered"
  fi
else
  fail "no dialog window"
fi
finish_client close "close command during the send, then a normal send"

echo "-- repainting during a slow post"
# The dialog is covered by a plain window and uncovered again during the
# post; only a dialog whose thread keeps pumping draws its label again.
seen=$(held_requests slower)
start_client shown $W "$CS" //nologo 'C:\tolvex\post.js' shown 0 "$URL_slower" "$URL_http" "$DIR"
if window=$(dialog_window) && wait_for_post slower "$seen"; then
  # The post is on: the label must be drawn again while it runs.
  client_origin "$window"
  display -size "${WIDTH}x${HEIGHT}" -geometry "+${X}+${Y}" xc:gray50 2>/dev/null &
  cover=$!
  sleep 1
  import -window root "$WORK/covered.png"
  kill $cover
  wait $cover 2>/dev/null
  sleep 1
  import -window root "$ARTIFACTS/slow-post-$ARCH.png"
  covered=$(label_deviation "$WORK/covered.png")
  shown=$(label_deviation "$ARTIFACTS/slow-post-$ARCH.png")
  echo "    label's grey deviation: covered $covered, uncovered $shown"
  if awk -v c="$covered" -v s="$shown" 'BEGIN { exit !(c < 0.01 && s > 0.05) }'; then
    ok "the label was drawn again during the post (slow-post-$ARCH.png)"
  else
    fail "the label stayed blank during the post"
  fi
  # The control: with the dialog's process stopped, the same leaves the
  # label blank, so the check above does tell a dialog that cannot repaint.
  pid=$(xdotool getwindowpid "$window" 2>/dev/null)
  if [ -n "$pid" ] && kill -STOP "$pid"; then
    display -size "${WIDTH}x${HEIGHT}" -geometry "+${X}+${Y}" xc:gray50 2>/dev/null &
    cover=$!
    sleep 1
    kill $cover
    wait $cover 2>/dev/null
    sleep 0.5
    import -window root "$WORK/frozen.png"
    kill -CONT "$pid"
    frozen=$(label_deviation "$WORK/frozen.png")
    echo "    with the dialog's process stopped: $frozen"
    awk -v f="$frozen" 'BEGIN { exit !(f < 0.01) }' && ok "a dialog that cannot repaint fails the check" ||
      fail "the repaint check passes a stopped dialog"
  else
    fail "no process for the dialog's window"
  fi
else
  fail "no dialog window"
fi
finish_client shown "slow receive with the dialog shown"
same_file "slow receive's data" "$DIR_UNIX/slow.txt" "$DATA/outgoing/C001.dat"

echo "-- the layout at $DPI DPI"
layout_check "$URL_slower" KEY001 C001
same_file "the receive with the layout checked" "$DIR_UNIX/layout.txt" "$DATA/outgoing/C001.dat"

exit $((FAILED > 125 ? 125 : FAILED))
