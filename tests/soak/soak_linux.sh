#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2317 # scripts in single quotes for bash -c; trap handlers
# Soak test of the real program binary: LOOKUPS (default 1000) lookups with the refresh
# timer at interval 0 (a request on every 1-second tick, so 1000 lookups take ~17 min),
# against echo_server on 127.0.0.1:80 in a private network namespace whose hosts file
# sends both address-echo host names and this machine's name there; private Xvfb display.
#
#   tests/soak/soak_linux.sh BUILD_DIR [LOOKUPS]
#
# BUILD_DIR holds Addrova, tests/echo_server and tests/close_window. A copy of the binary
# runs beside an Addrova.ini with TIMER=1, TIMER_SEC=0 and file output. Lookups are
# counted in echo_server's request log. After the first lookup, after every 100th and
# after the last, the process's open descriptors (/proc/PID/fd), VmRSS and thread count
# are sampled half a second after the request (the lookup has ended by then).
#
# Verdict: descriptors are flat when end == start ± 1; memory when VmRSS grew by less
# than 2048 kB from start to end (the least-squares slope per 100 lookups is printed).
# The program is then closed through WM_DELETE_WINDOW. In an AddressSanitizer build
# (detected from the binary) LeakSanitizer runs its exit check with tests/soak/lsan.supp
# (system libraries' process-lifetime caches only); a reported leak allocated by the
# program's own code (the innermost frame that is not an allocation wrapper such as
# operator new or g_malloc lies in its sources) fails, other unsuppressed leaks are
# printed as warnings. In a sanitizer build the RSS bound is printed but not judged:
# ASan keeps up to 256 MB of freed blocks in quarantine, so its RSS climbs by design.
#
# Allocation stacks are unwound in full (fast_unwind_on_malloc=0): the system libraries
# have no frame pointers, and a cut stack would hide who called the allocator.
#
# Environment: SOAK_LSAN_SUPP overrides the suppressions file; SOAK_ASAN_OPTIONS is added
# to ASAN_OPTIONS (e.g. quarantine_size_mb=0 to see RSS without ASan's quarantine);
# SOAK_KEEP=1 keeps the work directory (program stderr, request log, samples) and prints
# its path.
#
# Needs root, `ip netns`, Xvfb, xdotool and xclip; without them prints SKIP and exits 77.
# Exit 0 when everything was flat and no leak of the program's own was reported, 1
# otherwise.
set -u

