#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2317 # scripts in single quotes for bash -c; trap handlers
# CPU used by the real program binary while it sits idle with the refresh timer off.
#
#   tests/soak/idle_cpu.sh BUILD_DIR [SECONDS]
#
# A copy of BUILD_DIR/Addrova runs without an Addrova.ini (so the timer is off) in a private
# network namespace whose hosts file sends both address-echo host names and this machine's
# name to 127.0.0.1, where BUILD_DIR/tests/echo_server answers on port 80, on a private
# Xvfb display. Once the first lookup has finished (its address is on the clipboard) and
# a further second has passed, utime + stime of the process (/proc/PID/stat, summed over
# all its threads, dead ones included) are read before and after SECONDS (default 60)
# idle seconds; the difference is printed in ms. Clock ticks are coarse (10 ms at 100 Hz),
# so the scheduler's own run time of the threads alive at both readings
# (/proc/PID/task/*/schedstat, ns) and the number of times they woke up (context
# switches) are printed as well.
#
# Exit 0 when the goal (≤ 10 ms) was met, 1 when it was missed or a request was made
# while idle, 77 when it cannot run (needs root, `ip netns`, Xvfb, xdotool, xclip).
set -u

BUILD=${1:-}
SECONDS_IDLE=${2:-60}
if [[ -z $BUILD || ! $SECONDS_IDLE =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 BUILD_DIR [SECONDS]" >&2
  exit 2
fi
BUILD=$(realpath "$BUILD")
PROG=$BUILD/Addrova
ECHO_SERVER=$BUILD/tests/echo_server
GOAL_MS=10

ROOT=$(cd "$(dirname "$(realpath "$0")")/../.." && pwd)
# shellcheck source=tests/support/netns.sh
. "$ROOT/tests/support/netns.sh"

need_netns Xvfb xdotool xclip
for f in "$PROG" "$ECHO_SERVER"; do
  [[ -x $f ]] || { echo "FAIL: $f is missing"; exit 1; }
done

WORK=$(mktemp -d /tmp/addrova-idle-XXXXXX)
trap 'netns_cleanup; rm -rf "$WORK"' EXIT
trap 'exit 1' INT TERM HUP

requests() { wc -l <"$WORK/requests.log"; }

# ---- setup -------------------------------------------------------------------------------

netns_create "addrova-idle-$$-$RANDOM" || skip "cannot create a network namespace"
start_echo_server --mode echo ||
  { echo "FAIL: echo_server did not start: $(cat "$WORK/echo_server.out")"; exit 1; }
start_ns_xvfb || { echo "FAIL: Xvfb did not start: $(cat "$WORK/xvfb.out")"; exit 1; }

# A private copy: no Addrova.ini beside it, so the refresh timer is off.
mkdir -p "$WORK/app"
cp "$PROG" "$WORK/app/Addrova"

# ---- run ---------------------------------------------------------------------------------

bg_in_ns env DISPLAY=":$DISPLAY_NUM" "$WORK/app/Addrova" >"$WORK/program.out" 2>&1 &
PID=$!
PIDS+=("$PID")
wait_for 20 clip_is_address || { echo "FAIL: the first lookup did not put 127.0.0.1 on the clipboard"; exit 1; }
[[ $(readlink "/proc/$PID/exe") == "$WORK/app/Addrova" ]] || { echo "FAIL: process $PID is not the program"; exit 1; }
sleep 1  # the lookup's worker and the hand-off are over; xclip's request has been answered

TICK=$(getconf CLK_TCK)

requests_before=$(requests)
ticks_before=$(cpu_ticks "$PID")
threads "$PID" >"$WORK/threads.before"
t0=$(date +%s%N)
sleep "$SECONDS_IDLE"
ticks_after=$(cpu_ticks "$PID")
threads "$PID" >"$WORK/threads.after"
t1=$(date +%s%N)
requests_after=$(requests)
kill -0 "$PID" 2>/dev/null || { echo "FAIL: the program ended while idle"; exit 1; }

ms=$(((ticks_after - ticks_before) * 1000 / TICK))
read -r run_ms wakeups common < <(threads_diff "$WORK/threads.before" "$WORK/threads.after")
echo "CPU in $SECONDS_IDLE idle seconds: $ms ms (goal ≤ $GOAL_MS ms)"
echo "  utime+stime $ticks_before -> $ticks_after ticks at $TICK Hz over" \
  "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", (b - a) / 1e9 }') s;" \
  "scheduler run time of the $common thread(s) alive throughout: $run_ms ms, $wakeups wakeup(s)"

status=0
if ((requests_after != requests_before)); then
  echo "FAIL: $((requests_after - requests_before)) request(s) while idle with the timer off"
  status=1
fi
if ((ms > GOAL_MS)); then
  echo "FAIL: over the goal"
  status=1
fi
exit "$status"
