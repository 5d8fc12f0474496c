#!/usr/bin/env bash
# bench/run_all.sh [--linux-build DIR] [--win-build DIR] [--bench-win-build DIR]: every
# speed, memory and size figure of the program beside its reference, measured in one run;
# README.md's "Performance" says how. Builds what it is not given, under build/. Environment:
# RUNS (10), LOOKUPS (50), WINE_RUNS (10), IDLE_SECONDS (60). Needs root. Exits 0 once every
# figure was printed, 1 when one could not be measured, 77 when it cannot run.
set -u -o pipefail
ROOT=$(cd "$(dirname "$(realpath "$0")")/.." && pwd)
# shellcheck source-path=SCRIPTDIR/.. # the shared helpers
. "$ROOT/tests/support/netns.sh" && . "$ROOT/tests/support/wine_prefix.sh" && . "$ROOT/scripts/packages.sh"
RUNS=${RUNS:-10} LOOKUPS=${LOOKUPS:-50} WINE_RUNS=${WINE_RUNS:-10} IDLE_SECONDS=${IDLE_SECONDS:-60}
declare -A DIR=([linux]=$ROOT/build/bench [win]=$ROOT/build/win [bench-win]=$ROOT/build/bench-win) GIVEN=()
while [[ ${1:-} =~ ^--(linux|win|bench-win)-build$ && -n ${2:-} ]]; do
  DIR[${BASH_REMATCH[1]}]=$(realpath "$2") GIVEN[${BASH_REMATCH[1]}]=1 && shift 2
