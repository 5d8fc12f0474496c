#!/usr/bin/env bash
# Builds Addrova and starts it. Without a display it runs under a virtual X server, waits
# for the first lookup, prints the window title and the clipboard, saves a screenshot to
# addrova-screenshot.png and stops. Every wait there has a limit, and ends with a message
# (and the program's output) when it runs out or the program ends first.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/packages.sh
. "$ROOT/scripts/packages.sh"
install_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}"
BUILD=${BUILD_DIR:-$ROOT/build/release}
# Every option this build relies on is given, so a folder configured earlier by hand or by
# another script is brought back to a plain release build. Warnings never stop it.
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DADDROVA_TESTS=OFF -DADDROVA_SANITIZE= \
      -DCMAKE_COMPILE_WARNING_AS_ERROR=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" >/dev/null
if [ -n "${DISPLAY:-}" ]; then exec "$BUILD/Addrova"; fi

start_xvfb
LOG=$(mktemp /tmp/addrova-run-XXXXXX)
"$BUILD/Addrova" >"$LOG" 2>&1 &
APP=$!
trap 'kill $APP $XVFB_PID 2>/dev/null || true; rm -f "$LOG"' EXIT
# give_up WHAT SECONDS: says that WHAT did not happen within SECONDS, or that the program
# ended first, shows the program's output and exits 1.
give_up() {
  if kill -0 "$APP" 2>/dev/null; then
    echo "$1 within $2 s" >&2
  else
    wait "$APP" && status=0 || status=$?
    echo "$1: Addrova ended (exit status $status)" >&2
  fi
  echo "Addrova's output:" >&2
  cat "$LOG" >&2
  exit 1
}
# poll SECONDS COMMAND…: runs COMMAND every 0.1 s until it prints something; that is
# printed. Fails when SECONDS have passed or the program has ended.
poll() {
  local end=$((SECONDS + $1)) out
  shift
  while ((SECONDS < end)) && kill -0 "$APP" 2>/dev/null; do
    out=$(timeout 5 "$@" 2>/dev/null || true)
    [ -n "$out" ] && echo "$out" && return 0
    sleep 0.1
  done
  return 1
}
id=$(poll 30 xdotool search --onlyvisible --limit 1 --pid "$APP" --name '^Addrova') ||
  give_up "no Addrova window appeared" 30
# The first lookup is done when the clipboard holds its text (an address or the error
# text); without internet access that takes until both downloads have timed out (30 s
# each at most).
text=$(poll 75 xclip -selection clipboard -o) || give_up "no lookup finished" 75
sleep 0.3
echo "title:     $(timeout 5 xdotool getwindowname "$id")"
echo "clipboard: $text"
eval "$(timeout 5 xdotool getwindowgeometry --shell "$id")"
timeout 30 import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$ROOT/addrova-screenshot.png"
echo "screenshot: $ROOT/addrova-screenshot.png"
if [ -s "$LOG" ]; then echo "Addrova's output:" && cat "$LOG"; fi
