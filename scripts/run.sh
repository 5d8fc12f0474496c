#!/usr/bin/env bash
# Builds Addrova and starts it. Without a display it runs under a virtual X server, waits
# for the first lookup, prints the window title and the clipboard, saves a screenshot to
# addrova-screenshot.png and stops.
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
"$BUILD/Addrova" &
APP=$!
trap 'kill $APP $XVFB_PID 2>/dev/null || true' EXIT
# The first lookup is done when the clipboard holds its text (an address or the error
# text); without internet access that takes until the download times out.
text=""
for _ in $(seq 450); do
  text=$(xclip -selection clipboard -o 2>/dev/null || true)
  [ -n "$text" ] && break
  sleep 0.1
done
sleep 0.3
id=$(xdotool search --sync --onlyvisible --limit 1 --pid "$APP" --name '^Addrova' 2>/dev/null | head -1)
echo "title:     $(xdotool getwindowname "$id")"
echo "clipboard: ${text:-(empty)}"
eval "$(xdotool getwindowgeometry --shell "$id")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$ROOT/addrova-screenshot.png"
echo "screenshot: $ROOT/addrova-screenshot.png"