done
(($# == 0)) || { echo "usage: $0 [--linux-build DIR] [--win-build DIR] [--bench-win-build DIR]" >&2; exit 2; }

[[ $(id -u) == 0 ]] || skip "needs root (network namespaces, packages)"
install_packages "${BUILD_PACKAGES[@]}" xvfb xclip x11-utils xdotool curl iproute2 fonts-noto-cjk hyperfine jq \
  g++-mingw-w64-x86-64-posix wine wine64 fonts-wine locales
need_netns Xvfb xclip xprop xdotool curl hyperfine jq wine wineserver x86_64-w64-mingw32-gcc-posix
WORK=$(mktemp -d /tmp/addrova-bench-XXXXXX)
trap 'netns_cleanup; rm -rf "$WORK"' EXIT
trap 'exit 1' INT TERM HUP

# build NAME SOURCE "TARGET…" CMAKE_ARGUMENT…: builds into DIR[NAME], unless it was given.
build() {
  [[ -n ${GIVEN[$1]:-} ]] && return
  # shellcheck disable=SC2086 # the targets are split
  { cmake -S "$2" -B "${DIR[$1]}" "${@:4}" && cmake --build "${DIR[$1]}" -j2 --target $3; } \
    >"$WORK/build.log" 2>&1 || { tail -20 "$WORK/build.log"; echo "the $1 build failed"; exit 1; }
}
build linux "$ROOT" "Addrova lookup_driver bare_window clip_watch echo_server blackbox_tests" -DCMAKE_BUILD_TYPE=Release
build win "$ROOT" Addrova -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake"
build bench-win "$ROOT/bench/win" bare_window -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake"

# Private copies: no Addrova.ini beside them, so the refresh timer is off.
A=$WORK/app && mkdir "$A"
cp "${DIR[linux]}"/{Addrova,bench/lookup_driver,bench/bare_window,bench/clip_watch} \
  "${DIR[win]}/Addrova.exe" "${DIR[bench-win]}/bare_window.exe" "$A/"
ECHO_SERVER=${DIR[linux]}/tests/echo_server
LINUX_BUILD=${DIR[linux]} # the endpoints' host names come from its CMake cache
URL="http://$(endpoint_host A)/Current%20IP%20Check.htm"
netns_create "addrova-bench-$$" || skip "cannot create a network namespace"
printf 'hosts: files\n' >"/etc/netns/$NS/nsswitch.conf"  # names from the hosts file only
start_echo_server --mode echo || { echo "echo_server did not start: $(cat "$WORK/echo_server.out")"; exit 1; }
start_ns_xvfb || { echo "Xvfb did not start: $(cat "$WORK/xvfb.out")"; exit 1; }
ENV=(env DISPLAY=":$DISPLAY_NUM")
# A client that stays connected, as a desktop's do: the X server does not reset, and the
# GL probe GTK caches on the root window (GDK_VISUALS) at the first bare window stays.
bg_in_ns "${ENV[@]}" xprop -root -spy >/dev/null & PIDS+=($!)
in_ns "${ENV[@]}" timeout 30 "$A/bare_window" || { echo "the first bare window was not drawn within 30 s"; exit 1; }
PROBE_GL='xprop -root -remove GDK_VISUALS'

# timed RUNS NAME COMMAND…: hyperfine's median times in ms of the COMMANDs, one a line, run
# in the namespace with ENV, without a shell; hyperfine's own report goes to stderr.
timed() {
  in_ns "${ENV[@]}" hyperfine -N --style basic --warmup 2 --runs "$1" --export-json "$WORK/$2.json" "${@:3}" >&2 &&
    jq '.results[].median * 1000' "$WORK/$2.json"
}
# Before each start that ends at the clipboard: other text on it, and time for Wine's
# desktop process to take that in, so that the next new owner is the program.
OTHER='echo other | xclip -selection clipboard -i >/dev/null && sleep 0.3'
# median_of RUNS COMMAND…: the median of the numbers COMMAND prints in RUNS runs (each after OTHER).
median_of() {
  for _ in $(seq "$1"); do in_ns "${ENV[@]}" sh -c "$OTHER" && in_ns "${ENV[@]}" "${@:2}" || return 1; done |
    jq -s 'sort | (.[(length - 1) / 2 | floor] + .[length / 2 | floor]) / 2'
}
# figure NAME VALUE UNIT GOAL [REFERENCE REFERENCE_VALUE]: a row of the summary; the goal is
# on VALUE / REFERENCE_VALUE when there is a reference, else on VALUE; "-" for none.
figure() {
  jq -cn --arg f "$1" --arg v "$2" --arg u "$3" --arg g "$4" --arg r "${5:-}" --arg rv "${6:-}" \
    'def n: tonumber? // null; {$f, $u, $r, v: ($v | n), g: ($g | n), rv: ($rv | n)}' >>"$WORK/figures"
}

echo "== lookup, request -> clipboard (lookup_driver, $LOOKUPS lookups) vs curl -s"
lookup=$(in_ns "${ENV[@]}" "$A/lookup_driver" "$LOOKUPS" | sed -n 's/^median_ms=//p')
[[ $(in_ns curl -s -m 10 "$URL") == *"Current IP Address: 127.0.0.1"* ]] || echo "warning: curl's page is not the echo"
figure "lookup, request -> clipboard" "$lookup" ms 0.5 "curl -s, whole process" \
  "$(timed "$LOOKUPS" curl "curl -s -o /dev/null $URL")"

echo "== peak RSS 300 ms after the address / the first frame, median of $RUNS"
kb=$(median_of "$RUNS" "$A/clip_watch" -m 127.0.0.1 "$A/Addrova")
figure "peak RSS after the first lookup" "$kb" kB 1.2 "bare GTK window with one Japanese label" \
  "$(median_of "$RUNS" "$A/bare_window" --label --hwm)"
figure "  the same, for information" "$kb" kB - "bare GTK window" "$(median_of "$RUNS" "$A/bare_window" --hwm)"
figure "  the same, for information" "$kb" kB - "bare window probing GL" \
  "$(median_of "$RUNS" sh -c "$PROBE_GL && exec $A/bare_window --hwm")"

echo "== exec -> address on the clipboard vs exec -> bare GTK window drawn"
mapfile -t t < <(timed "$RUNS" start --prepare "sh -c '$OTHER'" --prepare true --prepare true \
  --prepare "$PROBE_GL" "$A/clip_watch $A/Addrova" "$A/bare_window" "$A/bare_window --label" "$A/bare_window")
figure "exec -> address on the clipboard (Linux)" "${t[0]:-}" ms 1.15 "bare GTK window with one Japanese label drawn" "${t[2]:-}"
figure "  the same, for information" "${t[0]:-}" ms - "bare GTK window drawn" "${t[1]:-}"
figure "  the same, for information" "${t[0]:-}" ms - "bare window probing GL" "${t[3]:-}"
figure "size of Addrova.exe (1 KB = 1024 bytes)" "$(jq -n "$(stat -c %s "$A/Addrova.exe") / 1024")" KB 350

echo "== idle CPU: blackbox_tests, Soak.Idle*, $IDLE_SECONDS s"
ADDROVA_IDLE_SECONDS=$IDLE_SECONDS "${DIR[linux]}/tests/blackbox_tests" --gtest_filter='Soak.Idle*' | tee "$WORK/idle"
idle=$(sed -n 's/^CPU in [0-9]* idle seconds: \([0-9]*\) ms.*/\1/p' "$WORK/idle")
figure "CPU in $IDLE_SECONDS idle seconds, timer off" "$idle" ms 10

echo "== under Wine: Addrova.exe exec -> address on the clipboard vs bare_window.exe painted"
make_ja_locale && WINEPREFIX=$WORK/prefix
ENV=(env -u LC_ALL -u LC_CTYPE LANG="$(wine_lang)" WINEPREFIX="$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all DISPLAY=":$DISPLAY_NUM")
wine_prefix_setup ip netns exec "$NS" "${ENV[@]}"
# A persistent wineserver, and bare_window.exe --hold keeping Wine's desktop process up, so
# that no timed start pays for either; one untimed start checks the address.
in_ns "${ENV[@]}" wineserver -p
bg_in_ns "${ENV[@]}" wine "$A/bare_window.exe" --hold >/dev/null 2>&1 & PIDS+=($!)
median_of 1 "$A/clip_watch" -m 127.0.0.1 wine "$A/Addrova.exe" >/dev/null &&
  mapfile -t w < <(timed "$WINE_RUNS" wine --prepare "sh -c '$OTHER'" "$A/clip_watch wine $A/Addrova.exe" \
    "wine $A/bare_window.exe" "wine $A/bare_window.exe --label")
figure "exec -> address on the clipboard (Wine)" "${w[0]:-}" ms 1.5 "bare Win32 window painted" "${w[1]:-}"
figure "  the same, for information" "${w[0]:-}" ms - "window with label" "${w[2]:-}"

echo "== summary (machine: $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg))"
jq -rs 'def r: . * 100 | round / 100;
  (["figure", "value", "reference", "ratio", "goal", "verdict"] | @tsv), (.[] |
    (if .r == "" then .v elif .v and .rv then .v / .rv else null end) as $x |
    [.f, "\(.v | r? // "?") \(.u)", (if .r > "" then "\(.r): \(.rv | r? // "?") \(.u)" else "-" end),
     (if .r > "" then $x | r? // "?" else "-" end),
     (if .g == null then "-" elif .r > "" then "<= \(.g)x" else "<= \(.g) \(.u)" end),
     (if $x == null then "NOT MEASURED" elif .g == null then "-" elif $x <= .g then "meets" else "MISSES" end)
    ] | @tsv)' "$WORK/figures" | column -t -s $'\t'
jq -se 'all(.v != null and (.r == "" or .rv != null))' "$WORK/figures" >/dev/null
