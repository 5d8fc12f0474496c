#!/usr/bin/env bash
# Installs what building and testing need, builds, and runs every test:
#   1. the Linux suite built with AddressSanitizer and UBSan, under Xvfb;
#   2. the threaded tests again under ThreadSanitizer;
#   3. the unmodified release binary, black-box, in a network namespace, and its window's
#      place at GDK_SCALE 1 and 2 and at Xft.dpi 144;
#   4. the Windows build, cross-compiled, with its tests under Wine;
#   5. a short run of each fuzz target (FUZZ_SECONDS, default 60, each).
# Its build folders (build/asan, tsan, blackbox, win, fuzz, or under BUILD_DIR) are its own,
# none of them shared with scripts/run.sh (build/release) or scripts/package.sh, and every
# option it relies on is set on each configure, so the scripts work in any order in one
# clone. Here, unlike in a user's build, warnings are errors.
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

# Options every configure here sets: tests on, warnings as errors, the built-in endpoints
# and home page (-U drops a value left in the cache, so the defaults apply).
COMMON=(-DADDROVA_TESTS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
        -UADDROVA_ENDPOINT_B_HOST -UADDROVA_HOME_URL)

build() {  # build DIR BUILD_TYPE SANITIZERS [cmake options...]
  local dir=$1 type=$2 sanitize=$3
  shift 3
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DADDROVA_SANITIZE="$sanitize" \
        "${COMMON[@]}" "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS" >/dev/null
}

start_xvfb
trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT

step "Linux suite with ASan+UBSan"
build "$BUILD/asan" Debug address,undefined
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$BUILD/asan" --output-on-failure -j"$JOBS" --timeout 120

step "threaded tests with TSan"
build "$BUILD/tsan" Debug thread
TSAN_OPTIONS="halt_on_error=1 detect_deadlocks=0 suppressions=$ROOT/tests/tsan.supp" \
  ctest --test-dir "$BUILD/tsan" --output-on-failure --timeout 120 \
  -R "Retrieval.*Concurrent|RetrievalTempDirectory.TheFallback|Gui.TwoWorkers|Gui.Lookup|Gui.Failed"

step "release binary, black-box, in a network namespace"
cmake -S "$ROOT" -B "$BUILD/blackbox" -DCMAKE_BUILD_TYPE=Release -DADDROVA_SANITIZE= \
      "${COMMON[@]}" >/dev/null
cmake --build "$BUILD/blackbox" -j"$JOBS" --target Addrova echo_server close_window >/dev/null
bash "$ROOT/tests/blackbox_netns.sh" "$BUILD/blackbox/Addrova" \
  "$BUILD/blackbox/tests/echo_server"

step "release binary placed on scaled displays"
bash "$ROOT/tests/placement.sh" "$BUILD/blackbox/Addrova" || [ $? -eq 77 ]

step "Windows build, cross-compiled, tested under Wine"
cmake -S "$ROOT" -B "$BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE= -DADDROVA_SANITIZE= "${COMMON[@]}" >/dev/null
cmake --build "$BUILD/win" -j"$JOBS" >/dev/null
bash "$ROOT/tests/win/run_wine_tests.sh" "$BUILD/win"

step "short fuzz runs"
FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash "$ROOT/fuzz/run.sh" "$BUILD/fuzz"

step "all tests passed"
