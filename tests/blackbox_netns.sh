#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2317 # scripts in single quotes for bash -c; trap handlers
# Black-box test of the unmodified program binary, in a private network namespace whose
# hosts file sends both address-echo host names (and this machine's host name) to
# 127.0.0.1, where echo_server listens on port 80. The program runs on its own Xvfb
# display; the clipboard is read with xclip and the window title with xdotool.
#
#   tests/blackbox_netns.sh PROGRAM ECHO_SERVER [CLOSE_WINDOW]
#
# Cases:
#   1. both endpoints up: the clipboard holds exactly "127.0.0.1" within 2 s of the start,
#      the title is "Addrova : HOST ( 127.0.0.1 )", and only endpoint A was asked;
#   2. endpoint A answers 500, then endpoint A's host refuses connections: the address
#      comes from endpoint B each time;
#   3. Addrova.ini beside a copy of the binary with a 1-second refresh and file output:
#      the file holds "127.0.0.1" CR LF and requests arrive every 2 s (4 ± 1 in 7 s, the
#      first included);
#   4. both endpoints accept and never answer: closing the window (WM_DELETE_WINDOW, sent
#      by close_window from the same build) ends the process at once, with status 0;
#   5. terminal mode: --print writes "127.0.0.1" and a newline with DISPLAY unset and exits
#      0, takes endpoint B's answer when A fails, and with both down writes nothing to
#      standard output, 取得エラー to standard error and exits 1; it touches neither the
#      clipboard, nor the save file, nor the settings; --version and --help exit 0, an
#      unknown option or a second one exits 2 with the usage on standard error;
#   6. installed as a package, run by an ordinary user (uid 65534) who cannot write to the
#      program's folder: the administrator's Addrova.ini beside it gives the start values;
#      the options button and 適用, clicked with xdotool, write the user's own
#      XDG_CONFIG_HOME/addrova/Addrova.ini (no error box), which is read from then on.
#
# Needs root, `ip netns`, Xvfb, xclip, xdotool and setpriv. Without them it prints SKIP and exits
# 77, unless CI=true, where that is a failure. Exit 0 when every case passed, 1 otherwise.
set -u

PROG=${1:-}
ECHO_SERVER=${2:-}
if [[ -z $PROG || -z $ECHO_SERVER ]]; then
  echo "usage: $0 PROGRAM ECHO_SERVER" >&2
  exit 2
fi
PROG=$(realpath "$PROG")
ECHO_SERVER=$(realpath "$ECHO_SERVER")
CLOSE_WINDOW=$(realpath "${3:-$(dirname "$ECHO_SERVER")/close_window}")

ROOT=$(cd "$(dirname "$(realpath "$0")")/.." && pwd)
# shellcheck source=tests/support/netns.sh
. "$ROOT/tests/support/netns.sh"

# Stricter than the shared one: under CI a missing tool is a failure.
skip() {
  if [[ ${CI:-} == true ]]; then
    echo "FAIL: $1 (CI=true: not skipping)"
    exit 1
  fi
  echo "SKIP: $1"
  exit 77
}

need_netns Xvfb xclip xdotool realpath setpriv
[[ -x $PROG ]] || { echo "FAIL: $PROG is not an executable"; exit 1; }
[[ -x $ECHO_SERVER ]] || { echo "FAIL: $ECHO_SERVER is not an executable"; exit 1; }

WORK=$(mktemp -d /tmp/addrova-blackbox-XXXXXX)
# Case 6 runs the program as an ordinary user, who must reach their own folders in here.
chmod 0711 "$WORK"
trap 'netns_cleanup; rm -rf "$WORK"' EXIT
trap 'exit 1' INT TERM HUP

now() { echo "$EPOCHREALTIME"; }

elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

# echo_server for one case, with the case's options
serve() {
  start_echo_server "$@" || {
    echo "FAIL: echo_server did not start: $(cat "$WORK/echo_server.out")"
    exit 1
  }
}

