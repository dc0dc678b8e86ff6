#!/usr/bin/env bash
# The real dialog, 32-bit, on an X display without a window manager: run by
# run.sh inside xvfb-run. Expects the x86 DLLs in C:\tolvex\x86 of
# $WINEPREFIX and these variables: WINE, WORK, ARTIFACTS, DATA, C (the
# prefix's drive_c), URL_http, URL_silent (never answers), URL_slower
# (trickles its reply over several seconds).
#  1. Cancel before the job starts (TolvexTestHooks.dll holds the start);
#     a click on the native client's own form during the call does nothing.
#  2. Cancel during a receive's post, then a normal receive.
#  3. The close command during a send's post, then a normal send.
#  4. The dialog repaints during a slow post: covered and uncovered, the
#     label is drawn again; screenshot in $ARTIFACTS/slow-post.png.
# Prints ok/FAIL lines; exits with the number of failures.
set -uo pipefail

FAILED=0
ok() { echo "ok   $*"; }
fail() {
  echo "FAIL $*"
  FAILED=$((FAILED + 1))
}
same_file() {  # what, got, want
  if cmp -s "$2" "$3"; then ok "$1"; else fail "$1"; fi
}

SYS='C:\windows\syswow64'
X86='C:\tolvex\x86'
DIR_UNIX=$C/work-x86/dialog
DIR='C:\work-x86\dialog'

register() { $WINE "$SYS\\regsvr32.exe" /s "$X86\\$1" && ok "regsvr32 $1" || fail "regsvr32 $1"; }

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

# Geometry of the dialog's client area at 96 dpi: it sits at the bottom
# right of the X window. Sets CX, CY (its top left corner).
client_origin() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  CX=$((X + WIDTH - 5805 * 96 / 1440))
  CY=$((Y + HEIGHT - 720 * 96 / 1440))
}

# Presses Cancel: the middle of the button is 5347 by 172 twips into the
# client area.
click_cancel() {
  client_origin "$1"
  xdotool mousemove --sync $((CX + 5347 * 96 / 1440)) $((CY + 172 * 96 / 1440))
  xdotool click 1
}

CLIENT=
# A script client in the background, its output in $WORK/NAME.out.
start_client() {  # name, env assignments..., then cscript arguments
  local name=$1
  shift
  env "$@" >"$WORK/$name.out" 2>&1 &
  CLIENT=$!
}
# Waits up to 60 s for the client; a script passes when it reports
# "all passed" with a zero status.
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
  if [ $status -eq 0 ] && grep -q 'all passed\|^ok ' "$WORK/$1.out"; then ok "$2"; else fail "$2 (exit $status)"; fi
}
CS="$SYS\\cscript.exe"

echo "-- Cancel before the job starts"
register TolvexTestHooks.dll
start_client before-start TOLVEX_START_HOLD_MS=60000 \
  $WINE "$CS" //nologo 'C:\tolvex\cancel.vbs' "$URL_http" 'C:\work-x86'
if window=$(dialog_window); then
  sleep 1
  import -window root "$ARTIFACTS/dialog.png"
  click_cancel "$window"
else
  fail "no dialog window"
fi
finish_client before-start "Cancel before the job: 99, empty ErrorMsg"
[ ! -e "$C/work-x86/cancelled.txt" ] && ok "no file touched by the cancelled call" ||
  fail "the cancelled call touched a file"

echo "-- the client's own form during the call"
# The native client owns a form covered by a button and starts a receive
# whose job never starts. The mouse goes over the form and clicks the
# button, Cancel ends the call, and the button is clicked once more.
start_client click $WINE "$X86\\tolvex_client.exe" click "$URL_http" 'C:\work-x86\click.txt'
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
start_client cancel $WINE "$CS" //nologo 'C:\tolvex\post.js' cancel 0 "$URL_silent" "$URL_http" "$DIR"
if window=$(dialog_window); then
  sleep 1.5
  click_cancel "$window"
else
  fail "no dialog window"
fi
finish_client cancel "Cancel during the receive, then a normal receive"
same_file "old file unchanged by the cancelled receive" "$DIR_UNIX/orders.txt" <(printf 'old orders\r\n')
same_file "receive after the cancelled one" "$DIR_UNIX/fresh.txt" "$DATA/outgoing/C001.dat"

echo "-- the close command during the post"
start_client close $WINE "$CS" //nologo 'C:\tolvex\post.js' close 0 "$URL_silent" "$URL_http" "$DIR"
if dialog_window >/dev/null; then
  sleep 1.5
  $WINE "$X86\\send_close_command.exe" Tolvex || fail "close command not delivered"
else
  fail "no dialog window"
fi
finish_client close "close command during the send, then a normal send"

echo "-- repainting during a slow post"
# The dialog is covered by a plain window and uncovered again during the
# post; only a dialog whose thread keeps pumping draws its label again.
label_deviation() {  # image; the label: 30,30 twips, 4875 by 255
  convert "$1" -crop "$((4875 * 96 / 1440))x$((255 * 96 / 1440))+$((CX + 2))+$((CY + 2))" \
    -colorspace Gray -format '%[fx:standard_deviation]' info:
}
start_client shown $WINE "$CS" //nologo 'C:\tolvex\post.js' shown 0 "$URL_slower" "$URL_http" "$DIR"
if window=$(dialog_window); then
  sleep 1.5
  client_origin "$window"
  display -size "${WIDTH}x${HEIGHT}" -geometry "+${X}+${Y}" xc:gray50 2>/dev/null &
  cover=$!
  sleep 1
  import -window root "$WORK/covered.png"
  kill $cover
  wait $cover 2>/dev/null
  sleep 1
  import -window root "$ARTIFACTS/slow-post.png"
  covered=$(label_deviation "$WORK/covered.png")
  shown=$(label_deviation "$ARTIFACTS/slow-post.png")
  echo "    label's grey deviation: covered $covered, uncovered $shown"
  if awk -v c="$covered" -v s="$shown" 'BEGIN { exit !(c < 0.01 && s > 0.05) }'; then
    ok "the label was drawn again during the post (slow-post.png)"
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

exit $FAILED
