#!/usr/bin/env bash
# Where the program's strip lands on a scaled display. The binary runs on a private Xvfb
# display in three set-ups:
#   1. GDK_SCALE=1 on a 1280x1024 screen;
#   2. GDK_SCALE=2 on a 2560x1600 screen (a 1280x800 logical screen);
#   3. GDK_SCALE=1 with Xft.dpi 144 (larger fonts) on a 1280x1024 screen.
# Each time the window must lie wholly on the screen with its bottom-right corner on the
# bottom-right corner of the work area (the whole screen: Xvfb runs no window manager),
# and the options dialog, opened with the gear button, must show centred on the screen.
#
#   tests/placement.sh PROGRAM [SHOT_DIR]
#
# With SHOT_DIR, a screenshot of the window in each set-up is written there. Needs Xvfb,
# xdotool, xwininfo and xrdb; without them it prints SKIP and exits 77. Exit 0 when every
# set-up passed, 1 otherwise.
set -u

PROG=${1:-}
SHOT_DIR=${2:-}
if [[ -z $PROG ]]; then
  echo "usage: $0 PROGRAM [SHOT_DIR]" >&2
  exit 2
fi
PROG=$(realpath "$PROG")
[[ -x $PROG ]] || { echo "FAIL: $PROG is not an executable"; exit 1; }
for tool in Xvfb xdotool xwininfo xrdb; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [[ -n $SHOT_DIR ]]; then
  command -v import >/dev/null || { echo "SKIP: import (ImageMagick) is not installed"; exit 77; }
  mkdir -p "$SHOT_DIR"
fi

WORK=$(mktemp -d /tmp/addrova-placement-XXXXXX)
XVFB_PID=
PROG_PID=
FAILURES=0
cleanup() {
  [[ -n $PROG_PID ]] && kill "$PROG_PID" 2>/dev/null && wait "$PROG_PID" 2>/dev/null
  [[ -n $XVFB_PID ]] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  PROG_PID=''
  XVFB_PID=''
}
trap 'cleanup; rm -rf "$WORK"' EXIT
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL: $*"
  FAILURES=$((FAILURES + 1))
}

# start_xvfb WxH: Xvfb on the first free display from :120; sets DISPLAY.
start_xvfb() {
  local n
  for ((n = 120; n < 220; n++)); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 "$1x24" -nolisten tcp >"$WORK/xvfb.out" 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 200); do
      xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.05
    done
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
  done
  XVFB_PID=
  return 1
}

# geometry ID: sets x, y, w and h to the window's place and size on the screen.
geometry() {
  eval "$(xwininfo -id "$1" | awk '
    /Absolute upper-left X:/ { print "x=" $NF }
    /Absolute upper-left Y:/ { print "y=" $NF }
    /Width:/ { print "w=" $NF }
    /Height:/ { print "h=" $NF }')"
}

# check NAME SCREEN SCALE [DPI]: runs the program and checks where its windows are.
check() {
  local name=$1 screen=$2 scale=$3 dpi=${4:-} id dialog x y w h sw sh
  if ! start_xvfb "$screen"; then
    fail "$name: Xvfb did not start"
    return
  fi
  [[ -n $dpi ]] && xrdb -merge <<<"Xft.dpi: $dpi"
  # A private home, so no settings or start-up entry of the user's are read.
  HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/config XDG_RUNTIME_DIR=$WORK \
    ASAN_OPTIONS=detect_leaks=0 GDK_SCALE=$scale "$PROG" >"$WORK/$name.out" 2>&1 &
  PROG_PID=$!
  id=$(timeout 20 xdotool search --sync --onlyvisible --name '^Addrova' 2>/dev/null | head -n1)
  if [[ -z $id ]]; then
    fail "$name: no window appeared"
    cleanup
    return
  fi
  sleep 1  # placed once shown: let the move land
  geometry "$id"
  read -r sw sh < <(xdotool getdisplaygeometry)
  echo "$name: window ${w}x${h} at $x,$y on a ${sw}x${sh} screen (GDK_SCALE=$scale${dpi:+, Xft.dpi $dpi})"
  ((x >= 0 && y >= 0 && x + w <= sw && y + h <= sh)) || fail "$name: the window is not wholly on the screen"
  ((x + w == sw && y + h == sh)) || fail "$name: the window does not touch the bottom-right corner"
  ((w == 402 * scale && h == 39 * scale)) || fail "$name: the window is ${w}x${h}, not $((402 * scale))x$((39 * scale))"
  [[ -n $SHOT_DIR ]] && import -window root -crop "${w}x${h}+${x}+${y}" "$SHOT_DIR/placement-$name.png"

  # The gear button sits at 364,4 (32x30) in the strip's client area.
  xdotool mousemove $((x + 380 * scale)) $((y + 19 * scale)) click 1
  dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^設定$' 2>/dev/null | head -n1)
  if [[ -z $dialog ]]; then
    fail "$name: the options dialog did not open"
  else
    sleep 0.5
    geometry "$dialog"
    echo "$name: dialog ${w}x${h} at $x,$y"
    ((x - (sw - w) / 2 <= 1 && (sw - w) / 2 - x <= 1 && y - (sh - h) / 2 <= 1 && (sh - h) / 2 - y <= 1)) ||
      fail "$name: the options dialog is not centred"
    [[ -n $SHOT_DIR ]] && import -window root -crop "${w}x${h}+${x}+${y}" "$SHOT_DIR/dialog-$name.png"
  fi
  cleanup
}

check scale1 1280x1024 1
check scale2 2560x1600 2
check dpi144 1280x1024 1 144

if ((FAILURES > 0)); then
  echo "$FAILURES check(s) failed"
  exit 1
fi
echo "all placement checks passed"
