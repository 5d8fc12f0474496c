#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2317 # scripts in single quotes for bash -c; trap handlers
# Soak test of the Windows build under Wine: LOOKUPS (default 200) lookups of Addrova.exe
# with the refresh timer at interval 0 (a request on every 1-second tick), against
# echo_server on 127.0.0.1:80 in a private network namespace whose hosts file sends both
# address-echo host names and this machine's name there; private Xvfb display, fresh
# Wine prefix.
#
#   tests/soak/soak_wine.sh WIN_BUILD_DIR LINUX_BUILD_DIR [LOOKUPS]
#
# WIN_BUILD_DIR holds the cross-built Addrova.exe (cmake/mingw-w64.cmake);
# LINUX_BUILD_DIR a native build with tests/echo_server and tests/close_window. A copy of
# Addrova.exe runs beside an Addrova.ini with TIMER=1, TIMER_SEC=0 and file output.
# Lookups are counted in echo_server's request log. After the first lookup, after every
# 20th and after the last, half a second after the request, these are sampled:
#   - inside Wine, by win_handles.exe (tests/soak/win_handles.c, cross-compiled here and
#     run in the same prefix and wineserver, once for the whole run): the process's
#     handle count and its GDI and USER object counts. Wine 8 answers neither
#     GetProcessHandleCount nor GetGuiResources, so the helper falls back to the
#     process's entries in the system handle list, the GDI objects in use in its GDI
#     handle table, and its windows (the USER objects that a program makes most); the
#     run prints which source each figure came from;
#   - on the Linux side, the Wine process's open descriptors and VmRSS.
# Verdict: handles end == start ± 2, GDI and USER objects end == start ± 1, descriptors
# end == start ± 1, VmRSS growth < 2048 kB. A figure Wine cannot report ("na") is printed
# and not judged. The program is then closed through WM_DELETE_WINDOW and must end with
# status 0 within 30 s.
#
# Needs root, `ip netns`, wine (64-bit), x86_64-w64-mingw32-gcc, Xvfb, xdotool and xclip;
# without them prints SKIP and exits 77. Exit 0 when everything was flat, 1 otherwise.
# SOAK_KEEP=1 keeps the work directory (prefix, logs, samples) and prints its path.
set -u

