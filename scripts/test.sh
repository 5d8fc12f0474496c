#!/usr/bin/env bash
# Installs what building and testing need, configures and builds each test build, and runs
# ctest on each:
#   build/asan      the Linux suites with AddressSanitizer and UBSan, under Xvfb (labels
#                   unit, service, gui, contract)
#   build/tsan      the threaded tests again under ThreadSanitizer
#   build/blackbox  the unmodified release binary, black-box, in a network namespace, and
#                   its window's place at GDK_SCALE 1 and 2 and at Xft.dpi 144 (label
#                   blackbox), and a short soak (label soak: 100 lookups, 20 idle seconds;
#                   the defaults, 1,000 and 60, make the figures in the README)
#   build/win       the Windows build, cross-compiled, with its tests under Wine (label
#                   wine: the suites, the code page 1252 and 144 DPI reruns, Addrova.exe
#                   black-box and its 200-lookup soak)
#   build/fuzz      a short run of each fuzz target (label fuzz; FUZZ_SECONDS, default 60)
# One suite alone: ctest --test-dir build/asan -L contract (or -R NAME).
# Its build folders (or those under BUILD_DIR) are its own, none of them shared with
# scripts/run.sh (build/release) or scripts/package.sh, and every option it relies on is
# set on each configure, so the scripts work in any order in one clone. Here, unlike in a
# user's build, warnings are errors.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/packages.sh
. "$ROOT/scripts/packages.sh"
BUILD=${BUILD_DIR:-$ROOT/build}
JOBS=$(nproc)
start=$SECONDS
step() { printf '\n== %s (%ss)\n' "$1" $((SECONDS - start)); }

step "installing packages"
install_packages "${BUILD_PACKAGES[@]}" "${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
# The network-namespace tests bind their own hosts file over /etc/hosts, which a minimal
# root (debootstrap --variant=minbase) does not have: it gets the one Debian installs.
if [ ! -e /etc/hosts ] && [ "$(id -u)" -eq 0 ]; then
  printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n::1\tlocalhost ip6-localhost ip6-loopback\n' \
    "$(hostname)" >/etc/hosts
fi

# Options every configure here sets: tests on, warnings as errors, the built-in endpoints
# and home page (-U drops a value left in the cache, so the defaults apply).
COMMON=(-DADDROVA_TESTS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
        -UADDROVA_ENDPOINT_A_HOST -UADDROVA_ENDPOINT_B_HOST -UADDROVA_HOME_URL)

configure() {  # configure DIR BUILD_TYPE SANITIZERS [cmake options...]
  local dir=$1 type=$2 sanitize=$3
  shift 3
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DADDROVA_SANITIZE="$sanitize" \
        "${COMMON[@]}" "$@" >/dev/null
}
run_ctest() { ctest --test-dir "$@" --output-on-failure --timeout 300; }

step "configuring"
configure "$BUILD/asan" Debug address,undefined
configure "$BUILD/tsan" Debug thread
# The soak runs here are short; `ctest -L soak` in a default build makes the full ones.
configure "$BUILD/blackbox" Release "" -DADDROVA_SOAK_LOOKUPS=100 -DADDROVA_IDLE_SECONDS=20
# The Windows tests reach the Linux test server on 127.0.0.1.
configure "$BUILD/win" "" "" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
  -DADDROVA_ECHO_SERVER="$BUILD/blackbox/tests/echo_server"
cmake -S "$ROOT/fuzz" -B "$BUILD/fuzz" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DFUZZ_SECONDS="${FUZZ_SECONDS:-60}" >/dev/null

step "building"
for dir in asan tsan win fuzz; do cmake --build "$BUILD/$dir" -j"$JOBS" >/dev/null; done
cmake --build "$BUILD/blackbox" -j"$JOBS" --target blackbox_tests >/dev/null

start_xvfb
trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT

step "Linux suites with ASan+UBSan"
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 run_ctest "$BUILD/asan" -j"$JOBS" -LE "soak|blackbox"

step "threaded tests with TSan"
TSAN_OPTIONS="halt_on_error=1 detect_deadlocks=0 suppressions=$ROOT/tests/tsan.supp" \
  run_ctest "$BUILD/tsan" -R "Retrieval.*Concurrent|RetrievalTempDirectory.TheFallback|\
Gui.TwoWorkers|Gui.Lookup|Gui.Failed|ContractPostToUi|ContractSaveLine.AReader|ServerPaths"

step "release binary, black-box, in a network namespace, and placed on scaled displays"
run_ctest "$BUILD/blackbox" -L blackbox -LE soak

step "Windows build, tested under Wine (its wrapper starts the Linux echo_server)"
run_ctest "$BUILD/win"

step "soak runs of the release binary, shortened"
run_ctest "$BUILD/blackbox" -L soak

step "short fuzz runs"
run_ctest "$BUILD/fuzz" -L fuzz -j"$JOBS"

step "all tests passed"
