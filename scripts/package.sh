#!/usr/bin/env bash
# Builds the release packages into build/packages/:
#   addrova_VERSION-1_ARCH.deb  Linux (GTK 3): checked with lintian (no E: allowed), then
#                               unpacked into a throwaway root to check its contents, the
#                               command link and the desktop entry;
#   Addrova-VERSION-win64.zip   Windows, cross-built with MinGW-w64 (cmake/mingw-w64.cmake):
#                               Addrova.exe, README.txt and LICENSE.txt (CR LF); skipped
#                               with a message when that cannot be done.
# Usage: bash scripts/package.sh [--clean]
#   --clean            remove the package build directories first (a build from scratch)
#   JOBS=N             parallel build jobs (default 2)
#   REQUIRE_WINDOWS=1  fail instead of skipping the zip
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/packages.sh
. "$ROOT/scripts/packages.sh"
umask 022

JOBS=${JOBS:-2}
OUT=$ROOT/build/packages
LINUX_BUILD=$ROOT/build/pkg
WIN_BUILD=$ROOT/build/pkg-win64
TOOLCHAIN=$ROOT/cmake/mingw-w64.cmake

clean=0
for arg in "$@"; do
  case $arg in
    --clean) clean=1 ;;
    -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $arg" >&2; exit 2 ;;
  esac
done

step() { printf '\n== %s\n' "$*"; }
fail() { echo "FAILED: $*" >&2; exit 1; }

install_packages "${BUILD_PACKAGES[@]}" dpkg-dev lintian file desktop-file-utils man-db unzip

if [ $clean -eq 1 ]; then rm -rf "$LINUX_BUILD" "$WIN_BUILD"; fi
rm -rf "$OUT"
mkdir -p "$OUT"

# ---------------------------------------------------------------- Debian package
step "Linux build (Release)"
cmake -S "$ROOT" -B "$LINUX_BUILD" -DCMAKE_BUILD_TYPE=Release -DADDROVA_TESTS=OFF \
      -DCMAKE_COMPILE_WARNING_AS_ERROR=OFF \
      -DADDROVA_SANITIZE= >/dev/null
cmake --build "$LINUX_BUILD" -j"$JOBS"

