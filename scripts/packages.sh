# Debian 12 packages, shared by the scripts that install them.
# shellcheck shell=bash
BUILD_PACKAGES=(build-essential cmake pkg-config libgtk-3-dev libsoup-3.0-dev)
RUN_PACKAGES=(xvfb xauth xclip xdotool x11-apps imagemagick fonts-noto-cjk)
TEST_PACKAGES=(libgtest-dev googletest iproute2 desktop-file-utils procps gsettings-desktop-schemas dbus-daemon
               x11-utils x11-xserver-utils fonts-ipafont-gothic
               g++-mingw-w64-x86-64-posix wine wine64 fonts-wine locales
               clang libclang-rt-14-dev)

# Installs the named packages when running as root; otherwise says what is missing.
install_packages() {
  local missing=()
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (run as root to install): ${missing[*]}" >&2
    return 1
  fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Starts Xvfb on a free display at 24-bit depth and exports DISPLAY; XVFB_PID is set. The
# display is one whose socket file is not there: Xvfb's own choice (-displayfd alone) only
# asks whether it can listen, and an Xvfb in another network namespace, where the abstract
# socket of a display in use is free, would take that display too and remove its socket
# file when it ends. Xvfb writes the number once it takes clients (-displayfd), so no probe
# is needed. -noreset: by default the server resets whenever its last client leaves, and a
# program connecting during that reset fails with "cannot open display".
start_xvfb() {
  local out n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  out=$(mktemp /tmp/addrova-xvfb-XXXXXX)
  Xvfb ":$n" -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 3>"$out.display" >"$out" 2>&1 &
  XVFB_PID=$!
  n=""
  for _ in $(seq 100); do
    n=$(cat "$out.display" 2>/dev/null || true)
    [ -n "$n" ] || ! kill -0 "$XVFB_PID" 2>/dev/null && break
    sleep 0.1
  done
  if [ -n "$n" ]; then
    export DISPLAY=":$n"
  elif kill "$XVFB_PID" 2>/dev/null; then
    echo "Xvfb took no clients within 10 s; its output:" >&2
  else
    echo "Xvfb ended at start; its output:" >&2
  fi
  [ -n "$n" ] || cat "$out" >&2
  rm -f "$out" "$out.display"
  [ -n "$n" ]
}
