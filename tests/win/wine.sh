#!/usr/bin/env bash
# CTest's emulator for the Windows build:  wine.sh STATE_DIR ECHO_SERVER PROGRAM [ARG…]
# Runs PROGRAM under Wine in STATE_DIR/prefix (made on first use, then reused; another for
# each ADDROVA_WINE_DPI, a scaled display) with a wineserver that stays until
# `wine.sh STATE_DIR --stop`, which also ends what follows.
# A test run (not --gtest_list_tests) also gets ECHO_SERVER, started once for the build
# on 127.0.0.1 (ADDROVA_TEST_SERVER=127.0.0.1:PORT; its request log, as a Windows path, in
# ADDROVA_TEST_SERVER_LOG), and needs a display (DISPLAY). Without Wine or a display: exit 77
# (skipped), or 1 under CI=true.
set -u
state=$1 echo_server=$2
shift 2
. "$(dirname "$0")/../support/wine_prefix.sh"
alive() { [[ -s $state/$1.pid ]] && kill -0 "$(cat "$state/$1.pid")" 2>/dev/null; }
if [[ $echo_server == --stop ]]; then
  alive echo && kill "$(cat "$state/echo.pid")"
  rm -f "$state/echo.port"
  for p in "$state"/prefix*/; do WINEPREFIX=${p%/} wineserver -k 2>/dev/null; done
  exit 0
fi
skip() { echo "SKIP: $1"; [[ ${CI:-} == true ]] && exit 1; exit 77; }
command -v wine >/dev/null || skip "wine is not installed"
wine_env "$state/prefix${ADDROVA_WINE_DPI:+-$ADDROVA_WINE_DPI}" # a prefix per DPI
wine_prefix_once || { tail -5 "$WINEPREFIX.log"; exit 1; }
if [[ " $* " != *" --gtest_list_tests "* ]]; then
  [[ -n ${DISPLAY:-} ]] || skip "no display (DISPLAY is not set)"
  wineserver -p </dev/null >/dev/null 2>&1 # a listing leaves none: its server ends by itself
  (
    flock 9
    if [[ -x $echo_server ]] && ! alive echo; then
      rm -f "$state/echo.port"
      setsid "$echo_server" --port 0 --bind 127.0.0.1 --ready-file "$state/echo.port" \
        --log "$state/requests.log" </dev/null >>"$state/echo.out" 2>&1 9>&- &
      echo $! >"$state/echo.pid"
      for _ in {1..100}; do [[ -s $state/echo.port ]] && break; sleep 0.05; done
    fi
  ) 9>"$state/run.lock"
  [[ -s $state/echo.port ]] && export ADDROVA_TEST_SERVER=127.0.0.1:$(cat "$state/echo.port") \
    ADDROVA_TEST_SERVER_LOG="Z:${state//\//\\}\\requests.log"
fi
# Through files: Wine's own processes that outlive this one (services, the desktop) must
# not hold CTest's pipes open.
out=$(mktemp)
wine "$@" </dev/null >"$out.out" 2>"$out"
rc=$?
cat "$out.out" && cat "$out" >&2
rm -f "$out" "$out.out"
exit $rc
