# shellcheck shell=bash
# The Wine prefixes of the Windows tests: made once in the build folder, then reused.
# Sourced: . "$ROOT/tests/support/wine_prefix.sh"

# wine_env PREFIX: the environment of every Wine run. LANG is ja_JP.UTF-8 (code page 932,
# Japanese font defaults; the locale is made when missing) unless ADDROVA_WINE_LANG
# names another, e.g. en_US.UTF-8 for code page 1252.
wine_env() {
  mkdir -p "$(dirname "$1")"
  export WINEPREFIX=$1 WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all # no Mono or Gecko prompts
  export LANG=${ADDROVA_WINE_LANG:-ja_JP.UTF-8}
  unset LC_ALL LC_CTYPE
  locale -a 2>/dev/null | grep -qix "${LANG%%.*}\.utf-\?8" ||
    localedef -i "${LANG%%.*}" -f UTF-8 "$LANG" 2>/dev/null || true
}
# For bench/run_all.sh: the Japanese locale made when missing, and the LANG for Wine.
make_ja_locale() { locale -a | grep -qix 'ja_JP\.utf-\?8' || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 2>/dev/null || true; }
wine_lang() { echo ja_JP.UTF-8; }

# bounded SECONDS COMMAND…: COMMAND, ended after SECONDS with a message saying so.
bounded() {
  local rc=0
  timeout -k 5 "$1" "${@:2}" || rc=$?
  ((rc != 124 && rc != 137)) || echo "did not finish within $1 s: ${*:2}" >&2
  return $rc
}

# wine_prefix_setup [COMMAND…]: makes $WINEPREFIX, each Wine command run through COMMAND…
# (e.g. ip netns exec NS env …); the output in $WINEPREFIX.log. At ADDROVA_WINE_DPI if set.
wine_prefix_setup() {
  {
    bounded 300 "$@" wineboot -i && bounded 120 "$@" wineserver -w || return 1
    # Tahoma falls back to Noto Sans CJK for Japanese, as it does to a Japanese font on
    # Windows. Set after wineboot: Wine writes its own links for the locale on first start.
    bounded 60 "$@" wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v Tahoma /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK JP' /f
    # Wine draws the window frames itself (there is no window manager on the display).
    bounded 60 "$@" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    # A scaled display: Wine 8 takes the DPI from LogPixels in either key.
    for key in 'HKCU\Control Panel\Desktop' \
      'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
      [[ -z ${ADDROVA_WINE_DPI:-} ]] || bounded 60 "$@" wine reg add "$key" /v LogPixels /t REG_DWORD /d "$ADDROVA_WINE_DPI" /f
    done
    bounded 120 "$@" wineserver -w || return 1
    # Debian's Wine does not read its own font folder: Tahoma and Marlett (caption
    # buttons) go where every Windows font is.
    cp /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  } </dev/null >>"$WINEPREFIX.log" 2>&1
}

# wine_prefix_once: wine_prefix_setup unless a finished $WINEPREFIX is there; parallel
# callers wait for the first (as long as its setup may take). No wineserver is left running.
wine_prefix_once() {
  (
    flock -w 900 9 || { echo "another setup of $WINEPREFIX held it for 900 s" >>"$WINEPREFIX.log"; exit 1; }
    [[ -e $WINEPREFIX/.ready ]] && exit 0
    rm -rf "$WINEPREFIX" "$WINEPREFIX.log"
    wine_prefix_setup && touch "$WINEPREFIX/.ready"
  ) 9>"$WINEPREFIX.lock"
}
