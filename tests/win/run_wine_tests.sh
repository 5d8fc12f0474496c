#!/usr/bin/env bash
# Runs the cross-built Windows tests and a black-box check of Addrova.exe under Wine, on a
# virtual X display, in a fresh Wine prefix. Needs root (packages, network namespace).
#
#   tests/win/run_wine_tests.sh [BUILD_DIR] [--screenshots DIR]
#
# BUILD_DIR is the cross build (default /work/build-win). With --screenshots, pictures of
# the main window and the options dialog are saved in DIR as screenshot-wine-main.png and
# screenshot-wine-options.png, and at each scaled DPI as screenshot-wine-144dpi-main.png
# and so on. Exits non-zero when anything failed.
#
# After the run at 96 DPI the program is started again on a scaled display, at each DPI in
# ADDROVA_WINE_DPIS (default "144"; e.g. "120 144 192"): the layout tests at that DPI, and
# the main window wholly on screen at the bottom right.
set -uo pipefail
ROOT=$(cd "$(dirname "$(realpath "$0")")/../.." && pwd)
# shellcheck source=tests/support/wine_prefix.sh
. "$ROOT/tests/support/wine_prefix.sh"

build=/work/build-win
shots=""
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshots) shots=$(realpath -m "$2"); shift 2 ;;
    *) build=$(realpath "$1"); shift ;;
  esac
done

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
note() { echo "== $*"; }

# ---- tools ---------------------------------------------------------------------------