BUILD=${1:-}
LOOKUPS=${2:-1000}
if [[ -z $BUILD || ! $LOOKUPS =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 BUILD_DIR [LOOKUPS]" >&2
  exit 2
fi
BUILD=$(realpath "$BUILD")
HERE=$(dirname "$(realpath "$0")")
ROOT=$(realpath "$HERE/../..")
PROG=$BUILD/Addrova
ECHO_SERVER=$BUILD/tests/echo_server
CLOSE_WINDOW=$BUILD/tests/close_window
SUPP=${SOAK_LSAN_SUPP:-$HERE/lsan.supp}
SRC_ROOT=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$BUILD/CMakeCache.txt" 2>/dev/null)
[[ -n $SRC_ROOT ]] || SRC_ROOT=$ROOT
FD_TOLERANCE=1
RSS_BOUND_KB=2048
# shellcheck source=tests/support/netns.sh
. "$ROOT/tests/support/netns.sh"

need_netns Xvfb xdotool xclip
for f in "$PROG" "$ECHO_SERVER" "$CLOSE_WINDOW"; do
  [[ -x $f ]] || { echo "FAIL: $f is missing"; exit 1; }
done

ASAN=0
nm -D "$PROG" 2>/dev/null | grep -q ' U __asan_init' && ASAN=1
if ((ASAN)) && [[ ! -r $SUPP ]]; then
  echo "FAIL: suppressions file $SUPP is missing"
  exit 1
fi

WORK=$(mktemp -d /tmp/addrova-soak-XXXXXX)
PROG_PID=

cleanup() {
  netns_cleanup
  if [[ ${SOAK_KEEP:-0} == 1 ]]; then echo "work directory kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# The program itself, not yet the `ip netns exec` or `env` that precede its exec.
exec_done() { [[ $(readlink "/proc/$PROG_PID/exe" 2>/dev/null) == "$WORK/app/Addrova" ]]; }

# ---- setup -------------------------------------------------------------------------------

netns_create "addrova-soak-$$-$RANDOM" || skip "cannot create a network namespace"
start_echo_server --mode echo ||
  { echo "FAIL: echo_server did not start: $(cat "$WORK/echo_server.out")"; exit 1; }
start_ns_xvfb || { echo "FAIL: Xvfb did not start: $(cat "$WORK/xvfb.out")"; exit 1; }

mkdir -p "$WORK/app"
cp "$PROG" "$WORK/app/Addrova"
printf '[SETTING]\r\nTIMER=1\r\nTIMER_SEC=0\r\nFILESAVE=1\r\nFILEPATH=%s\r\n' "$WORK/out.txt" \
  >"$WORK/app/Addrova.ini"

if ((ASAN)); then
  kind="AddressSanitizer build, LeakSanitizer at exit with $(basename "$SUPP")"
else
  kind="build without sanitizer: no leak check"
fi
echo "soak: $LOOKUPS lookups at interval 0; namespace $NS, display :$DISPLAY_NUM; $kind"

# ---- run ---------------------------------------------------------------------------------

T_START=$(date +%s)
bg_in_ns env DISPLAY=":$DISPLAY_NUM" \
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:fast_unwind_on_malloc=0:malloc_context_size=40${SOAK_ASAN_OPTIONS:+:$SOAK_ASAN_OPTIONS}" \
  LSAN_OPTIONS="suppressions=$SUPP:print_suppressions=1" \
  "$WORK/app/Addrova" >"$WORK/program.out" 2>"$WORK/program.err" &
PROG_PID=$!
PIDS+=("$PROG_PID")
wait_for 10 exec_done || { echo "FAIL: the program did not start"; exit 1; }

: >"$WORK/samples"
# sample LOOKUPS: appends "lookups fds rss_kB threads" and prints it
sample() {
  local fds rss threads
  fds=$(open_fds "$PROG_PID")
  rss=$(proc_status "$PROG_PID" VmRSS)
  threads=$(proc_status "$PROG_PID" Threads)
  [[ -n $rss ]] || return 1
  echo "$1 $fds $rss $threads" >>"$WORK/samples"
  printf '  after %5d lookups: %3d fds, VmRSS %7d kB, %2d threads  (%s)\n' \
    "$1" "$fds" "$rss" "$threads" "$(date +%T)"
}

await_lookups 1 15 || exit 1
sleep 0.5
sample 1 || { echo "FAIL: cannot read /proc/$PROG_PID"; exit 1; }
clip=$(clipboard)
[[ $clip == 127.0.0.1 ]] || fail "after the first lookup the clipboard holds '$clip'"

target=100
completed=1
while ((completed < LOOKUPS)); do
  ((target > LOOKUPS)) && target=$LOOKUPS
  await_lookups "$target" 15 || break
  sleep 0.5
  sample "$target" || break
  completed=$target
  target=$((target + 100))
done
T_END=$(date +%s)

if ((completed < LOOKUPS)); then
  fail "only $completed of $LOOKUPS lookups were reached"
fi
clip=$(clipboard)
[[ $clip == 127.0.0.1 ]] || fail "at the end the clipboard holds '$clip'"
if ! cmp -s "$WORK/out.txt" <(printf '127.0.0.1\r\n'); then
  fail "the output file holds $(od -An -c "$WORK/out.txt" 2>&1 | head -2 | tr -s ' \n' ' ')"
fi
b_requests=$(requests_for "$TARGET_B")
((b_requests == 0)) || fail "$b_requests requests went to the fallback endpoint (endpoint A failed)"

# ---- figures -----------------------------------------------------------------------------

read -r s_n s_fds s_rss s_thr < <(head -n1 "$WORK/samples")
read -r e_n e_fds e_rss e_thr < <(tail -n1 "$WORK/samples")
max_fds=$(awk 'm == "" || $2 > m { m = $2 } END { print m }' "$WORK/samples")
max_rss=$(awk 'm == "" || $3 > m { m = $3 } END { print m }' "$WORK/samples")
max_thr=$(awk 'm == "" || $4 > m { m = $4 } END { print m }' "$WORK/samples")
slope=$(awk '{ n++; sx += $1; sy += $3; sxx += $1 * $1; sxy += $1 * $3 }
  END { d = n * sxx - sx * sx; if (n < 2 || d == 0) print "nan"; else printf "%.1f", 100 * (n * sxy - sx * sy) / d }' \
  "$WORK/samples")
rss_growth=$((e_rss - s_rss))
fd_growth=$((e_fds - s_fds))
echo "lookups counted by the echo server: $(lookups_done) to endpoint A, $b_requests to endpoint B," \
  "in $((T_END - T_START)) s"
echo "open fds:  start $s_fds (after lookup $s_n), end $e_fds (after lookup $e_n), max $max_fds"
echo "VmRSS:     start $s_rss kB, end $e_rss kB, max $max_rss kB;" \
  "growth $rss_growth kB, slope $slope kB per 100 lookups"
echo "threads:   start $s_thr, end $e_thr, max $max_thr"
if ((fd_growth > FD_TOLERANCE || fd_growth < -FD_TOLERANCE)); then
  fail "open descriptors went from $s_fds to $e_fds"
else
  echo "fds: flat"
fi
if ((ASAN)); then
  echo "RSS: not judged in a sanitizer build (growth $rss_growth kB, bound $RSS_BOUND_KB kB)"
elif ((rss_growth >= RSS_BOUND_KB)); then
  fail "VmRSS grew by $rss_growth kB (bound $RSS_BOUND_KB kB)"
else
  echo "RSS: flat (growth $rss_growth kB < $RSS_BOUND_KB kB)"
fi
((e_thr > s_thr + 1)) && fail "threads went from $s_thr to $e_thr"

# ---- close through WM_DELETE_WINDOW and the leak check -----------------------------------

wid=$(window_id)
if [[ -z $wid ]]; then
  fail "no visible window named Addrova to close"
  exit 1
fi
t_close=$(date +%s)
on_display "$CLOSE_WINDOW" "$wid"
if ! wait_for 120 bash -c "! kill -0 $PROG_PID 2>/dev/null"; then
  fail "still running 120 s after WM_DELETE_WINDOW"
  exit 1
fi
wait "$PROG_PID"
status=$?
PROG_PID=
echo "closed through WM_DELETE_WINDOW: ended after $(($(date +%s) - t_close)) s, status $status"

if grep -q 'ERROR: AddressSanitizer' "$WORK/program.err"; then
  fail "AddressSanitizer reported an error:"
  grep -A30 'ERROR: AddressSanitizer' "$WORK/program.err" | head -40
fi

if ((ASAN)); then
  # Sorts every unsuppressed leak: "program" when the innermost frame that is not an
  # allocation wrapper (the sanitizer's interceptors, operator new, GLib's g_malloc
  # family) lies in the program's own sources or binary, else "other". Output: the
  # kind, then the leak's lines; records separated by blank lines.
  awk -v src="$SRC_ROOT/src/" -v bin="$WORK/app/Addrova+" '
    function is_own(line) { return index(line, src) || index(line, bin) }
    function is_wrapper(line) {
      return line ~ /libsanitizer|\/usr\/include\/c\+\+\/|libasan\.so|libstdc\+\+\.so|in operator new|in __interceptor_|in (__libc_)?(malloc|calloc|realloc|strdup|strndup)[ (]/ ||
             line ~ / in g_(try_)?(malloc0?|realloc)(_n)? | in g_(strn?dup|memdup2?|slice_alloc0?|strdup_v?printf|strconcat|strjoinv?) /
    }
    function flush(  i) {
      if (n) { print (kind == "program" ? "program" : "other"); for (i = 0; i < n; i++) print blk[i]; print "" }
      n = 0; kind = ""
    }
    /^(Direct|Indirect) leak of/ { flush(); blk[n++] = $0; next }
    n && /^ *#[0-9]+ / {
      blk[n++] = $0
      if (kind == "" && !is_wrapper($0)) kind = is_own($0) ? "program" : "system"
      next
    }
    n { flush() }
    END { flush() }
  ' "$WORK/program.err" >"$WORK/leaks"
  own=$(grep -cx 'program' "$WORK/leaks")
  other=$(grep -cx 'other' "$WORK/leaks")
  summary=$(grep -m1 '^SUMMARY: AddressSanitizer: .* leaked' "$WORK/program.err")
  suppressed=$(awk '/^Suppressions used:/ { on = 1; next } on && /^ *[0-9]+ +[0-9]+ / { n += $1 }
    on && /^-+$/ { on = 0 } END { print n + 0 }' "$WORK/program.err")
  # Prints the records of one kind, at most $2 lines.
  leaks_of() { awk -v k="$1" 'BEGIN { RS = "" } $1 == k { sub(/^[a-z]+\n/, ""); print; print "" }' \
    "$WORK/leaks" | head -n "$2"; }
  if ((own)); then
    echo "LeakSanitizer: $own leak(s) allocated by the program's own code, $other other(s);" \
      "${summary:-no summary}"
    fail "LeakSanitizer reported leaks in the program's own code:"
    leaks_of program 150
  elif ((other)); then
    echo "LeakSanitizer: no leak allocated by the program's own code; $other leak(s) allocated" \
      "inside system libraries and not suppressed (warning, judge by hand): ${summary:-}"
    leaks_of other 80
  else
    echo "LeakSanitizer: no leaks reported ($suppressed leaked allocation(s) suppressed as" \
      "system-library caches: $(awk '/^Suppressions used:/ { on = 1; next }
        on && /^ *[0-9]+ +[0-9]+ / { printf "%s%s %s B", sep, $3, $2; sep = ", " }
        on && /^-+$/ { on = 0 }' "$WORK/program.err"))"
  fi
  if ((status != 0 && own == 0 && other == 0)); then
    fail "exit status $status"
  fi
elif ((status != 0)); then
  fail "exit status $status"
fi
if grep -qE '(CRITICAL|WARNING) \*\*' "$WORK/program.err"; then
  echo "program stderr has GLib warnings:"
  grep -E '(CRITICAL|WARNING) \*\*' "$WORK/program.err" | sort | uniq -c | head -10
fi

if ((FAILURES)); then
  echo "soak: $FAILURES failure(s)"
  exit 1
fi
echo "soak: PASS"
exit 0
