# Debian 12 packages, shared by the scripts that install them.
# shellcheck shell=bash
BUILD_PACKAGES=(build-essential cmake pkg-config libgtk-3-dev libcurl4-openssl-dev)
RUN_PACKAGES=(xvfb xauth xclip xdotool x11-apps imagemagick fonts-noto-cjk)
TEST_PACKAGES=(libgtest-dev googletest iproute2 desktop-file-utils procps dbus-daemon
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

# Starts Xvfb on a free display at 24-bit depth and exports DISPLAY; XVFB_PID is set.
start_xvfb() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 200); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "Xvfb did not start" >&2
  return 1
}
