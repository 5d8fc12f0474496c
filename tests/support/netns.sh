# shellcheck shell=bash
# For the scripts that run a program in a private network namespace against echo_server on
# a private Xvfb display (the Linux black-box runs are tests/blackbox, in C++). Sourced.
# The caller sets WORK and ECHO_SERVER and calls netns_cleanup on exit. Set here: NS,
# DISPLAY_NUM, ECHO_PID, PIDS (ended by netns_cleanup), HOST, FAILURES, TARGET_A/B.
# The endpoints' host names come from the build: ADDROVA_ENDPOINT_A_HOST and _B_HOST in the
# environment, else the CMake cache of $LINUX_BUILD or $BUILD.

HOST=$(hostname)
NS='' DISPLAY_NUM='' ECHO_PID='' PIDS=() FAILURES=0
TARGET_A='/Current%20IP%20Check.htm'
# shellcheck disable=SC2034 # for the scripts
TARGET_B='/ip.php'

skip() { echo "SKIP: $1"; exit 77; }
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }

# need_netns TOOL…: skips unless running as root with `ip netns` and every TOOL.
need_netns() {
  [[ $(id -u) == 0 ]] || skip "needs root for network namespaces"
  ip netns list >/dev/null 2>&1 || skip "'ip netns' is not available"
  local tool
  for tool; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
}

in_ns() { ip netns exec "$NS" "$@"; }
# For `bg_in_ns … &`: the background subshell becomes the command, so $! is its process id.
bg_in_ns() { exec ip netns exec "$NS" "$@"; }
on_display() { in_ns env DISPLAY=":$DISPLAY_NUM" "$@"; }

endpoint_host() {  # endpoint_host A|B
  local var=ADDROVA_ENDPOINT_$1_HOST
  if [[ -n ${!var:-} ]]; then echo "${!var}"; return; fi
  sed -n "s/^$var:STRING=//p" "${LINUX_BUILD:-${BUILD:-}}/CMakeCache.txt" 2>/dev/null
}

# write_hosts ADDRESS: endpoint A's host name to ADDRESS, endpoint B's and this machine's
# name to 127.0.0.1. Written in place: every `ip netns exec` binds it over /etc/hosts.
write_hosts() {
  local a b
  a=$(endpoint_host A) b=$(endpoint_host B)
  [[ -n $a && -n $b ]] || { echo "FAIL: the endpoints' host names are not known" >&2; return 1; }
  printf '127.0.0.1 localhost\n%s %s\n127.0.0.1 %s\n127.0.0.1 %s\n' "$1" "$a" "$b" "$HOST" \
    >"/etc/netns/$NS/hosts"
}

# netns_create NAME: the namespace, its hosts file (the endpoints in it when the build
# names them; a caller may write its own) and its loopback up, with 127.0.0.2 beside
# 127.0.0.1 (without an IPv4 address besides 127.0.0.1, GLib's resolver finds no IPv4
# address for any name, as getaddrinfo's AI_ADDRCONFIG asks); sets NS.
netns_create() {
  ip netns add "$1" || return 1
  NS=$1
  mkdir -p "/etc/netns/$NS"
  printf '127.0.0.1 localhost %s\n' "$HOST" >"/etc/netns/$NS/hosts"
  [[ -z $(endpoint_host A) ]] || write_hosts 127.0.0.1 || return 1
  in_ns ip link set lo up && in_ns ip addr add 127.0.0.2/32 dev lo
}

# end_processes PID…: TERM, KILL for those still there 10 s later, and waits for them.
end_processes() {
  local pid
  for pid; do kill "$pid" 2>/dev/null; done
  wait_for 10 none_running "$@" || for pid; do kill -9 "$pid" 2>/dev/null; done
  for pid; do wait "$pid" 2>/dev/null; done
}