step "cpack -G DEB"
rm -rf "$LINUX_BUILD/cpack"
(cd "$LINUX_BUILD" && cpack -G DEB -B "$LINUX_BUILD/cpack")
debs=("$LINUX_BUILD"/cpack/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "expected one .deb in $LINUX_BUILD/cpack"
fi
cp "${debs[0]}" "$OUT/"
DEB=$OUT/$(basename "${debs[0]}")

step "lintian $(basename "$DEB")"
lintian_cmd=(lintian --fail-on error --display-info "$DEB")
# Lintian advises against running as root; use an unprivileged account when there is one.
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1 && command -v runuser >/dev/null &&
   runuser -u nobody -- test -r "$DEB"; then
  lintian_cmd=(runuser -u nobody -- env HOME=/tmp "${lintian_cmd[@]}")
fi
lintian_rc=0
lintian_out=$("${lintian_cmd[@]}" 2>&1) || lintian_rc=$?
echo "${lintian_out:-(no tags)}"
echo "lintian: $(grep -c '^E:' <<<"$lintian_out" || true) error(s)," \
     "$(grep -c '^W:' <<<"$lintian_out" || true) warning(s)," \
     "$(grep -c '^I:' <<<"$lintian_out" || true) info tag(s)"
[ $lintian_rc -eq 0 ] || fail "lintian reported errors (exit $lintian_rc)"

step "checking the package in a throwaway root (dpkg -x)"
STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
dpkg -x "$DEB" "$STAGE"

expected=$(cat <<'EOF'
./usr/bin/addrova
./usr/lib/addrova/Addrova
./usr/share/applications/addrova.desktop
./usr/share/doc/addrova/changelog.Debian.gz
./usr/share/doc/addrova/copyright
./usr/share/icons/hicolor/256x256/apps/addrova.png
./usr/share/icons/hicolor/48x48/apps/addrova.png
./usr/share/icons/hicolor/scalable/apps/addrova.svg
./usr/share/lintian/overrides/addrova
./usr/share/man/man1/addrova.1.gz
EOF
)
actual=$(dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$actual" != "$(sort <<<"$expected")" ]; then
  diff <(sort <<<"$expected") <(echo "$actual") >&2 || true
  fail "the package's files differ from the expected list (above: < expected, > packaged)"
fi
echo "files: as expected (no tests, no build leftovers)"

[ "$(readlink "$STAGE/usr/bin/addrova")" = ../lib/addrova/Addrova ] ||
  fail "/usr/bin/addrova is not the link ../lib/addrova/Addrova"
[ "$(realpath -e "$STAGE/usr/bin/addrova")" = "$(realpath "$STAGE/usr/lib/addrova/Addrova")" ] ||
  fail "/usr/bin/addrova does not resolve to /usr/lib/addrova/Addrova"
[ -x "$STAGE/usr/bin/addrova" ] || fail "/usr/bin/addrova is not executable"
echo "link: usr/bin/addrova -> $(readlink "$STAGE/usr/bin/addrova") (resolves, executable)"

info=$(file -b "$STAGE/usr/lib/addrova/Addrova")
[[ $info == ELF* && $info == *", stripped"* ]] || fail "binary not a stripped ELF: $info"
echo "binary: $info"
if ldd "$STAGE/usr/lib/addrova/Addrova" | grep -q 'not found'; then
  ldd "$STAGE/usr/lib/addrova/Addrova" | grep 'not found' >&2
  fail "the binary needs libraries that are not installed"
fi
echo "libraries: all found; Depends: $(dpkg-deb -f "$DEB" Depends)"

entry=$STAGE/usr/share/applications/addrova.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
echo "desktop entry: desktop-file-validate passes"
exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -e "$STAGE/usr/bin/$exec_cmd" ] || fail "Exec=$exec_cmd is not in /usr/bin of the package"
ls "$STAGE"/usr/share/icons/hicolor/*/apps/"$icon".* >/dev/null 2>&1 ||
  fail "Icon=$icon has no file in the hicolor theme"
echo "desktop entry: Exec=$exec_cmd and Icon=$icon are in the package"

man_warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
  man --warnings -E UTF-8 -l -Tutf8 -Z "$STAGE/usr/share/man/man1/addrova.1.gz" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "manual page: $man_warnings"
echo "manual page: formats without warnings"

# ---------------------------------------------------------------- Windows zip
ZIP=""
win_skip=""
step "Windows build (MinGW-w64) and cpack -G ZIP"
if [ ! -f "$TOOLCHAIN" ]; then
  win_skip="the toolchain file cmake/mingw-w64.cmake does not exist yet"
elif ! install_packages g++-mingw-w64-x86-64-posix; then
  win_skip="the MinGW-w64 compilers (g++-mingw-w64-x86-64-posix) are not installed"
else
  mkdir -p "$WIN_BUILD"
  win_log=$WIN_BUILD/package-build.log
  rm -rf "$WIN_BUILD/cpack"
  if cmake -S "$ROOT" -B "$WIN_BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
           -DADDROVA_TESTS=OFF -DADDROVA_SANITIZE= >"$win_log" 2>&1 &&
     cmake --build "$WIN_BUILD" -j"$JOBS" >>"$win_log" 2>&1 &&
     (cd "$WIN_BUILD" && cpack -G ZIP -B "$WIN_BUILD/cpack") >>"$win_log" 2>&1; then
    zips=("$WIN_BUILD"/cpack/*.zip)
    cp "${zips[0]}" "$OUT/"
    ZIP=$OUT/$(basename "${zips[0]}")
    [ "$(unzip -Z1 "$ZIP" | sort | tr '\n' ' ')" = "Addrova.exe LICENSE.txt README.txt " ] ||
      fail "the zip must hold Addrova.exe, README.txt and LICENSE.txt at its root"
    for doc in README.txt LICENSE.txt; do
      # Windows text: every line ends in CR LF.
      lines=$(unzip -p "$ZIP" "$doc" | tr -cd '\n' | wc -c)
      crlf=$(unzip -p "$ZIP" "$doc" | grep -c $'\r$' || true)
      [ "$lines" -gt 0 ] && [ "$crlf" -eq "$lines" ] || fail "$doc: $crlf of $lines lines end in CR LF"
    done
    # The version resource carries the package's version (Addrova-1.0.0-win64.zip: 1.0.0.0).
    version=$(basename "$ZIP" | sed 's/^[^-]*-\(.*\)-win[0-9]*\.zip$/\1/').0
    resource=$(unzip -p "$ZIP" Addrova.exe | strings -el | grep -A1 -x ProductVersion | tail -1)
    [ "$resource" = "$version" ] || fail "Addrova.exe's version resource says '$resource'"
    echo "built $(basename "$ZIP") (log: $win_log)"
  else
    tail -n 25 "$win_log" >&2
    win_skip="the Windows build failed (last lines above; full log: $win_log)"
  fi
fi
if [ -n "$win_skip" ]; then
  echo "SKIPPED the Windows zip: $win_skip." >&2
  [ "${REQUIRE_WINDOWS:-0}" != 1 ] || fail "REQUIRE_WINDOWS=1 and no Windows zip"
fi

# ---------------------------------------------------------------- summary
step "packages"
packages=("$DEB")
[ -z "$ZIP" ] || packages+=("$ZIP")
for f in "${packages[@]}"; do
  printf '%s  %s bytes (%s)\n' "$f" "$(stat -c %s "$f")" "$(du -h "$f" | cut -f1)"
done

step "control fields of $(basename "$DEB")"
dpkg-deb -f "$DEB"

step "dpkg-deb -c $(basename "$DEB")"
dpkg-deb -c "$DEB"

if [ -n "$ZIP" ]; then
  step "unzip -l $(basename "$ZIP")"
  unzip -l "$ZIP"
else
  step "no Windows zip: $win_skip"
fi
