#!/usr/bin/env bash
# Addrova.exe under Wine, black-box, in a network namespace whose hosts file sends both
# endpoint hosts and this machine's name to 127.0.0.1, where echo_server answers on port
# 80; Addrova.ini beside it asks for the file output and a refresh every second.
#   addrova_wine.sh STATE_DIR WIN_BUILD ECHO_SERVER HOST_A HOST_B [LOOKUPS]
# Checks the saved file's bytes, the clipboard, the title and a second lookup, that a
# redirect from a public origin outside the namespace into it is never asked for, and that
# two copies at once each get their own answer; with
# ADDROVA_SCREENSHOTS=DIR, pictures of the main window and the options dialog go there.
# Then at each DPI in ADDROVA_WINE_DPIS (e.g. "120 144"): the window placed and scaled.
# With LOOKUPS, a soak at interval 0: after the first and the last lookup the process's
# handles, GDI and USER objects (win_handles.exe) and its Linux descriptors and VmRSS;
# handles end = start ± 2, GDI and USER ± 1, descriptors ± 1, VmRSS growth < 2048 kB; B is
# never asked; closed through WM_DELETE_WINDOW, it ends with status 0 within 30 s.
# Exit 77 (skipped) without root, `ip netns` or a tool, 1 then under CI=true.
set -u
state=$1 build=$2 ECHO_SERVER=$3 lookups=${6:-}
. "$(dirname "$0")/../support/netns.sh"
. "$(dirname "$0")/../support/wine_prefix.sh"
[[ ${CI:-} == true ]] && skip() { echo "FAIL: $1"; exit 1; }
need_netns wine xdotool xclip Xvfb
WORK=$(mktemp -d /tmp/addrova-wine-XXXXXX)
PUB_NS=addrova-pub-$$  # the public origin's namespace, made by redirect_from_public
trap 'netns_cleanup; ip netns delete "$PUB_NS" 2>/dev/null; rm -rf "$WORK"' EXIT
wine_env "$state/ns-prefix"
wine_prefix_once || { echo "FAIL: no Wine prefix: $(tail -3 "$WINEPREFIX.log")"; exit 1; }
netns_create "addrova-wine-$$" || skip "cannot create a network namespace"
printf '127.0.0.1 localhost %s %s %s\n' "$4" "$5" "$HOST" >"/etc/netns/$NS/hosts"
printf 'hosts: files\n' >"/etc/netns/$NS/nsswitch.conf"
start_echo_server || { echo "FAIL: echo_server did not start"; exit 1; }
DISPLAY_NUM=${DISPLAY:-} && DISPLAY_NUM=${DISPLAY_NUM#:} && DISPLAY_NUM=${DISPLAY_NUM%.*}
[[ -n $DISPLAY_NUM ]] || start_ns_xvfb || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=:$DISPLAY_NUM

mkdir "$WORK/app" && cp "$build/Addrova.exe" "$WORK/app/"
printf '[SETTING]\r\nTIMER=1\r\nTIMER_SEC=%s\r\nFILESAVE=1\r\nFILEPATH=Z:%s\\out.txt\r\n' \
  "$([[ -n $lookups ]] && echo 0 || echo 1)" "${WORK//\//\\}" >"$WORK/app/Addrova.ini"
printf 'something else' | on_display xclip -selection clipboard -i
bg_in_ns bash -c 'cd "$1" && exec wine Addrova.exe' _ "$WORK/app" >"$WORK/program.log" 2>&1 &
PROG_PID=$!
PIDS+=("$PROG_PID")
# One win_handles.exe for the whole soak, asked for each sample through its standard input.
[[ -n $lookups ]] && coproc H { in_ns wine "$build/tests/win/win_handles.exe" --stdin Addrova.exe 2>/dev/null; }
await_lookups 1 60 || exit 1
sample() { # handles GDI USER descriptors VmRSS, each figure Wine gives first
  local l k c p=
  for k in $(ip netns pids "$NS"); do
    c=$(tr '\0' ' ' <"/proc/$k/cmdline")
    [[ $(readlink "/proc/$k/exe") == *wine* && $c == *Addrova.exe* && $c != *win_handles* ]] && p=$k
  done
  echo >&"${H[1]}" && IFS= read -r -t 60 l <&"${H[0]}" && l=" ${l%$'\r'}"
  for k in 'handles|handles_listed' 'gdi|gdi_table' 'user|windows'; do
    [[ $l =~ \ (${k%|*}=[0-9]+|${k#*|}=[0-9]+) ]] && echo -n "${BASH_REMATCH[1]#*=} " || echo -n "na "
  done
  echo "$(open_fds "$p") $(proc_status "$p" VmRSS)"
}
judge() { # NAME START END TOLERANCE
  echo "$1: $2 -> $3"
  [[ $2 == na || $3 == na ]] || (($3 - $2 <= $4 && $2 - $3 <= $4)) || fail "$1 went from $2 to $3 (± $4)"
}
if [[ -n $lookups ]]; then
  sleep 0.5 && read -r h0 g0 u0 f0 r0 < <(sample)
  [[ $(clipboard) == 127.0.0.1 ]] || fail "after the first lookup the clipboard holds '$(clipboard)'"
fi
await_lookups "${lookups:-2}" 30 || fail "only $(lookups_done) lookups"
wait_for 10 test -s "$WORK/out.txt"
cmp -s "$WORK/out.txt" <(printf '127.0.0.1\r\n') || fail "the save file holds $(od -An -c "$WORK/out.txt")"
[[ $(clipboard) == 127.0.0.1 ]] || fail "the clipboard holds '$(clipboard)'"
wid=$(window_id)
title=$(on_display xdotool getwindowname "$wid")
[[ $title == "Addrova : $HOST ( 127.0.0.1 )" ]] || fail "the window title is '$title'"
echo "$(lookups_done) lookups; save file, clipboard and title: 127.0.0.1"
if [[ -n $lookups ]]; then
  sleep 0.5 && read -r h1 g1 u1 f1 r1 < <(sample)
  judge handles "$h0" "$h1" 2
  judge "GDI objects" "$g0" "$g1" 1
  judge "USER objects" "$u0" "$u1" 1
  judge "Linux descriptors" "$f0" "$f1" 1
  echo "VmRSS: $r0 -> $r1 kB"
  ((${r1:-0} - ${r0:-0} < 2048 && r0 > 0)) || fail "VmRSS grew by $((${r1:-0} - ${r0:-0})) kB (bound 2048)"
  (($(requests_for "$TARGET_B") == 0)) || fail "endpoint B was asked: endpoint A failed"
  on_display "$(dirname "$ECHO_SERVER")/close_window" "$wid"
  wait_for 30 bash -c "! kill -0 $PROG_PID 2>/dev/null" || fail "still running 30 s after WM_DELETE_WINDOW"
  wait "$PROG_PID" && echo "closed through WM_DELETE_WINDOW: status 0" || fail "exit status $? after WM_DELETE_WINDOW"
  exit $((FAILURES > 0))
fi
# Redirects from an origin outside this machine, on a public address (a second namespace
# behind a veth pair: 198.51.100.1 there, 198.51.100.254 here), into this machine: the
# contract test that needs such an origin, sent once to echo_server on 127.0.0.1:80, whose
# log must show no request for it, and once to a port that counts what reaches it, which
# must see no connection and no byte.
redirect_from_public() {
  local pub=$PUB_NS target
  ip netns add "$pub" || { fail "cannot create a second namespace"; return; }
  ip link add "ve-a$$" netns "$NS" type veth peer name "ve-b$$" netns "$pub" &&
    in_ns ip addr add 198.51.100.254/24 dev "ve-a$$" && in_ns ip link set "ve-a$$" up &&
    ip netns exec "$pub" ip addr add 198.51.100.1/24 dev "ve-b$$" &&
    ip netns exec "$pub" ip link set "ve-b$$" up || { fail "no veth pair"; ip netns delete "$pub"; return; }
  ip netns exec "$pub" "$ECHO_SERVER" --port 80 --bind 198.51.100.1 --ready-file "$WORK/pub.ready" \
    --log "$WORK/pub.log" >"$WORK/pub.out" 2>&1 &
  local pub_pid=$!
  bg_in_ns "$(dirname "$ECHO_SERVER")/counting_port" "$WORK/counter.port" "$WORK/counter.seen" &
  PIDS+=($!)
  if wait_for 5 test -s "$WORK/pub.ready" && wait_for 5 test -s "$WORK/counter.port"; then
    : >"$WORK/counter.log"
    for target in "127.0.0.1:80 requests.log" "127.0.0.1:$(cat "$WORK/counter.port") counter.log"; do
      in_ns env ADDROVA_PUBLIC_SERVER=198.51.100.1:80 ADDROVA_TEST_SERVER="${target% *}" \
        ADDROVA_TEST_SERVER_LOG="Z:${WORK//\//\\}\\${target#* }" wine "$build/tests/win/contract_tests.exe" \
        --gtest_filter=ContractDownload.RedirectFromAPublicOriginIntoThisMachineIsNeverAskedFor \
        >"$WORK/contract.out" 2>&1 </dev/null
      grep -q '^\[  PASSED  \] 1 test' "$WORK/contract.out" ||
        fail "redirects from a public origin to ${target% *}: $(grep -E 'Failure|Expected|Which|was asked|SKIPPED' "$WORK/contract.out" | head -8)"
    done
    echo "redirects from 198.51.100.1 into this machine: $(grep -c ' GET /location/' "$WORK/pub.log") refused," \
      "the counting port saw $(cut -d' ' -f1 "$WORK/counter.seen") connections and $(cut -d' ' -f2 "$WORK/counter.seen") bytes"
    [[ $(cat "$WORK/counter.seen") == "0 0" ]] || fail "the local port was reached: $(cat "$WORK/counter.seen") (connections bytes)"
    (($(grep -c ' GET /location/' "$WORK/pub.log") == 4)) || fail "the public origin was asked $(grep -c ' GET /location/' "$WORK/pub.log") times, not 4"
    (($(grep -c ' GET /echo/192.0.2.81/' "$WORK/requests.log") == 0)) || fail "echo_server on 127.0.0.1 was asked"
  else
    fail "the public origin or the counting port did not start: $(cat "$WORK/pub.out")"
  fi
  kill "$pub_pid" 2>/dev/null && wait "$pub_pid" 2>/dev/null
  ip netns delete "$pub"
}
redirect_from_public
# shots WINDOW DPI SUFFIX: with ADDROVA_SCREENSHOTS, the main window and the options dialog,
# opened through the gear at (380, 19) of the 402x39 client area at 96 DPI, inside Wine's frame.
shots() {
  [[ -n ${ADDROVA_SCREENSHOTS:-} ]] || return 0
  local b did
  shot() {
    eval "$(on_display xdotool getwindowgeometry --shell "$1")"
    on_display import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$ADDROVA_SCREENSHOTS/screenshot-wine$3-$2.png"
  }
  mkdir -p "$ADDROVA_SCREENSHOTS" && shot "$1" main "$3"
  b=$(((WIDTH - 402 * $2 / 96) / 2))
  on_display xdotool mousemove --window "$1" $((b + 380 * $2 / 96)) $((HEIGHT - b - 20 * $2 / 96)) click 1
  sleep 1.5 && did=$(on_display xdotool search --name '^設定$' | head -1)
  [[ -n $did ]] && on_display xdotool mousemove 0 0 && sleep 0.3 && shot "$did" options "$3" || fail "no options dialog"
}
shots "$wid" 96 ""
# Two more copies at once, each saving every lookup to a file of its own, against a server
# that numbers its answers and sends them on the second, so that replies arrive together:
# every address is one request's, and one that shows up in both files was read from the
# other copy's download.
two_copies() {
  local i n line pids=() n1 n2 both
  start_echo_server --mode counting --delay 1000 || { fail "echo_server did not restart"; return; }
  for i in 1 2; do
    mkdir "$WORK/copy$i" && cp "$build/Addrova.exe" "$WORK/copy$i/"
    printf '[SETTING]\r\nTIMER=1\r\nTIMER_SEC=0\r\nFILESAVE=1\r\nFILEPATH=Z:%s\\copy%s.txt\r\n' \
      "${WORK//\//\\}" "$i" >"$WORK/copy$i/Addrova.ini"
    bg_in_ns bash -c 'cd "$1" && exec wine Addrova.exe' _ "$WORK/copy$i" >>"$WORK/program.log" 2>&1 &
    pids+=($!)
  done
  PIDS+=("${pids[@]}")
  for ((i = 0; i < 600; i++)); do  # some 15 s of samples
    for n in 1 2; do
      { read -r line <"$WORK/copy$n.txt"; } 2>/dev/null && echo "${line%$'\r'}" >>"$WORK/seen$n"
    done
    sleep 0.02
  done
  kill "${pids[@]}" 2>/dev/null
  n1=$(sort -u "$WORK/seen1" 2>/dev/null | grep -c .) n2=$(sort -u "$WORK/seen2" 2>/dev/null | grep -c .)
  both=$(comm -12 <(sort -u "$WORK/seen1" 2>/dev/null) <(sort -u "$WORK/seen2" 2>/dev/null) | tr '\n' ' ')
  echo "two copies at once: $n1 and $n2 addresses seen, ${both:-none} in both"
  ((n1 >= 5 && n2 >= 5)) || fail "too few lookups of the two copies: $n1 and $n2"
  [[ -z $both ]] || fail "both copies showed $both: one read the other's answer"
  start_echo_server || fail "echo_server did not restart"
}
two_copies
# Again on each scaled display of ADDROVA_WINE_DPIS, in a prefix made at that DPI: the main
# window wholly on screen at the bottom right, at its scaled size.
read -r sw sh < <(on_display xdotool getdisplaygeometry)
for dpi in ${ADDROVA_WINE_DPIS:-}; do
  wineserver -k
  export ADDROVA_WINE_DPI=$dpi && wine_env "$state/ns-prefix-$dpi"
  wine_prefix_once || { fail "no Wine prefix at $dpi DPI"; continue; }
  bg_in_ns bash -c 'cd "$1" && exec wine Addrova.exe' _ "$WORK/app" >>"$WORK/program.log" 2>&1 &
  PIDS+=($!)
  wait_for 60 bash -c "DISPLAY=:$DISPLAY_NUM xdotool search --name '^Addrova : .*127\.0\.0\.1' >/dev/null" &&
    sleep 0.5 && wid=$(on_display xdotool search --name '^Addrova : .*127\.0\.0\.1' | head -1) ||
    { fail "no main window with the address at $dpi DPI"; continue; }
  eval "$(on_display xdotool getwindowgeometry --shell "$wid")"
  echo "at $dpi DPI: main window ${WIDTH}x$HEIGHT at ($X, $Y) on a ${sw}x$sh screen"
  ((X >= 0 && Y >= 0 && X + WIDTH == sw && Y + HEIGHT == sh)) || fail "not at the bottom right at $dpi DPI"
  ((WIDTH >= 402 * dpi / 96)) || fail "the main window is not scaled at $dpi DPI"
  shots "$wid" "$dpi" "-${dpi}dpi"
done
((FAILURES == 0))
