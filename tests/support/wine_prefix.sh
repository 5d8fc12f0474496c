# shellcheck shell=bash
# A fresh Wine prefix set up as the Wine scripts want it.
# Sourced: . "$ROOT/tests/support/wine_prefix.sh"

# ja_locale: whether ja_JP.UTF-8 is installed; make_ja_locale: makes it when it is not.
ja_locale() { locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; }
make_ja_locale() { ja_locale || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 2>/dev/null || true; }
# The LANG for Wine: ja_JP.UTF-8 (the ANSI code page 932 and Japanese font defaults) when
# that locale exists, else C.UTF-8.
wine_lang() { if ja_locale; then echo ja_JP.UTF-8; else echo C.UTF-8; fi; }

# wine_prefix_setup [COMMAND…]: makes the prefix $WINEPREFIX (wineboot's output in
# wineboot.log beside it), each Wine command run through COMMAND… (e.g. ip netns exec NS).
wine_prefix_setup() {
  timeout 300 "$@" wineboot -i >"$(dirname "$WINEPREFIX")/wineboot.log" 2>&1
  "$@" wineserver -w
  # Tahoma falls back to Noto Sans CJK for Japanese, as it does to a Japanese font on
  # Windows. Set after wineboot: Wine writes its own links for the locale on first start.
  "$@" wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v Tahoma /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK JP' /f >/dev/null 2>&1
  # Wine draws the window frames itself (there is no window manager on the display).
  "$@" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  "$@" wineserver -w
  # Debian's Wine does not read its own font folder: Tahoma and Marlett (caption buttons)
  # are put where every Windows font is.
  cp /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
}