# Starts the program in the namespace on the test display; its start time goes to
# $WORK/t0, taken just before the exec. RUN_AS, when set, is the command (and its
# arguments) that runs the program as another user.
PROG_PID=
RUN_AS=()
start_program() {
  local binary=$1
  rm -f "$WORK/t0"
  : >"$WORK/t0"
  chmod 0666 "$WORK/t0"
  bg_in_ns "${RUN_AS[@]}" env DISPLAY=":$DISPLAY_NUM" bash -c \
    ': >"$1"; echo "$EPOCHREALTIME" >"$1"; exec "$2"' _ "$WORK/t0" "$binary" \
    >"$WORK/program.out" 2>&1 &
  PROG_PID=$!
  PIDS+=("$PROG_PID")
  wait_for 5 test -s "$WORK/t0"
}

stop_program() {
  kill "$PROG_PID" 2>/dev/null
  wait "$PROG_PID" 2>/dev/null
  PROG_PID=
  # An empty clipboard for the next case: the owner has gone.
}

# Polls the clipboard until it holds exactly $1; prints the seconds since the program's
# start, or returns 1 after $2 seconds.
CLIP_SECONDS=
await_clipboard() {
  local want=$1 limit=$2 t0 got
  t0=$(cat "$WORK/t0")
  while :; do
    got=$(clipboard)
    if [[ $got == "$want" ]]; then
      CLIP_SECONDS=$(elapsed "$t0" "$(now)")
      return 0
    fi
    if awk -v a="$t0" -v b="$(now)" -v l="$limit" 'BEGIN { exit !(b - a > l) }'; then
      CLIP_SECONDS=$(elapsed "$t0" "$(now)")
      echo "  clipboard after ${CLIP_SECONDS} s: '$got'"
      return 1
    fi
    sleep 0.02
  done
}

window_title() {
  local id
  id=$(on_display xdotool search --name '^Addrova : ' 2>/dev/null | head -n1)
  [[ -n $id ]] && on_display xdotool getwindowname "$id"
}

# ---- cases -------------------------------------------------------------------------------

case_both_endpoints_up() {
  echo "== case 1: both endpoints up"
  write_hosts 127.0.0.1
  serve --mode echo
  start_program "$PROG"
  if await_clipboard 127.0.0.1 2; then
    echo "  clipboard '127.0.0.1' after ${CLIP_SECONDS} s"
  else
    # Late is wrong too, but say whether it came at all.
    await_clipboard 127.0.0.1 10 && echo "  (it arrived after ${CLIP_SECONDS} s)"
    fail "case 1: clipboard did not hold exactly '127.0.0.1' within 2 s"
  fi
  local want="Addrova : $HOST ( 127.0.0.1 )" title=
  wait_for 3 window_title >/dev/null
  title=$(window_title)
  if [[ $title == "$want" ]]; then
    echo "  title '$title'"
  else
    fail "case 1: title '$title', expected '$want'"
  fi
  local a b
  a=$(requests_for "$TARGET_A")
  b=$(requests_for "$TARGET_B")
  [[ $a == 1 && $b == 0 ]] || fail "case 1: requests A=$a B=$b, expected A=1 B=0"
  stop_program
}

case_endpoint_a_down() {
  echo "== case 2a: endpoint A answers 500"
  write_hosts 127.0.0.1
  serve --mode echo --route "$TARGET_A=status500"
  start_program "$PROG"
  if await_clipboard 127.0.0.1 5; then
    echo "  clipboard '127.0.0.1' after ${CLIP_SECONDS} s"
  else
    fail "case 2a: clipboard did not hold '127.0.0.1'"
  fi
  local a b
  a=$(requests_for "$TARGET_A")
  b=$(requests_for "$TARGET_B")
  [[ $a == 1 && $b == 1 ]] || fail "case 2a: requests A=$a B=$b, expected A=1 B=1"
  stop_program

  echo "== case 2b: endpoint A's host refuses connections"
  write_hosts 127.0.0.2  # nothing listens there
  serve --mode echo
  start_program "$PROG"
  if await_clipboard 127.0.0.1 5; then
    echo "  clipboard '127.0.0.1' after ${CLIP_SECONDS} s"
  else
    fail "case 2b: clipboard did not hold '127.0.0.1'"
  fi
  a=$(requests_for "$TARGET_A")
  b=$(requests_for "$TARGET_B")
  [[ $a == 0 && $b == 1 ]] || fail "case 2b: requests A=$a B=$b, expected A=0 B=1"
  stop_program
  write_hosts 127.0.0.1
}

