#!/usr/bin/env bash
# Builds the fuzz targets and runs each for FUZZ_SECONDS (default 60) on a copy of its seed
# corpus; the committed corpus never grows. Usage: fuzz/run.sh [build-dir]
# (default build/fuzz under the repository root). Extra libFuzzer flags can be given in
# FUZZ_FLAGS. Exits non-zero when a target crashes or breaks an invariant.
set -euo pipefail

fuzz_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$fuzz_dir")
build=${1:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-60}
targets=(first_line int_parse profile)

cmake -S "$fuzz_dir" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

failed=0
for t in "${targets[@]}"; do
  work=$build/run/$t
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$fuzz_dir/corpus/$t/." "$work/corpus/" -R
  status=0
  # shellcheck disable=SC2086  # FUZZ_FLAGS is a list of flags
  "$build/${t}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
    -artifact_prefix="$work/artifacts/" ${FUZZ_FLAGS:-} "$work/corpus" >"$work/log" 2>&1 ||
    status=$?
  runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$work/log" | tail -1)
  findings=$(find "$work/artifacts" -type f | wc -l)
  if [[ $status -ne 0 || $findings -ne 0 || -z $runs ]]; then
    echo "$t: FAILED (exit $status, $findings finding(s) in $work/artifacts, log $work/log)"
    grep -E 'ERROR|invariant failed|runtime error|SUMMARY' "$work/log" | head -5 || true
    failed=1
  else
    echo "$t: $runs, no findings"
  fi
done
exit $failed
