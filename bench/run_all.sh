#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2317 # scripts in single quotes for bash -c; trap handlers
# run_all.sh — every speed, memory and size figure of the program beside its reference,
# measured in the same run, with its goal and whether it is met.
#
#   bench/run_all.sh [--linux-build DIR] [--win-build DIR] [--bench-win-build DIR]
#
# Figures (goal in brackets):
#   lookup, request → clipboard, vs `curl -s` on the same URL            [ratio ≤ 0.5]
#   exec → address on the clipboard vs exec → bare GTK window drawn       [ratio ≤ 1.5]
#   under Wine, Addrova.exe exec → address on the clipboard vs exec →
#     first WM_PAINT of a bare Win32 window (bench/win/bare_window.c)     [ratio ≤ 1.5]
#   peak resident memory vs the bare GTK window's                         [ratio ≤ 1.1]
#   size of Addrova.exe                                                   [≤ 350 KB]
#   CPU used in IDLE_SECONDS (60) idle seconds with the refresh timer off [≤ 10 ms]
# The first, second and fourth come from bench/lookup_bench.sh and the idle CPU from
# tests/soak/idle_cpu.sh, both called as they are (their own output is shown too); when
# idle_cpu.sh is absent the same measurement is made here (utime + stime of the process
# from /proc/PID/stat before and after the idle seconds, once the first lookup has put
# its address on the clipboard). The same idle measurement is also made of Addrova.exe
# under Wine, for information, beside the wineserver's CPU in the same seconds and in as
# many seconds before the program started (Wine's own background work).
#
# Under Wine both programs run in a fresh prefix set up as tests/win/run_wine_tests.sh
# does (Tahoma in the prefix's font folder, the font link to Noto Sans CJK JP, unmanaged
# windows, LANG=ja_JP.UTF-8, 24-bit Xvfb), inside a private network namespace whose hosts
# file sends the address-echo host names and this machine's name to 127.0.0.1, where the
# Linux build's tests/echo_server answers on port 80. The prefix's wineserver is started
# in the namespace before any timed run and kept running (persistent), and each program
# is started twice untimed first, so neither the server's start-up nor a cold page cache
# is counted. Wine's desktop process (explorer, which also hands the clipboard over to
# X) quits a second after the last program on the desktop ends and is started again by
# the next one; `bare_window.exe --hold` (an unshown window) keeps it running throughout,
# as the desktop is on Windows, so that no timed start pays for it either. Each timed
# start is "wine PROGRAM" exec'd from a shell that wrote the real-time clock just
# before; the end is, for Addrova.exe, the moment the X CLIPBOARD
# selection gets its new owner (bench/clip_watch, XFIXES; the text is then checked with
# xclip) and, for bare_window.exe, the time it wrote at the end of its first paint. The
# bare window's exec → exit and the same window with one line of Japanese text
# (--label, which loads the fonts the program's window needs) are shown as well.
# Medians of WINE_RUNS (default 10) starts each, interleaved.
#
# Without the options it configures and builds, under the repository's build/:
#   build/bench      the Linux release build with the bench targets
#   build/win        the Windows cross build (cmake/mingw-w64.cmake)
#   build/bench-win  bench/win's helpers, cross-built with the same toolchain file
# Given directories are used as they are. Environment: LOOKUPS and RUNS (passed on to
# lookup_bench.sh), WINE_RUNS, IDLE_SECONDS.
#
# Needs root (network namespaces; missing Debian packages are installed as
# scripts/packages.sh lists them). Exits 0 once every figure was measured and printed,
# whether its goal was met or not; 1 when a measurement could not be made; 77 (after
# printing SKIP) when it cannot run at all.
set -u