case_settings_timer_and_file() {
  echo "== case 3: Addrova.ini with a 1-second refresh and file output"
  local app="$WORK/app" out="$WORK/out.txt"
  mkdir -p "$app"
  cp "$PROG" "$app/Addrova"
  printf '[SETTING]\r\nTIMER=1\r\nTIMER_SEC=1\r\nFILESAVE=1\r\nFILEPATH=%s\r\n' "$out" \
    >"$app/Addrova.ini"
  write_hosts 127.0.0.1
  serve --mode echo
  start_program "$app/Addrova"
  local t0
  t0=$(cat "$WORK/t0")
  sleep 7
  local n
  n=$(awk -v t0="$t0" -v a="$TARGET_A" '$3 == a && $1 - t0 <= 7.0' "$WORK/requests.log" | wc -l)
  echo "  $n requests in the first 7 s:" \
    "$(awk -v t0="$t0" '{ printf " %.2f", $1 - t0 }' "$WORK/requests.log")"
  ((n >= 3 && n <= 5)) || fail "case 3: $n requests in 7 s, expected 4 ± 1"
  if [[ -f $out ]] && cmp -s "$out" <(printf '127.0.0.1\r\n'); then
    echo "  out.txt holds '127.0.0.1' CR LF"
  else
    fail "case 3: out.txt holds $(od -c "$out" 2>&1 | head -3 | tr '\n' ' ')"
  fi
  stop_program
}

# Conditions for wait_for, evaluated afresh on every poll.
window_shown() { [[ -n $(window_id) ]]; }
a_requested() { (($(requests_for "$TARGET_A") >= 1)); }

case_close_while_busy() {
  echo "== case 4: closing the window while a lookup hangs"
  write_hosts 127.0.0.1
  serve --mode silent
  start_program "$PROG"
  local id=
  wait_for 5 window_shown
  id=$(window_id)
  wait_for 5 a_requested || fail "case 4: no request reached the server"
  local t0 status
  t0=$(now)
  on_display "$CLOSE_WINDOW" "$id"
  if wait_for 2 bash -c "! kill -0 $PROG_PID 2>/dev/null"; then
    wait "$PROG_PID"
    status=$?
    echo "  ended $(elapsed "$t0" "$(now)") s after the close, status $status"
    ((status == 0)) || fail "case 4: exit status $status"
  else
    fail "case 4: still running 2 s after the window was closed"
  fi
  PROG_PID=
}

# check_run NAME STATUS STDOUT STDERR -- COMMAND…: runs COMMAND in the namespace with
# DISPLAY unset and compares its exit status and outputs (STDOUT/STDERR are patterns for
# [[ == ]]; quote them for exact text).
check_run() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4 out err status
  shift 5
  in_ns env -u DISPLAY "$@" >"$WORK/cli.out" 2>"$WORK/cli.err"
  status=$?
  out=$(cat "$WORK/cli.out")
  err=$(cat "$WORK/cli.err")
  echo "  $name: status $status, stdout '${out%%$'\n'*}', stderr '${err%%$'\n'*}'"
  ((status == want_status)) || fail "case 5, $name: exit status $status, expected $want_status"
  # shellcheck disable=SC2053 # patterns on purpose
  [[ $out == $want_out ]] || fail "case 5, $name: standard output '$out'"
  # shellcheck disable=SC2053
  [[ $err == $want_err ]] || fail "case 5, $name: standard error '$err'"
}