need=()
command -v wine >/dev/null || need+=(wine wine64)
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xclip >/dev/null || need+=(xclip)
command -v xdotool >/dev/null || need+=(xdotool)
command -v python3 >/dev/null || need+=(python3)
command -v ip >/dev/null || need+=(iproute2)
[ -f /usr/share/wine/fonts/tahoma.ttf ] || need+=(fonts-wine)
[ -d /usr/share/fonts/opentype/noto ] || need+=(fonts-noto-cjk)
[ -f /usr/share/i18n/locales/ja_JP ] || need+=(locales)
if [ -n "$shots" ] && ! [ -x /usr/bin/import ]; then need+=(imagemagick); fi
if [ ${#need[@]} -gt 0 ]; then
  note "installing ${need[*]}"
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
make_ja_locale
LANG=$(wine_lang)
export LANG
[ "$LANG" = ja_JP.UTF-8 ] || note "no Japanese locale: Wine runs with code page 1252"
unset LC_ALL LC_CTYPE

# ---- Wine prefix and display ---------------------------------------------------------

work=$(mktemp -d /tmp/addrova-wine.XXXXXX)
export WINEPREFIX=$work/prefix
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
export WINEDEBUG=-all
netns=""
echo_pid=""
xvfb_pid=""

cleanup() {
  wineserver -k 2>/dev/null
  [ -n "$netns" ] && ip netns exec "$netns" env WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null
  [ -n "$echo_pid" ] && kill "$echo_pid" 2>/dev/null
  if [ -n "$netns" ]; then
    ip netns del "$netns" 2>/dev/null
    rm -rf "/etc/netns/$netns"
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# take_screenshots WINDOW DPI SUFFIX: the main window, then the options dialog opened with
# the gear, into $shots/screenshot-wine${SUFFIX}-main.png and …-options.png.
take_screenshots() {
  local wid=$1 dpi=$2 suffix=$3 did border top
  mkdir -p "$shots"
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
    "$shots/screenshot-wine$suffix-main.png"
  # The gear's centre, at (380, 19) of the 402x39 client area at 96 DPI, inside the frame
  # Wine draws.
  border=$(((WIDTH - 402 * dpi / 96) / 2))
  top=$((HEIGHT - 39 * dpi / 96 - border))
  xdotool mousemove --window "$wid" $((border + 380 * dpi / 96)) $((top + 19 * dpi / 96)) click 1
  sleep 1.5
  did=$(xdotool search --name '^設定$' 2>/dev/null | head -1)
  if [ -n "$did" ]; then
    eval "$(xdotool getwindowgeometry --shell "$did")"
    xdotool mousemove 0 0
    sleep 0.3
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
      "$shots/screenshot-wine$suffix-options.png"
    echo "screenshots in $shots"
  else
    fail "the options dialog did not open"
  fi
}

# A free display number, at 24-bit depth (xvfb-run's default depth is 8).
for n in $(seq 90 140); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
done
screen_w=1280
screen_h=1024
Xvfb "$display" -screen 0 ${screen_w}x${screen_h}x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

note "creating the Wine prefix in $WINEPREFIX"
wine_prefix_setup env
wine_fonts=$(wine cmd /c dir /b 'C:\windows\Fonts' 2>/dev/null | tr -d '\r' | grep -ci 'tahoma')
[ "$wine_fonts" -ge 1 ] || fail "Tahoma is not in the prefix's font folder"
fc-list 2>/dev/null | grep 'Noto Sans CJK JP' >/dev/null || fail "Noto Sans CJK JP is not installed"

# ---- test executables ----------------------------------------------------------------

summary=()
for exe in "$build"/tests/win/*.exe; do
  [ -e "$exe" ] || { fail "no test executables in $build/tests/win"; break; }
  name=$(basename "$exe")
  note "running $name"
  (cd "$(dirname "$exe")" && timeout 600 wine "$exe" --gtest_color=no) >"$work/$name.log" 2>&1
  rc=$?
  grep -E '^\[  (FAILED|PASSED) +\]|^\[==========\]' "$work/$name.log" | sed "s/^/$name: /"
  grep -E '^\[  FAILED  \] .*\(' "$work/$name.log" | sed "s/^/$name: /"
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$work/$name.log")
  failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$work/$name.log")
  summary+=("$name: ${passed:-0} passed, ${failed:-0} failed")
  [ $rc -eq 0 ] || fail "$name exited with $rc"
done

# ---- files and settings under code page 1252 -----------------------------------------
# The same prefix with LANG=en_US.UTF-8, where Wine's ANSI code page is 1252 and the
# Japanese text of the tests lies outside it, as é does under 932.
en_locale() { locale -a 2>/dev/null | grep -qi '^en_US\.utf-\?8$'; }
en_locale || localedef -i en_US -f UTF-8 en_US.UTF-8 2>/dev/null || true
exe="$build/tests/win/win_backend_tests.exe"
if ! en_locale; then
  note "no en_US.UTF-8 locale: the code page 1252 run is left out"
elif [ -e "$exe" ]; then
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  note "running win_backend_tests.exe under code page 1252"
  filter='ProfileTest.*:SaveTextLine.*:SaveFolder.*:SettingsTest.SavedSettings*:SettingsTest.SavePath*'
  (cd "$(dirname "$exe")" && LANG=en_US.UTF-8 timeout 300 wine "$exe" --gtest_color=no \
    --gtest_filter="$filter") >"$work/cp1252.log" 2>&1
  rc=$?
  grep -E '^\[  (FAILED|PASSED) +\]|^\[==========\]' "$work/cp1252.log" | sed "s/^/cp1252: /"
  grep -E '^\[  FAILED  \] .*\(' "$work/cp1252.log" | sed "s/^/cp1252: /"
  passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$work/cp1252.log")
  failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$work/cp1252.log")
  summary+=("win_backend_tests.exe (code page 1252): ${passed:-0} passed, ${failed:-0} failed")
  [ $rc -eq 0 ] || fail "win_backend_tests.exe under code page 1252 exited with $rc"
fi
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null

# ---- black box in a network namespace ------------------------------------------------
# The address-echo hosts resolve to 127.0.0.1 inside the namespace, where a small server
# answers on port 80. Wine's server must start inside the namespace too: it creates the
# sockets of the program. So the prefix's server is stopped above and started afresh here.

exe="$build/Addrova.exe"
if [ ! -e "$exe" ]; then
  fail "no $exe"
else
  netns="addrova-wine-$$"
  ip netns add "$netns" || fail "cannot create a network namespace"
  ip -n "$netns" link set lo up
  mkdir -p "/etc/netns/$netns"
  host=$(hostname)
  printf '127.0.0.1 localhost checkip.dyndns.org checkip.dyndns.com %s\n' "$host" \
    >"/etc/netns/$netns/hosts"
  printf 'hosts: files\n' >"/etc/netns/$netns/nsswitch.conf"

  cat >"$work/echo.py" <<'PY'
import http.server, sys
page = b"<html><head><title>Current IP Check</title></head><body>Current IP Address: 127.0.0.1</body></html>"
class Echo(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with open(sys.argv[1], "a") as log:
            log.write(self.headers.get("Host", "") + self.path + "\n")
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)
    def log_message(self, *args):
        pass
http.server.HTTPServer(("127.0.0.1", 80), Echo).serve_forever()
PY
  ip netns exec "$netns" python3 "$work/echo.py" "$work/requests.log" &
  echo_pid=$!

  mkdir -p "$work/app"
  cp "$exe" "$work/app/Addrova.exe"
  out_unix="$work/out.txt"
  out_win="Z:${out_unix//\//\\}"
  printf '[SETTING]\r\nTIMER_SEC=1\r\nTIMER=1\r\nFILEPATH=%s\r\nFILESAVE=1\r\n' "$out_win" \
    >"$work/app/Addrova.ini"
  printf 'something else' | xclip -selection clipboard -i

  note "starting Addrova.exe in $netns"
  (cd "$work/app" && ip netns exec "$netns" env WINEPREFIX="$WINEPREFIX" wine Addrova.exe) \
    >"$work/addrova.log" 2>&1 &
  for _ in $(seq 60); do
    [ -s "$out_unix" ] && break
    sleep 0.5
  done
  sleep 3  # a few timer rounds
  if [ "$(od -An -c "$out_unix" 2>/dev/null | tr -s ' ')" = " 1 2 7 . 0 . 0 . 1 \r \n" ]; then
    echo "save file: 127.0.0.1\\r\\n"
  else
    fail "save file holds '$(od -An -c "$out_unix" 2>/dev/null)'"
  fi
  clip=$(timeout 5 xclip -selection clipboard -o 2>/dev/null)
  [ "$clip" = "127.0.0.1" ] && echo "clipboard: $clip" || fail "clipboard holds '$clip'"
  wid=$(xdotool search --name '^Addrova' 2>/dev/null | head -1)
  title=$(xdotool getwindowname "$wid" 2>/dev/null)
  [ "$title" = "Addrova : $host ( 127.0.0.1 )" ] && echo "title: $title" ||
    fail "window title is '$title'"
  requests=$(wc -l <"$work/requests.log" 2>/dev/null || echo 0)
  echo "requests seen by the echo server: $requests ($(sort -u "$work/requests.log" 2>/dev/null | tr '\n' ' '))"
  [ "$requests" -ge 2 ] || fail "the refresh timer made no second request"

  if [ -n "$shots" ] && [ -n "$wid" ]; then take_screenshots "$wid" 96 ""; fi

  # ---- scaled displays ---------------------------------------------------------------
  # Wine 8 takes the DPI from LogPixels in HKCU\Control Panel\Desktop, else from the
  # hardware profile's key; both are set. The server restarts to read it.
  in_ns() { ip netns exec "$netns" env WINEPREFIX="$WINEPREFIX" "$@"; }
  for dpi in ${ADDROVA_WINE_DPIS-144}; do
    in_ns wineserver -k 2>/dev/null
    in_ns wineserver -w 2>/dev/null
    for key in 'HKCU\Control Panel\Desktop' \
               'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
      in_ns wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    done
    in_ns wineserver -k 2>/dev/null
    in_ns wineserver -w 2>/dev/null
    note "at $dpi DPI: layout tests"
    log=$work/layout-$dpi.log
    (cd "$build/tests/win" && in_ns timeout 120 wine win_backend_tests.exe --gtest_color=no \
       --gtest_filter='Forms.*:Window.*') >"$log" 2>&1 || fail "layout tests at $dpi DPI"
    grep -E '^display:|^\[  (FAILED|PASSED) +\]' "$log" | sed "s/^/  /"
    grep -q "^display: $dpi DPI" "$log" || fail "the tests did not run at $dpi DPI"

    note "at $dpi DPI: Addrova.exe"
    (cd "$work/app" && in_ns wine Addrova.exe) >>"$work/addrova.log" 2>&1 &
    wid=""
    for _ in $(seq 60); do
      wid=$(xdotool search --name '^Addrova : .*127\.0\.0\.1' 2>/dev/null | head -1)
      [ -n "$wid" ] && break
      sleep 0.5
    done
    if [ -z "$wid" ]; then
      fail "no main window with the address at $dpi DPI"
      continue
    fi
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    echo "  main window: ${WIDTH}x${HEIGHT} at ($X, $Y) on a ${screen_w}x${screen_h} screen"
    [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -eq "$screen_w" ] &&
      [ $((Y + HEIGHT)) -eq "$screen_h" ] || fail "the main window is not at the bottom right"
    [ "$WIDTH" -ge $((402 * dpi / 96)) ] || fail "the main window is not scaled at $dpi DPI"
    if [ -n "$shots" ]; then take_screenshots "$wid" "$dpi" "-${dpi}dpi"; fi
  done
fi

echo
for line in "${summary[@]}"; do echo "$line"; done
if [ $failures -eq 0 ]; then
  echo "Wine tests: all passed"
else
  echo "Wine tests: $failures failure(s)"
fi
[ $failures -eq 0 ]
