#!/usr/bin/env bash
# Installs what building and testing need, builds, and runs every test:
#   1. the Linux suite built with AddressSanitizer and UBSan, under Xvfb;
#   2. the threaded tests again under ThreadSanitizer;
#   3. the unmodified release binary, black-box, in a network namespace, and its window's
#      place at GDK_SCALE 1 and 2 and at Xft.dpi 144 (ctest -L blackbox; the soak is -L soak);
#   4. the Windows build, cross-compiled, with its tests under Wine;
#   5. a short run of each fuzz target (FUZZ_SECONDS, default 60, each).
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

build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS" >/dev/null
}

start_xvfb
trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT

step "Linux suite with ASan+UBSan"
build "$BUILD/asan" -DADDROVA_SANITIZE=address,undefined
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$BUILD/asan" --output-on-failure -j"$JOBS" --timeout 120 -LE soak

step "threaded tests with TSan"
build "$BUILD/tsan" -DADDROVA_SANITIZE=thread
TSAN_OPTIONS="halt_on_error=1 detect_deadlocks=0 suppressions=$ROOT/tests/tsan.supp" \
  ctest --test-dir "$BUILD/tsan" --output-on-failure --timeout 120 \
  -R "Retrieval.*Concurrent|RetrievalTempDirectory.TheFallback|Gui.TwoWorkers|Gui.Lookup|Gui.Failed"

step "release binary, black-box, in a network namespace, and placed on scaled displays"
cmake -S "$ROOT" -B "$BUILD/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD/release" -j"$JOBS" --target blackbox_tests >/dev/null
ctest --test-dir "$BUILD/release" --output-on-failure -L blackbox

step "Windows build, cross-compiled, tested under Wine"
cmake -S "$ROOT" -B "$BUILD/win" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$BUILD/win" -j"$JOBS" >/dev/null
bash "$ROOT/tests/win/run_wine_tests.sh" "$BUILD/win"

step "short fuzz runs"
FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash "$ROOT/fuzz/run.sh" "$BUILD/fuzz"

step "all tests passed"