case_terminal_mode() {
  echo "== case 5: terminal mode"
  local app="$WORK/cli" ini_sum
  mkdir -p "$app/home"
  cp "$PROG" "$app/Addrova"
  printf '[SETTING]\r\nTIMER=1\r\nTIMER_SEC=5\r\nFILESAVE=1\r\nFILEPATH=%s\r\n' "$app/out.txt" \
    >"$app/Addrova.ini"
  ini_sum=$(cksum <"$app/Addrova.ini")
  # The clipboard holds a marker that no run may replace.
  in_ns env DISPLAY=":$DISPLAY_NUM" xclip -selection clipboard -i <<<"marker" 2>/dev/null
  local cli=(env HOME="$app/home" XDG_CONFIG_HOME="$app/home/.config" "$app/Addrova")

  write_hosts 127.0.0.1
  serve --mode echo
  check_run "--print, both endpoints up" 0 "127.0.0.1" "" -- "${cli[@]}" --print
  cmp -s "$WORK/cli.out" <(printf '127.0.0.1\n') ||
    fail "case 5: --print wrote $(od -c "$WORK/cli.out" | head -2 | tr '\n' ' ')"
  [[ $(requests_for "$TARGET_A") == 1 && $(requests_for "$TARGET_B") == 0 ]] ||
    fail "case 5: requests A=$(requests_for "$TARGET_A") B=$(requests_for "$TARGET_B")"

  write_hosts 127.0.0.2  # endpoint A's host refuses connections
  serve --mode echo
  check_run "--print, endpoint A down" 0 "127.0.0.1" "" -- "${cli[@]}" --print
  [[ $(requests_for "$TARGET_B") == 1 ]] || fail "case 5: endpoint B was not asked"
  write_hosts 127.0.0.1

  serve --mode status500
  check_run "--print, both endpoints down" 1 "" "取得エラー" -- "${cli[@]}" --print
  [[ $(requests_for "$TARGET_A") == 1 && $(requests_for "$TARGET_B") == 1 ]] ||
    fail "case 5: requests A=$(requests_for "$TARGET_A") B=$(requests_for "$TARGET_B")"

  # With a display at hand it still opens no window and leaves the clipboard alone.
  serve --mode echo
  on_display "${cli[@]}" --print >"$WORK/cli.out" 2>&1 || fail "case 5: --print with DISPLAY failed"
  [[ -z $(window_id) ]] || fail "case 5: --print opened a window"

  check_run "--version" 0 "addrova 1.0.0" "" -- "${cli[@]}" --version
  check_run "--help" 0 "*--print*" "" -- "${cli[@]}" --help
  check_run "unknown option" 2 "" "*--bogus*使い方*" -- "${cli[@]}" --bogus
  check_run "two options" 2 "" "*使い方*" -- "${cli[@]}" --print --version

  [[ $(clipboard) == marker ]] || fail "case 5: the clipboard holds '$(clipboard)', not the marker"
  [[ ! -e $app/out.txt ]] || fail "case 5: --print wrote the save file"
  [[ $(cksum <"$app/Addrova.ini") == "$ini_sum" ]] || fail "case 5: the settings file changed"
  [[ ! -e $app/home/.config/addrova ]] || fail "case 5: --print created $app/home/.config/addrova"
}

# Clicks at a point of a window given in its own pixels.
click_in() { on_display xdotool mousemove --sync --window "$1" "$2" "$3" click 1; }
options_dialog() { on_display xdotool search --onlyvisible --name '^設定$' 2>/dev/null | head -n1; }
dialog_shown() { [[ -n $(options_dialog) ]]; }
dialog_gone() { [[ -z $(options_dialog) ]]; }
file_is_address() { [[ -f $1 ]] && cmp -s "$1" <(printf '127.0.0.1\r\n'); }
user_ini_written() { grep -q '^FILESAVE=1' "$1" 2>/dev/null; }