# Ends the processes in PIDS, then anything left in the namespace, and deletes it.
netns_cleanup() {
  local pid
  end_processes "${PIDS[@]}"
  [[ -n $NS ]] || return 0
  for pid in $(ip netns pids "$NS" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
  ip netns delete "$NS" 2>/dev/null
  rm -rf "/etc/netns/$NS"
}

# none_running PID…: none of them runs (an ended child not yet waited for does not count).
none_running() {
  local pid
  for pid; do [[ $(sed 's/.*) //' "/proc/$pid/stat" 2>/dev/null) == [^Z]* ]] && return 1; done
  return 0
}

# wait_for SECONDS COMMAND…: polls until COMMAND succeeds; 1 after SECONDS.
wait_for() {
  local deadline=$(($(date +%s%N) + $1 * 1000000000))
  shift
  until "$@"; do
    (($(date +%s%N) < deadline)) || return 1
    sleep 0.02
  done
}

# start_echo_server OPTION…: echo_server (the one before ended) on 127.0.0.1:80 in the
# namespace, requests logged to $WORK/requests.log; 1 when it is not ready in 5 s.
start_echo_server() {
  [[ -z $ECHO_PID ]] || end_processes "$ECHO_PID"
  rm -f "$WORK/ready"
  : >"$WORK/requests.log"
  bg_in_ns "$ECHO_SERVER" --port 80 --bind 127.0.0.1 --ready-file "$WORK/ready" \
    --log "$WORK/requests.log" "$@" >"$WORK/echo_server.out" 2>&1 &
  ECHO_PID=$!
  PIDS+=("$ECHO_PID")
  wait_for 5 test -s "$WORK/ready"
}

requests_for() { grep -cF " GET $1 " "$WORK/requests.log"; }
lookups_done() { requests_for "$TARGET_A"; }

# await_lookups N SECONDS: waits for N lookups; fails when the program (PROG_PID) ends or
# none comes for SECONDS.
await_lookups() {
  local want=$1 stall=$2 seen last=-1 last_change=$SECONDS
  while :; do
    seen=$(lookups_done)
    ((seen >= want)) && return 0
    kill -0 "$PROG_PID" 2>/dev/null || { echo "FAIL: the program ended after $seen lookups"; return 1; }
    if ((seen != last)); then
      last=$seen last_change=$SECONDS
    elif ((SECONDS - last_change > stall)); then
      echo "FAIL: lookups stopped at $seen (none for $stall s)"
      return 1
    fi
    sleep 0.2
  done
}

# start_ns_xvfb: Xvfb 1280x1024x24 in the namespace on the first free display from :90;
# sets DISPLAY_NUM. 1 when none started (its output is in $WORK/xvfb.out).
start_ns_xvfb() {
  local n pid
  for ((n = 90; n < 190; n++)); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    bg_in_ns Xvfb ":$n" -screen 0 1280x1024x24 -noreset -nolisten tcp >"$WORK/xvfb.out" 2>&1 &
    pid=$!
    if wait_for 10 test -S "/tmp/.X11-unix/X$n" && sleep 0.2 && kill -0 "$pid" 2>/dev/null; then
      PIDS+=("$pid") DISPLAY_NUM=$n
      return 0
    fi
    kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  done
  return 1
}

clipboard() { on_display timeout 5 xclip -selection clipboard -o 2>/dev/null; }
clip_is_address() { [[ $(clipboard) == 127.0.0.1 ]]; }
window_id() { on_display xdotool search --onlyvisible --name '^Addrova' 2>/dev/null | head -n1; }

# cpu_ticks PID: utime + stime in clock ticks, all threads (fields after the command name).
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{ print $12 + $13 }'; }
# threads PID: "<tid> <scheduler run ns> <context switches>" for every thread alive now.
threads() {
  local t run sw
  for t in /proc/"$1"/task/*; do
    read -r run _ <"$t/schedstat" 2>/dev/null || continue
    sw=$(awk '/^(non)?voluntary_ctxt_switches:/ { s += $2 } END { print s + 0 }' "$t/status" 2>/dev/null)
    echo "${t##*/} $run $sw"
  done
}
# threads_diff BEFORE AFTER: "<run ms> <wakeups> <threads>" of the threads in both files.
threads_diff() {
  awk 'NR == FNR { run[$1] = $2; sw[$1] = $3; next }
    $1 in run { r += $2 - run[$1]; w += $3 - sw[$1]; n++ }
    END { printf "%.3f %d %d\n", r / 1e6, w, n }' "$1" "$2"
}
proc_status() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status" 2>/dev/null; }
open_fds() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && a != "nan" && b + 0 > 0) printf "%.2f", a / b; else print "nan" }'; }
