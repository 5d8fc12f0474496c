#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2317 # scripts in single quotes for bash -c; trap handlers
# lookup_bench.sh BUILD_DIR — speed and memory of the program against a loopback server.
#
# BUILD_DIR is a build of the project with the bench targets (lookup_driver, bare_window,
# clip_watch) and tests/echo_server. Everything runs in a private network namespace whose
# hosts file sends both address-echo host names and this machine's name to 127.0.0.1,
# where echo_server answers on port 80, on a private Xvfb display. Needs root, `ip netns`,
# Xvfb, xclip and curl. Prints three figures, each beside its reference:
#
# (a) request → clipboard: median over LOOKUPS (default 50) clicks of the fetch button in
#     lookup_driver (the program's own windows and worker), from the click to the moment
#     the worker's hand-off has put the address in the box and on the clipboard.
#     Reference: median whole-process time of `curl -s URL >/dev/null` fetching endpoint
#     A's URL, LOOKUPS runs. Goal: ratio ≤ 0.5.
# (b) exec → address on the clipboard: median over RUNS (default 10) starts of the real
#     binary, from just before its exec to the moment the clipboard gets its new owner
#     (clip_watch, through the XFIXES extension; the text is then checked with xclip).
#     Reference: median time from exec of bare_window (a plain GTK window) to the end of
#     its first draw. Goal: ratio ≤ 1.5.
# (c) peak resident memory (VmHWM) of the real binary, read 300 ms after its first address
#     reached the clipboard, median over the same RUNS. Reference: bare_window's VmHWM,
#     read 300 ms after its first draw. Goal: ratio ≤ 1.1.
#
# For (b) and (c) it also prints the same figures for bare_window --label, a bare window
# with one line of text: a window without text never loads fonts, which the program must.
#
# Exits 0 after printing, whether the goals were met or not; 77 when it cannot run.
set -u

BUILD=${1:-}
if [[ -z $BUILD ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
BUILD=$(realpath "$BUILD")
PROG=$BUILD/Addrova
ECHO_SERVER=$BUILD/tests/echo_server
DRIVER=$BUILD/bench/lookup_driver
BARE=$BUILD/bench/bare_window
WATCH=$BUILD/bench/clip_watch
LOOKUPS=${LOOKUPS:-50}
RUNS=${RUNS:-10}
URL_A='http://checkip.dyndns.org/Current%20IP%20Check.htm'

ROOT=$(cd "$(dirname "$(realpath "$0")")/.." && pwd)
# shellcheck source=tests/support/netns.sh
. "$ROOT/tests/support/netns.sh"

need_netns Xvfb xclip curl
for f in "$PROG" "$ECHO_SERVER" "$DRIVER" "$BARE" "$WATCH"; do
  [[ -x $f ]] || skip "$f is missing (build the bench targets)"
done

WORK=$(mktemp -d /tmp/addrova-bench-XXXXXX)
trap 'netns_cleanup; rm -rf "$WORK"' EXIT
trap 'exit 1' INT TERM HUP

verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r != "nan" && r <= g) ? "meets the goal" : "MISSES the goal" }'; }

# ---- setup -------------------------------------------------------------------------------

netns_create "addrova-bench-$$-$RANDOM" || skip "cannot create a network namespace"
# Private copies, so that no Addrova.ini beside the build's binaries changes the behaviour.
mkdir -p "$WORK/app"
cp "$PROG" "$WORK/app/Addrova"
cp "$DRIVER" "$WORK/app/lookup_driver"
PROG=$WORK/app/Addrova
DRIVER=$WORK/app/lookup_driver

start_echo_server --mode echo || { echo "echo_server did not start: $(cat "$WORK/echo_server.out")"; exit 1; }
start_ns_xvfb || { echo "Xvfb did not start: $(cat "$WORK/xvfb.out")"; exit 1; }
echo "namespace $NS, display :$DISPLAY_NUM, $(nproc) CPUs, LOOKUPS=$LOOKUPS RUNS=$RUNS"

# ---- (a) request → clipboard ----------------------------------------------------------

on_display "$DRIVER" "$LOOKUPS" >"$WORK/driver.out" 2>&1 ||
  { echo "lookup_driver failed: $(cat "$WORK/driver.out")"; exit 1; }
lookup_ms=$(sed -n 's/^median_ms=//p' "$WORK/driver.out")

in_ns bash -c '
  for ((i = 0; i < $1; i++)); do
    s=$EPOCHREALTIME
    curl -s "$2" >/dev/null
    e=$EPOCHREALTIME
    echo "$s $e"
  done' _ "$LOOKUPS" "$URL_A" >"$WORK/curl.times"
curl_ms=$(awk '{ printf "%.3f\n", ($2 - $1) * 1000 }' "$WORK/curl.times" | median)
curl_ok=$(in_ns curl -s "$URL_A")
[[ $curl_ok == *"Current IP Address: 127.0.0.1"* ]] || echo "warning: curl got '$curl_ok'"

# ---- (b) and (c): start-up and memory --------------------------------------------------