ROOT=$(cd "$(dirname "$(realpath "$0")")/.." && pwd)
# shellcheck source=tests/support/netns.sh
. "$ROOT/tests/support/netns.sh"
# shellcheck source=tests/support/wine_prefix.sh
. "$ROOT/tests/support/wine_prefix.sh"
LINUX_BUILD=
WIN_BUILD=
BENCH_WIN_BUILD=
while (($#)); do
  case $1 in
    --linux-build) LINUX_BUILD=${2:?}; shift 2 ;;
    --win-build) WIN_BUILD=${2:?}; shift 2 ;;
    --bench-win-build) BENCH_WIN_BUILD=${2:?}; shift 2 ;;
    *) echo "usage: $0 [--linux-build DIR] [--win-build DIR] [--bench-win-build DIR]" >&2; exit 2 ;;
  esac
done
WINE_RUNS=${WINE_RUNS:-10}
IDLE_SECONDS=${IDLE_SECONDS:-60}
[[ $WINE_RUNS =~ ^[1-9][0-9]*$ && $IDLE_SECONDS =~ ^[1-9][0-9]*$ ]] ||
  { echo "WINE_RUNS and IDLE_SECONDS must be positive integers" >&2; exit 2; }
TOOLCHAIN=$ROOT/cmake/mingw-w64.cmake

[[ $(id -u) == 0 ]] || skip "needs root (network namespaces, packages)"
ip netns list >/dev/null 2>&1 || skip "'ip netns' is not available"

WORK=$(mktemp -d /tmp/addrova-runall-XXXXXX)
WINE_ENV=()
FAILED=()

