#!/usr/bin/env bash
# The Windows program's start as a user sees it: under wine, on a virtual X display, with
# the real Windows platform. The main window and the splash (the About window) must appear;
# a screenshot is taken while both are up; then File > Exit, chosen with the mouse as a
# user would, must end the program.
#
#   scripts/wine-smoke.sh <kestrane-utility.exe> <log folder> <screenshot.png>
#
# Runs in the wine prefix of the environment (WINEPREFIX); stops the prefix's wine server
# first, because a server started before the display has no display to draw on. Prints
# "passed: ..." or "failed: ..." for each check.
set -euo pipefail
exe=$1
logs=$2
shot=$3
for tool in Xvfb xdotool xwd xwdtopnm pnmpaste pnmtopng; do
  command -v "$tool" >/dev/null || { echo "failed: no $tool on this machine"; exit 1; }
done
tmp=$(mktemp -d)
xvfb=
program=
cleanup() {
  [ -z "$program" ] || kill "$program" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

check() {
  local what=$1
  shift
  if "$@"; then echo "passed: $what"; else echo "failed: $what"; exit 1; fi
}

wineserver -k 2>/dev/null || true
exec 3>"$tmp/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$logs/xvfb.log" 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$tmp/display")
wineserver -p >>"$logs/wineserver.log" 2>&1

wine "$exe" >"$logs/wine-smoke-program.log" 2>&1 &
program=$!
main=$(timeout 90 xdotool search --sync --onlyvisible --name '^Kestrane Receiver Utility$' | head -n 1)
check "the main window appears" test -n "$main"
splash=$(timeout 30 xdotool search --sync --onlyvisible --name '^About$' | head -n 1)
check "the splash appears over it" test -n "$splash"
sleep 2 # the windows are drawn
# Wine keeps a window that stays on top (the splash) out of what the root window shows,
# so the picture is the screen with the splash pasted where it stands.
xwd -root -silent | xwdtopnm >"$tmp/screen.pnm" 2>/dev/null
xwd -id "$splash" -silent | xwdtopnm >"$tmp/splash.pnm" 2>/dev/null
eval "$(xdotool getwindowgeometry --shell "$splash")"
pnmpaste "$tmp/splash.pnm" "$X" "$Y" "$tmp/screen.pnm" 2>/dev/null | pnmtopng >"$tmp/shot.png" 2>/dev/null
check "a screenshot of both" test -s "$tmp/shot.png"
cp "$tmp/shot.png" "$shot"

# The splash goes after its six seconds; then File > Exit. The menu bar is the first line
# of the main window's client area, "File" its first entry, "Exit" the last item of it.
timeout 20 bash -c "while xdotool search --onlyvisible --name '^About$' >/dev/null; do sleep 0.5; done" || true
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove --sync $((X + 18)) $((Y + 10)) click 1
sleep 1
menu=$(xdotool search --onlyvisible --class '' 2>/dev/null | while read -r w; do
  eval "$(xdotool getwindowgeometry --shell "$w")"
  [ "$HEIGHT" -lt 200 ] && [ "$WIDTH" -lt 300 ] && echo "$w $X $Y $WIDTH $HEIGHT"
done | tail -n 1)
if [ -n "$menu" ]; then
  read -r _ mx my mw mh <<<"$menu"
  xdotool mousemove --sync $((mx + mw / 2)) $((my + mh - 10)) click 1
else
  xdotool key --clearmodifiers Up Return
fi
ended() {
  for _ in $(seq 100); do
    kill -0 "$program" 2>/dev/null || return 0
    sleep 0.2
  done
  return 1
}
check "File > Exit ends the program" ended
program=