# One start of the program: prints "<ms from exec to clipboard> <VmHWM kB>".
program_run() {
  rm -f "$WORK/watch.out" "$WORK/t0"
  bg_in_ns env DISPLAY=":$DISPLAY_NUM" "$WATCH" 20 >"$WORK/watch.out" 2>&1 &
  local watch_pid=$!
  wait_for 5 grep -qs ready "$WORK/watch.out" || { echo "clip_watch did not start" >&2; return 1; }
  bg_in_ns env DISPLAY=":$DISPLAY_NUM" bash -c 'echo "$EPOCHREALTIME" >"$1"; exec "$2"' _ \
    "$WORK/t0" "$PROG" >"$WORK/program.out" 2>&1 &
  local prog_pid=$!
  wait "$watch_pid"
  local t_clip
  t_clip=$(sed -n '2p' "$WORK/watch.out")
  sleep 0.3
  local hwm
  hwm=$(proc_status "$prog_pid" VmHWM)
  local clip
  clip=$(clipboard)
  kill "$prog_pid" 2>/dev/null
  wait "$prog_pid" 2>/dev/null
  if [[ -z $t_clip || $clip != 127.0.0.1 ]]; then
    echo "program run failed: clipboard '$clip'; $(cat "$WORK/program.out")" >&2
    return 1
  fi
  awk -v a="$(cat "$WORK/t0")" -v b="$t_clip" -v m="$hwm" 'BEGIN { printf "%.3f %s\n", (b - a) * 1000, m }'
}

# One start of the bare window (arguments passed on): prints
# "<ms exec → drawn> <ms exec → mapped> <VmHWM kB>".
bare_run() {
  local out
  out=$(on_display bash -c 'echo "$EPOCHREALTIME" >"$1"; exec "${@:2}"' _ "$WORK/t0" "$BARE" "$@") ||
    return 1
  local t0
  t0=$(cat "$WORK/t0")
  awk -v t0="$t0" -v line="$out" 'BEGIN {
    n = split(line, kv, " ")
    for (i = 1; i <= n; i++) { split(kv[i], p, "="); v[p[1]] = p[2] }
    printf "%.3f %.3f %s\n", (v["drawn"] - t0) * 1000, (v["mapped"] - t0) * 1000, v["vmhwm_kb"]
  }'
}

# A first start of each, not counted, so that both find the files in the page cache.
program_run >/dev/null || exit 1
bare_run >/dev/null || exit 1
bare_run --label >/dev/null || exit 1
: >"$WORK/program.runs"
: >"$WORK/bare.runs"
: >"$WORK/label.runs"
for ((i = 0; i < RUNS; i++)); do
  program_run >>"$WORK/program.runs" || exit 1
  bare_run >>"$WORK/bare.runs" || exit 1
  bare_run --label >>"$WORK/label.runs" || exit 1
done
start_ms=$(awk '{ print $1 }' "$WORK/program.runs" | median)
prog_hwm=$(awk '{ print $2 }' "$WORK/program.runs" | median)
bare_ms=$(awk '{ print $1 }' "$WORK/bare.runs" | median)
bare_mapped_ms=$(awk '{ print $2 }' "$WORK/bare.runs" | median)
bare_hwm=$(awk '{ print $3 }' "$WORK/bare.runs" | median)
label_ms=$(awk '{ print $1 }' "$WORK/label.runs" | median)
label_hwm=$(awk '{ print $3 }' "$WORK/label.runs" | median)

# ---- report ------------------------------------------------------------------------------

ra=$(ratio "$lookup_ms" "$curl_ms")
rb=$(ratio "$start_ms" "$bare_ms")
rc=$(ratio "$prog_hwm" "$bare_hwm")
printf '(a) request -> clipboard, median of %d lookups:     %8.2f ms\n' "$LOOKUPS" "$lookup_ms"
printf '    curl -s whole process, median of %d runs:       %8.2f ms   ratio %s (goal <= 0.5: %s)\n' \
  "$LOOKUPS" "$curl_ms" "$ra" "$(verdict "$ra" 0.5)"
printf '(b) exec -> address on clipboard, median of %d:     %8.2f ms\n' "$RUNS" "$start_ms"
printf '    exec -> bare GTK window drawn, median of %d:    %8.2f ms   ratio %s (goal <= 1.5: %s)\n' \
  "$RUNS" "$bare_ms" "$rb" "$(verdict "$rb" 1.5)"
printf '    (bare window mapped after %.2f ms)\n' "$bare_mapped_ms"
printf '(c) peak RSS (VmHWM) after the first lookup:        %8.0f kB\n' "$prog_hwm"
printf '    peak RSS (VmHWM) of the bare GTK window:        %8.0f kB   ratio %s (goal <= 1.1: %s)\n' \
  "$bare_hwm" "$rc" "$(verdict "$rc" 1.1)"
printf 'with one label, the bare window is drawn after %.2f ms (ratio %s) and peaks at %.0f kB (ratio %s)\n' \
  "$label_ms" "$(ratio "$start_ms" "$label_ms")" "$label_hwm" "$(ratio "$prog_hwm" "$label_hwm")"
echo "program per run (ms exec -> clipboard, kB): $(tr '\n' ';' <"$WORK/program.runs")"
echo "bare per run (ms drawn, ms mapped, kB): $(tr '\n' ';' <"$WORK/bare.runs")"
echo "bare with label per run: $(tr '\n' ';' <"$WORK/label.runs")"
exit 0