cleanup() {
  if [[ -n $NS && ${#WINE_ENV[@]} -gt 0 && -d $WORK/prefix ]]; then
    # This run's own prefix and its server, nothing else.
    timeout 20 ip netns exec "$NS" "${WINE_ENV[@]}" wineserver -k 2>/dev/null
  fi
  netns_cleanup
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

note() { printf '\n== %s\n' "$*"; }

# verdict VALUE GOAL: "meets" when VALUE ≤ GOAL, "MISSES" when over, "SKIP" without a value.
verdict() {
  awk -v v="$1" -v g="$2" 'BEGIN {
    if (v == "" || v == "nan" || v == "?") print "SKIP"; else print (v + 0 <= g + 0) ? "meets" : "MISSES" }'
}

# ---- packages and builds ---------------------------------------------------------------

if [[ -f $ROOT/scripts/packages.sh ]]; then
  # shellcheck disable=SC1091 # the package lists shared by the project's scripts
  source "$ROOT/scripts/packages.sh"
  install_packages "${BUILD_PACKAGES[@]}" xvfb xclip xdotool curl iproute2 fonts-noto-cjk \
    g++-mingw-w64-x86-64-posix wine wine64 fonts-wine locales ||
    echo "warning: some packages could not be installed; the figures that need them are skipped"
fi

note "builds"
# build NAME SOURCE_DIR BUILD_DIR TARGETS -- CONFIGURE_ARGS…: configures and builds the
# targets, logging to $WORK/build-NAME.log; prints the log's end when it fails.
build() {
  local name=$1 src=$2 dir=$3 targets=()
  shift 3
  while (($#)) && [[ $1 != -- ]]; do targets+=("$1"); shift; done
  shift
  local log=$WORK/build-$name.log
  if cmake -S "$src" -B "$dir" "$@" >"$log" 2>&1 &&
    cmake --build "$dir" -j2 --target "${targets[@]}" >>"$log" 2>&1; then
    echo "$name: built in $dir"
  else
    echo "$name: build FAILED in $dir:"
    tail -20 "$log"
    return 1
  fi
}
if [[ -z $LINUX_BUILD ]]; then
  LINUX_BUILD=$ROOT/build/bench
  build linux "$ROOT" "$LINUX_BUILD" Addrova lookup_driver bare_window clip_watch echo_server -- \
    -DCMAKE_BUILD_TYPE=Release || FAILED+=("Linux build")
else
  echo "linux: using $LINUX_BUILD"
fi
HAVE_MINGW=1
command -v x86_64-w64-mingw32-g++-posix >/dev/null || HAVE_MINGW=0
if [[ -z $WIN_BUILD ]]; then
  WIN_BUILD=$ROOT/build/win
  if ((HAVE_MINGW)); then
    build windows "$ROOT" "$WIN_BUILD" Addrova -- -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" ||
      FAILED+=("Windows build")
  else
    echo "windows: SKIP (no MinGW-w64 compilers)"
  fi
else
  echo "windows: using $WIN_BUILD"
fi
if [[ -z $BENCH_WIN_BUILD ]]; then
  BENCH_WIN_BUILD=$ROOT/build/bench-win
  if ((HAVE_MINGW)); then
    build bench-win "$ROOT/bench/win" "$BENCH_WIN_BUILD" bare_window -- \
      -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" || FAILED+=("bench/win build")
  else
    echo "bench-win: SKIP (no MinGW-w64 compilers)"
  fi
else
  echo "bench-win: using $BENCH_WIN_BUILD"
fi
LINUX_BUILD=$(realpath -m "$LINUX_BUILD")
WIN_BUILD=$(realpath -m "$WIN_BUILD")
BENCH_WIN_BUILD=$(realpath -m "$BENCH_WIN_BUILD")
EXE=$WIN_BUILD/Addrova.exe
BARE_EXE=$BENCH_WIN_BUILD/bare_window.exe
ECHO_SERVER=$LINUX_BUILD/tests/echo_server
WATCH=$LINUX_BUILD/bench/clip_watch

# ---- a namespace and display of this script's own (idle fallback, Wine) --------------------

# Namespace with the hosts file, echo_server on 127.0.0.1:80, and Xvfb; once.
setup_ns() {
  [[ -n $DISPLAY_NUM ]] && return 0
  [[ -x $ECHO_SERVER ]] || { echo "$ECHO_SERVER is missing"; return 1; }
  command -v Xvfb >/dev/null || { echo "Xvfb is not installed"; return 1; }
  netns_create "addrova-runall-$$-$RANDOM" || { echo "cannot create a network namespace"; return 1; }
  printf 'hosts: files\n' >"/etc/netns/$NS/nsswitch.conf"
  start_echo_server --mode echo ||
    { echo "echo_server did not start: $(cat "$WORK/echo_server.out")"; return 1; }
  start_ns_xvfb || { echo "Xvfb did not start: $(cat "$WORK/xvfb.out")"; return 1; }
}

# utime + stime of a process in ms (all its threads, dead ones included).
cpu_ms() {
  local tick
  tick=$(getconf CLK_TCK)
  cpu_ticks "$1" | awk -v t="$tick" '{ print $1 * 1000 / t }'
}

# ---- lookup, start-up and memory on Linux (lookup_bench.sh) ----------------------------

note "lookup, start-up and memory on Linux: bench/lookup_bench.sh $LINUX_BUILD"
bash "$ROOT/bench/lookup_bench.sh" "$LINUX_BUILD" >"$WORK/lookup_bench.out" 2>&1
lb_rc=$?
cat "$WORK/lookup_bench.out"
# lb_field REGEX: the first number after the colon of the line matching REGEX.
lb_field() { sed -n "s/$1[^:]*: *\([0-9.]*\) .*/\1/p" "$WORK/lookup_bench.out" | head -1; }
lookup_ms=$(lb_field '^(a) request -> clipboard')
curl_ms=$(lb_field '^ *curl -s whole process')
start_ms=$(lb_field '^(b) exec -> address on clipboard')
bare_ms=$(lb_field '^ *exec -> bare GTK window drawn')
prog_kb=$(lb_field '^(c) peak RSS')
bare_kb=$(lb_field '^ *peak RSS (VmHWM) of the bare GTK window')
if ((lb_rc == 77)); then
  echo "(lookup_bench.sh skipped)"
elif ((lb_rc != 0)) || [[ -z $lookup_ms || -z $curl_ms || -z $start_ms || -z $bare_ms || -z $prog_kb || -z $bare_kb ]]; then
  FAILED+=("lookup_bench.sh (exit $lb_rc)")
fi

# ---- size ------------------------------------------------------------------------------

note "size of $EXE"
exe_bytes=
exe_kb=
if [[ -f $EXE ]]; then
  exe_bytes=$(stat -c %s "$EXE")
  exe_kb=$(awk -v b="$exe_bytes" 'BEGIN { printf "%.1f", b / 1024 }')
  echo "$exe_bytes bytes = $exe_kb KB (1 KB = 1024 bytes)"
else
  echo "SKIP: $EXE is missing"
fi

# ---- idle CPU on Linux ---------------------------------------------------------------------

idle_ms=
if [[ -f $ROOT/tests/soak/idle_cpu.sh ]]; then
  note "idle CPU on Linux: tests/soak/idle_cpu.sh $LINUX_BUILD $IDLE_SECONDS"
  bash "$ROOT/tests/soak/idle_cpu.sh" "$LINUX_BUILD" "$IDLE_SECONDS" >"$WORK/idle.out" 2>&1
  idle_rc=$?
  cat "$WORK/idle.out"
  idle_ms=$(sed -n 's/^CPU in [0-9]* idle seconds: \([0-9.]*\) ms.*/\1/p' "$WORK/idle.out" | head -1)
  if ((idle_rc == 77)); then
    echo "(idle_cpu.sh skipped)"
  elif [[ -z $idle_ms ]]; then
    FAILED+=("idle_cpu.sh (exit $idle_rc)")
  fi
else
  # The same measurement as idle_cpu.sh's, for as long as it is not there.
  note "idle CPU on Linux (measured here: tests/soak/idle_cpu.sh is absent)"
  if setup_ns; then
    mkdir -p "$WORK/lapp"
    cp "$LINUX_BUILD/Addrova" "$WORK/lapp/Addrova"  # no Addrova.ini beside it: timer off
    bg_in_ns env DISPLAY=":$DISPLAY_NUM" "$WORK/lapp/Addrova" >"$WORK/lapp.out" 2>&1 &
    lpid=$!
    PIDS+=("$lpid")
    if wait_for 20 clip_is_address; then
      sleep 1
      requests_before=$(wc -l <"$WORK/requests.log")
      before=$(cpu_ms "$lpid")
      sleep "$IDLE_SECONDS"
      after=$(cpu_ms "$lpid")
      requests_after=$(wc -l <"$WORK/requests.log")
      idle_ms=$(awk -v a="$before" -v b="$after" 'BEGIN { print b - a }')
      echo "CPU in $IDLE_SECONDS idle seconds: $idle_ms ms; requests while idle: $((requests_after - requests_before))"
    else
      echo "the first lookup did not put 127.0.0.1 on the clipboard"
      FAILED+=("idle CPU")
    fi
    kill "$lpid" 2>/dev/null
    wait "$lpid" 2>/dev/null
  else
    FAILED+=("idle CPU")
  fi
fi

# ---- Wine: Addrova.exe and the bare Win32 window -----------------------------------------

wine_start_ms=
wine_bare_ms=
wine_idle_ms=
note "start-up under Wine: Addrova.exe and bench/win/bare_window.exe, $WINE_RUNS starts each"

# One start of Addrova.exe: prints "<ms exec → address on the clipboard>". With an
# argument N, also stays N idle seconds afterwards and prints, on a second line,
# "<ms CPU of the program> <ms CPU of the wineserver> <requests>" for those seconds.
wine_program_run() {
  rm -f "$WORK/wapp/Addrova.ini" "$WORK/watch.out" "$WORK/t0"
  # Something else on the clipboard first, so that the address seen after is the new one.
  printf 'something else' | on_display xclip -selection clipboard -i >/dev/null 2>&1
  sleep 0.2
  bg_in_ns env DISPLAY=":$DISPLAY_NUM" "$WATCH" 30 >"$WORK/watch.out" 2>&1 &
  local watch_pid=$!
  wait_for 5 grep -qs ready "$WORK/watch.out" || { echo "clip_watch did not start" >&2; return 1; }
  bg_in_ns "${WINE_ENV[@]}" bash -c 'cd "$1" && echo "$EPOCHREALTIME" >"$2" && exec wine Addrova.exe' \
    _ "$WORK/wapp" "$WORK/t0" >"$WORK/wprogram.out" 2>&1 &
  local prog_pid=$!
  wait "$watch_pid"
  local t_clip clip idle=""
  t_clip=$(sed -n '2p' "$WORK/watch.out")
  clip=$(clipboard)
  if [[ -n ${1:-} && -n $t_clip ]]; then
    sleep 1
    local server_pid p r0 r1 c0 c1 s0 s1
    for p in $(ip netns pids "$NS"); do
      [[ $(readlink "/proc/$p/exe" 2>/dev/null) == */wineserver* ]] && server_pid=$p
    done
    r0=$(wc -l <"$WORK/requests.log")
    c0=$(cpu_ms "$prog_pid")
    threads "$prog_pid" >"$WORK/threads.before"
    s0=$(cpu_ms "${server_pid:-0}")
    sleep "$1"
    c1=$(cpu_ms "$prog_pid")
    threads "$prog_pid" >"$WORK/threads.after"
    s1=$(cpu_ms "${server_pid:-0}")
    r1=$(wc -l <"$WORK/requests.log")
    idle=$(awk -v a="$c0" -v b="$c1" -v x="$s0" -v y="$s1" -v r=$((r1 - r0)) \
      -v t="$(threads_diff "$WORK/threads.before" "$WORK/threads.after")" \
      'BEGIN { if (a == "" || b == "") print "nan"
        else printf "%g %s %d %s\n", b - a, (x == "" || y == "") ? "nan" : y - x, r, t }')
  fi
  kill "$prog_pid" 2>/dev/null
  wait "$prog_pid" 2>/dev/null
  sleep 0.2  # the server has reaped the process
  if [[ -z $t_clip || $clip != 127.0.0.1 ]]; then
    echo "Addrova.exe run failed: clipboard '$clip'; $(head -c 2000 "$WORK/wprogram.out")" >&2
    return 1
  fi
  awk -v a="$(cat "$WORK/t0")" -v b="$t_clip" 'BEGIN { printf "%.3f\n", (b - a) * 1000 }'
  [[ -z $idle ]] || echo "$idle"
}

# One start of bare_window.exe (arguments passed on): prints "<ms exec → painted> <ms exec → exit>".
wine_bare_run() {
  rm -f "$WORK/painted" "$WORK/t0"
  local painted_win="Z:${WORK//\//\\}\\painted"
  timeout 30 ip netns exec "$NS" "${WINE_ENV[@]}" bash -c \
    'cd "$1" && echo "$EPOCHREALTIME" >"$2" && exec wine bare_window.exe "${@:3}"' \
    _ "$WORK/wapp" "$WORK/t0" "$@" "$painted_win" >"$WORK/wbare.out" 2>&1
  local rc=$? t_exit=$EPOCHREALTIME
  if ((rc != 0)) || [[ ! -s $WORK/painted ]]; then
    echo "bare_window.exe run failed ($rc): $(head -c 2000 "$WORK/wbare.out")" >&2
    return 1
  fi
  awk -v a="$(cat "$WORK/t0")" -v p="$(cat "$WORK/painted")" -v e="$t_exit" \
    'BEGIN { printf "%.3f %.3f\n", (p - a) * 1000, (e - a) * 1000 }'
}

wine_section() {
  local tool
  for tool in wine wineboot wineserver xclip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; return 77; }
  done
  for f in "$EXE" "$BARE_EXE"; do [[ -f $f ]] || { echo "SKIP: $f is missing"; return 77; }; done
  [[ -x $WATCH ]] || { echo "$WATCH is missing"; return 1; }
  setup_ns || return 1

  make_ja_locale
  local lang WINEPREFIX=$WORK/prefix t_prefix
  lang=$(wine_lang)
  WINE_ENV=(env -u LC_ALL -u LC_CTYPE LANG="$lang" WINEPREFIX="$WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all DISPLAY=":$DISPLAY_NUM")
  t_prefix=$(date +%s)
  wine_prefix_setup ip netns exec "$NS" "${WINE_ENV[@]}"
  # The warm server: started now in the namespace (it creates the programs' sockets) and
  # kept running until the end.
  in_ns "${WINE_ENV[@]}" wineserver -p || { echo "cannot start the wineserver"; return 1; }
  echo "$(wine --version 2>/dev/null), LANG=$lang, namespace $NS, display :$DISPLAY_NUM;" \
    "prefix ready after $(($(date +%s) - t_prefix)) s; persistent wineserver started"

  mkdir -p "$WORK/wapp"
  cp "$EXE" "$BARE_EXE" "$WORK/wapp/"  # no Addrova.ini beside it: the timer is off
  # Keeps Wine's desktop process running between the starts.
  bg_in_ns "${WINE_ENV[@]}" bash -c 'cd "$1" && exec wine bare_window.exe --hold' _ "$WORK/wapp" \
    >"$WORK/holder.out" 2>&1 &
  PIDS+=($!)

  # Untimed starts: the prefix's own processes (explorer, services) come up and every file
  # is in the page cache.
  local i
  for i in 1 2; do
    wine_program_run >/dev/null || return 1
    wine_bare_run >/dev/null || return 1
    wine_bare_run --label >/dev/null || return 1
  done
  : >"$WORK/wprogram.runs"
  : >"$WORK/wbare.runs"
  : >"$WORK/wlabel.runs"
  for ((i = 0; i < WINE_RUNS; i++)); do
    wine_program_run >>"$WORK/wprogram.runs" || return 1
    wine_bare_run >>"$WORK/wbare.runs" || return 1
    wine_bare_run --label >>"$WORK/wlabel.runs" || return 1
  done
  wine_start_ms=$(median <"$WORK/wprogram.runs")
  wine_bare_ms=$(awk '{ print $1 }' "$WORK/wbare.runs" | median)
  local bare_exit label label_exit
  bare_exit=$(awk '{ print $2 }' "$WORK/wbare.runs" | median)
  label=$(awk '{ print $1 }' "$WORK/wlabel.runs" | median)
  label_exit=$(awk '{ print $2 }' "$WORK/wlabel.runs" | median)
  printf 'Addrova.exe exec -> address on clipboard, median of %d: %8.2f ms\n' "$WINE_RUNS" "$wine_start_ms"
  printf 'bare_window.exe exec -> first paint, median of %d:     %8.2f ms   ratio %s (exits after %.2f ms)\n' \
    "$WINE_RUNS" "$wine_bare_ms" "$(ratio "$wine_start_ms" "$wine_bare_ms")" "$bare_exit"
  printf 'with one label: painted after %.2f ms (ratio %s), exits after %.2f ms\n' \
    "$label" "$(ratio "$wine_start_ms" "$label")" "$label_exit"
  echo "Addrova.exe per run (ms): $(tr '\n' ';' <"$WORK/wprogram.runs")"
  echo "bare per run (ms painted, ms exit): $(tr '\n' ';' <"$WORK/wbare.runs")"
  echo "bare with label per run: $(tr '\n' ';' <"$WORK/wlabel.runs")"

  # Idle CPU of Addrova.exe, for information: the program's process and the wineserver,
  # whose own background work is measured first, before the program starts.
  local out server_pid p s0 s1
  for p in $(ip netns pids "$NS"); do
    [[ $(readlink "/proc/$p/exe" 2>/dev/null) == */wineserver* ]] && server_pid=$p
  done
  s0=$(cpu_ms "${server_pid:-0}")
  sleep "$IDLE_SECONDS"
  s1=$(cpu_ms "${server_pid:-0}")
  out=$(wine_program_run "$IDLE_SECONDS") || return 1
  local run_ms wakeups alive
  read -r wine_idle_ms server_idle_ms idle_requests run_ms wakeups alive < <(sed -n '2p' <<<"$out")
  echo "Addrova.exe idle $IDLE_SECONDS s with the timer off: program $wine_idle_ms ms CPU" \
    "(scheduler run time of the $alive thread(s) alive throughout: $run_ms ms, $wakeups wakeup(s));" \
    "wineserver $server_idle_ms ms (in as many seconds before it started: $(awk -v a="$s0" -v b="$s1" \
    'BEGIN { print (a == "" || b == "") ? "nan" : b - a }') ms); requests while idle: $idle_requests"
  return 0
}
wine_section
wine_rc=$?
((wine_rc == 0 || wine_rc == 77)) || FAILED+=("Wine start-up")

# ---- summary -------------------------------------------------------------------------------

note "summary (each figure beside its reference from this run)"
# The ratios lookup_bench.sh printed (from its unrounded figures), else computed here.
lb_ratio() { sed -n "s/$1.* ratio \([0-9.]*\) .*/\1/p" "$WORK/lookup_bench.out" | head -1; }
ra=$(lb_ratio '^ *curl -s whole process')
[[ -n $ra ]] || ra=$(ratio "$lookup_ms" "$curl_ms")
rb=$(lb_ratio '^ *exec -> bare GTK window drawn')
[[ -n $rb ]] || rb=$(ratio "$start_ms" "$bare_ms")
rw=$(ratio "$wine_start_ms" "$wine_bare_ms")
rc=$(lb_ratio '^ *peak RSS (VmHWM) of the bare GTK window')
[[ -n $rc ]] || rc=$(ratio "$prog_kb" "$bare_kb")
fmt='%-46s %14s   %-34s %12s   %-6s %-9s %s\n'
# round VALUE DECIMALS: VALUE rounded, or "?" without one.
round() { awk -v v="$1" -v d="$2" 'BEGIN { if (v == "" || v == "nan") print "?"; else printf "%.*f", d, v }'; }
# shellcheck disable=SC2059
{
  printf "$fmt" "figure" "value" "reference" "ref. value" "ratio" "goal" "verdict"
  printf "$fmt" "lookup, request -> clipboard (Linux)" "$(round "$lookup_ms" 2) ms" \
    "curl -s, same URL, whole process" "$(round "$curl_ms" 2) ms" "$ra" "<= 0.5x" "$(verdict "$ra" 0.5)"
  printf "$fmt" "exec -> address on clipboard (Linux)" "$(round "$start_ms" 2) ms" \
    "exec -> bare GTK window drawn" "$(round "$bare_ms" 2) ms" "$rb" "<= 1.5x" "$(verdict "$rb" 1.5)"
  printf "$fmt" "exec -> address on clipboard (Addrova.exe)" "$(round "$wine_start_ms" 2) ms" \
    "exec -> bare Win32 window painted" "$(round "$wine_bare_ms" 2) ms" "$rw" "<= 1.5x" "$(verdict "$rw" 1.5)"
  printf "$fmt" "peak RSS after the first lookup (Linux)" "$(round "$prog_kb" 0) kB" \
    "bare GTK window" "$(round "$bare_kb" 0) kB" "$rc" "<= 1.1x" "$(verdict "$rc" 1.1)"
  printf "$fmt" "size of Addrova.exe" "$(round "$exe_kb" 1) KB" "(${exe_bytes:-?} bytes)" "" "" \
    "<= 350 KB" "$(verdict "$exe_kb" 350)"
  printf "$fmt" "CPU in $IDLE_SECONDS idle s, timer off (Linux)" "$(round "$idle_ms" 0) ms" "" "" "" \
    "<= 10 ms" "$(verdict "$idle_ms" 10)"
  printf "$fmt" "CPU in $IDLE_SECONDS idle s, timer off (Addrova.exe)" "$(round "$wine_idle_ms" 0) ms" \
    "(for information, under Wine)" "" "" "<= 10 ms" "$(verdict "$wine_idle_ms" 10)"
}
if ((${#FAILED[@]})); then
  echo "not measured: ${FAILED[*]}"
  exit 1
fi
exit 0