WIN_BUILD=${1:-}
LINUX_BUILD=${2:-}
LOOKUPS=${3:-200}
if [[ -z $WIN_BUILD || -z $LINUX_BUILD || ! $LOOKUPS =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 WIN_BUILD_DIR LINUX_BUILD_DIR [LOOKUPS]" >&2
  exit 2
fi
WIN_BUILD=$(realpath "$WIN_BUILD")
LINUX_BUILD=$(realpath "$LINUX_BUILD")
HERE=$(dirname "$(realpath "$0")")
ROOT=$(realpath "$HERE/../..")
EXE=$WIN_BUILD/Addrova.exe
ECHO_SERVER=$LINUX_BUILD/tests/echo_server
CLOSE_WINDOW=$LINUX_BUILD/tests/close_window
HELPER_SRC=$HERE/win_handles.c
SAMPLE_EVERY=20
HANDLE_TOLERANCE=2
GUI_TOLERANCE=1
FD_TOLERANCE=1
RSS_BOUND_KB=2048
# shellcheck source=tests/support/netns.sh
. "$ROOT/tests/support/netns.sh"
# shellcheck source=tests/support/wine_prefix.sh
. "$ROOT/tests/support/wine_prefix.sh"

need_netns wine wineserver wineboot x86_64-w64-mingw32-gcc Xvfb xdotool xclip
[[ -e $EXE ]] || skip "$EXE is missing (cross-build it first)"
for f in "$ECHO_SERVER" "$CLOSE_WINDOW"; do
  [[ -x $f ]] || { echo "FAIL: $f is missing"; exit 1; }
done

LANG=$(wine_lang)
export LANG
unset LC_ALL LC_CTYPE

WORK=$(mktemp -d /tmp/addrova-wsoak-XXXXXX)
export WINEPREFIX=$WORK/prefix
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
export WINEDEBUG=-all
PROG_PID=
HELPER_PID=

cleanup() {
  if [[ -n $HELPER_PID ]]; then
    exec {HELPER_IN}>&- 2>/dev/null
  fi
  # The wineserver of this script's own prefix, and nothing else.
  if [[ -d $WINEPREFIX ]]; then
    timeout 20 wineserver -k 2>/dev/null
  fi
  netns_cleanup
  if [[ ${SOAK_KEEP:-0} == 1 ]]; then echo "work directory kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# ---- namespace, echo server, display ------------------------------------------------------

netns_create "addrova-wsoak-$$-$RANDOM" || skip "cannot create a network namespace"
printf 'hosts: files\n' >"/etc/netns/$NS/nsswitch.conf"
start_echo_server --mode echo ||
  { echo "FAIL: echo_server did not start: $(cat "$WORK/echo_server.out")"; exit 1; }
start_ns_xvfb || { echo "FAIL: Xvfb did not start: $(cat "$WORK/xvfb.out")"; exit 1; }
export DISPLAY=":$DISPLAY_NUM"

# ---- Wine prefix (its wineserver starts inside the namespace) ------------------------------

echo "soak under Wine: $LOOKUPS lookups at interval 0; namespace $NS, display :$DISPLAY_NUM," \
  "$(wine --version 2>/dev/null), LANG=$LANG"
t_prefix=$(date +%s)
wine_prefix_setup ip netns exec "$NS"
echo "Wine prefix ready after $(($(date +%s) - t_prefix)) s"

x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -o "$WORK/win_handles.exe" "$HELPER_SRC" -lpsapi ||
  { echo "FAIL: cannot build win_handles.exe"; exit 1; }

mkdir -p "$WORK/app"
cp "$EXE" "$WORK/app/Addrova.exe"
out_win="Z:${WORK//\//\\}\\out.txt"
printf '[SETTING]\r\nTIMER=1\r\nTIMER_SEC=0\r\nFILESAVE=1\r\nFILEPATH=%s\r\n' "$out_win" \
  >"$WORK/app/Addrova.ini"

# ---- run ---------------------------------------------------------------------------------

T_START=$(date +%s)
bg_in_ns bash -c 'cd "$1" && exec wine Addrova.exe' _ "$WORK/app" >"$WORK/program.log" 2>&1 &
PROG_PID=$!
PIDS+=("$PROG_PID")

# The Linux process that runs Addrova.exe (Wine's loader may hand over to another process).
UNIX_PID=
find_unix_pid() {
  local pid
  for pid in $(ip netns pids "$NS" 2>/dev/null); do
    if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qi 'Addrova\.exe'; then
      [[ $(readlink "/proc/$pid/exe" 2>/dev/null) == *wine* ]] || continue
      UNIX_PID=$pid
      return 0
    fi
  done
  return 1
}

await_lookups 1 30 || { tail -20 "$WORK/program.log"; exit 1; }
find_unix_pid || { echo "FAIL: no Linux process runs Addrova.exe"; exit 1; }

# One win_handles.exe for the whole run, asked for a sample through its standard input.
coproc HELPER { exec ip netns exec "$NS" wine "$WORK/win_handles.exe" --stdin Addrova.exe 2>"$WORK/helper.err"; }
HELPER_IN=${HELPER[1]}
HELPER_OUT=${HELPER[0]}
PIDS+=("$HELPER_PID")

: >"$WORK/samples"
SOURCES=
# sample LOOKUPS: appends "lookups handles gdi user fds rss_kB" and prints it. Each count
# comes from the documented call when Wine answers it, else from the fallback that
# win_handles.exe reads itself (handle list, GDI handle table, windows).
sample() {
  local line fds rss kv handles gdi user
  local -A v=()
  echo >&"$HELPER_IN" || return 1
  IFS= read -r -t 60 line <&"$HELPER_OUT" || { echo "FAIL: win_handles.exe did not answer"; return 1; }
  line=${line%$'\r'}
  echo "$1 $line" >>"$WORK/helper.lines"
  for kv in $line; do v[${kv%%=*}]=${kv#*=}; done
  if [[ -n ${v[error]:-} ]]; then
    echo "FAIL: win_handles.exe: $line"
    return 1
  fi
  local src_h=GetProcessHandleCount src_g=GetGuiResources src_u=GetGuiResources
  handles=${v[handles]:-na}
  [[ $handles == na ]] && { handles=${v[handles_listed]:-na}; src_h="system handle list"; }
  gdi=${v[gdi]:-na}
  [[ $gdi == na ]] && { gdi=${v[gdi_table]:-na}; src_g="GDI handle table"; }
  user=${v[user]:-na}
  [[ $user == na ]] && { user=${v[windows]:-na}; src_u="windows only"; }
  [[ -n $SOURCES ]] || { SOURCES="handles: $src_h; GDI objects: $src_g; USER objects: $src_u"; echo "  ($SOURCES)"; }
  fds=$(open_fds "$UNIX_PID")
  rss=$(proc_status "$UNIX_PID" VmRSS)
  [[ -n $rss ]] || return 1
  echo "$1 $handles $gdi $user $fds $rss" >>"$WORK/samples"
  printf '  after %4d lookups: %4s handles, %4s GDI, %4s USER objects; %3d fds, VmRSS %7d kB  (%s)\n' \
    "$1" "$handles" "$gdi" "$user" "$fds" "$rss" "$(date +%T)"
}

sleep 0.5
sample 1 || exit 1
clip=$(clipboard)
[[ $clip == 127.0.0.1 ]] || fail "after the first lookup the clipboard holds '$clip'"

target=$SAMPLE_EVERY
completed=1
while ((completed < LOOKUPS)); do
  ((target > LOOKUPS)) && target=$LOOKUPS
  await_lookups "$target" 30 || break
  sleep 0.5
  sample "$target" || break
  completed=$target
  target=$((target + SAMPLE_EVERY))
done
T_END=$(date +%s)
((completed < LOOKUPS)) && fail "only $completed of $LOOKUPS lookups were reached"

if ! cmp -s "$WORK/out.txt" <(printf '127.0.0.1\r\n'); then
  fail "the output file holds $(od -An -c "$WORK/out.txt" 2>&1 | head -2 | tr -s ' \n' ' ')"
fi
b_requests=$(requests_for "$TARGET_B")
((b_requests == 0)) || fail "$b_requests requests went to the fallback endpoint (endpoint A failed)"

# ---- figures -----------------------------------------------------------------------------

# column COL NAME TOLERANCE: prints start/end/max of one column and judges it
judge() {
  local col=$1 name=$2 tol=$3 start end max
  start=$(awk -v c="$col" 'NR == 1 { print $c }' "$WORK/samples")
  end=$(awk -v c="$col" 'END { print $c }' "$WORK/samples")
  max=$(awk -v c="$col" '$c != "na" && (m == "" || $c + 0 > m) { m = $c + 0 } END { print (m == "" ? "na" : m) }' \
    "$WORK/samples")
  printf '%-13s start %s, end %s, max %s' "$name:" "$start" "$end" "$max"
  if [[ $start == na || $end == na ]]; then
    echo "  (not reported by Wine: not judged)"
  elif ((end - start > tol || start - end > tol)); then
    echo
    fail "$name went from $start to $end (tolerance ±$tol)"
  else
    echo "  flat"
  fi
}

echo "lookups counted by the echo server: $(lookups_done) to endpoint A, $b_requests to endpoint B," \
  "in $((T_END - T_START)) s"
if [[ -s $WORK/samples ]]; then
  judge 2 "handles" "$HANDLE_TOLERANCE"
  judge 3 "GDI objects" "$GUI_TOLERANCE"
  judge 4 "USER objects" "$GUI_TOLERANCE"
  judge 5 "Linux fds" "$FD_TOLERANCE"
  read -r _ _ _ _ _ s_rss < <(head -n1 "$WORK/samples")
  read -r _ _ _ _ _ e_rss < <(tail -n1 "$WORK/samples")
  max_rss=$(awk 'm == "" || $6 > m { m = $6 } END { print m }' "$WORK/samples")
  slope=$(awk '{ n++; sx += $1; sy += $6; sxx += $1 * $1; sxy += $1 * $6 }
    END { d = n * sxx - sx * sx; if (n < 2 || d == 0) print "nan"; else printf "%.1f", 100 * (n * sxy - sx * sy) / d }' \
    "$WORK/samples")
  echo "VmRSS:        start $s_rss kB, end $e_rss kB, max $max_rss kB; growth $((e_rss - s_rss)) kB," \
    "slope $slope kB per 100 lookups"
  if ((e_rss - s_rss >= RSS_BOUND_KB)); then
    fail "VmRSS grew by $((e_rss - s_rss)) kB (bound $RSS_BOUND_KB kB)"
  fi
fi

# ---- close through WM_DELETE_WINDOW ------------------------------------------------------

exec {HELPER_IN}>&-
wait "$HELPER_PID" 2>/dev/null
HELPER_PID=
wid=$(window_id)
if [[ -z $wid ]]; then
  fail "no visible window named Addrova to close"
else
  t_close=$(date +%s)
  on_display "$CLOSE_WINDOW" "$wid"
  if wait_for 30 bash -c "! kill -0 $PROG_PID 2>/dev/null"; then
    wait "$PROG_PID"
    status=$?
    echo "closed through WM_DELETE_WINDOW: ended after $(($(date +%s) - t_close)) s, status $status"
    ((status == 0)) || fail "exit status $status"
  else
    fail "still running 30 s after WM_DELETE_WINDOW"
  fi
fi

if ((FAILURES)); then
  echo "soak under Wine: $FAILURES failure(s)"
  exit 1
fi
echo "soak under Wine: PASS"
exit 0