case_installed_for_a_user() {
  echo "== case 6: installed program, settings of an ordinary user"
  local top="$WORK/installed" home="$WORK/installed/home"
  local prog="$top/usr/lib/addrova" own="$WORK/installed/home/.config/addrova/Addrova.ini"
  mkdir -p "$prog" "$home" "$top/run" "$top/out"
  cp "$PROG" "$prog/Addrova"
  printf '[SETTING]\r\nTIMER=0\r\nTIMER_SEC=5\r\nFILESAVE=1\r\nFILEPATH=%s\r\n' \
    "$top/out/admin.txt" >"$prog/Addrova.ini"
  chmod -R a+rX "$top"
  chown 65534:65534 "$home" "$top/run" "$top/out"
  chmod 0700 "$top/run"
  RUN_AS=(setpriv --reuid=65534 --regid=65534 --clear-groups
          env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$top/run")
  write_hosts 127.0.0.1
  serve --mode echo

  start_program "$prog/Addrova"
  if wait_for 5 file_is_address "$top/out/admin.txt"; then
    echo "  the administrator's settings apply: admin.txt holds '127.0.0.1' CR LF"
  else
    fail "case 6: the administrator's save file was not written ($(cat "$WORK/program.out"))"
  fi
  [[ ! -e $home/.config/addrova ]] || fail "case 6: the start alone created $home/.config/addrova"

  local main_id dialog
  main_id=$(window_id)
  if [[ -z $main_id ]]; then
    fail "case 6: no window"
  else
    click_in "$main_id" 380 19  # the options button
    if wait_for 5 dialog_shown; then
      dialog=$(options_dialog)
      click_in "$dialog" 329 220  # 適用
      if wait_for 5 user_ini_written "$own"; then
        echo "  適用 wrote $own:" "$(tr -d '\r' <"$own" | tr '\n' ' ')"
        [[ $(stat -c %u "$own") == 65534 ]] || fail "case 6: $own is not the user's"
      else
        fail "case 6: 適用 did not write $own"
      fi
      sleep 0.3
      # A refused write would show a message box titled with the program's name alone.
      [[ -z $(on_display xdotool search --onlyvisible --name '^Addrova$' 2>/dev/null) ]] ||
        fail "case 6: a message box after 適用"
      click_in "$dialog" 433 220  # 閉じる
      wait_for 5 dialog_gone || fail "case 6: the options dialog did not close"
    else
      fail "case 6: the options button opened no dialog"
    fi
  fi
  stop_program
  cmp -s "$prog/Addrova.ini" \
    <(printf '[SETTING]\r\nTIMER=0\r\nTIMER_SEC=5\r\nFILESAVE=1\r\nFILEPATH=%s\r\n' \
      "$top/out/admin.txt") || fail "case 6: the administrator's file changed"

  # From now on the user's file counts: pointed at another save file, that one is written.
  if [[ -f $own ]]; then
    sed -i "s|^FILEPATH=.*|FILEPATH=$top/out/user.txt\r|" "$own"
    rm -f "$top/out/admin.txt"
    start_program "$prog/Addrova"
    if wait_for 5 file_is_address "$top/out/user.txt"; then
      echo "  after a restart the user's file applies: user.txt holds '127.0.0.1' CR LF"
    else
      fail "case 6: the user's settings were not read after a restart"
    fi
    [[ ! -e $top/out/admin.txt ]] || fail "case 6: the administrator's save file was written"
    stop_program
  fi
  RUN_AS=()
}

# ---- setup -------------------------------------------------------------------------------

netns_create "addrova-bb-$$-$RANDOM" || skip "cannot create a network namespace"
start_ns_xvfb || { echo "FAIL: Xvfb did not start: $(cat "$WORK/xvfb.out")"; exit 1; }
echo "namespace $NS, display :$DISPLAY_NUM, host name $HOST"

case_both_endpoints_up
case_endpoint_a_down
case_settings_timer_and_file
case_close_while_busy
case_terminal_mode
case_installed_for_a_user

if ((FAILURES)); then
  echo "blackbox: $FAILURES failure(s)"
  exit 1
fi
echo "blackbox: PASS"
exit 0
