#!/usr/bin/env bash
# Runs fuzz targets of a fuzz build for a bounded time each, starting from a
# seed corpus that krf_fuzz_seeds generates afresh, and fails when any of
# them reports a finding (a sanitizer error, a failed check, a hang, a write
# outside its scratch folder).
#
#   cmake --preset fuzz && cmake --build --preset fuzz
#   fuzz/run_fuzzers.sh [BUILD_DIR [SECONDS_PER_TARGET [TARGET...]]]
#
# BUILD_DIR defaults to build-fuzz, SECONDS_PER_TARGET to 15, the targets
# to all of: archive rle wad wal image. The corpus each target grows is kept in
# BUILD_DIR/fuzz/corpus/, logs and failing inputs go to
# BUILD_DIR/fuzz/findings/. Replay a failing input with
#   BUILD_DIR/fuzz/<target>_fuzzer FILE
# KRF_FUZZ_ESCAPES=deny refuses writes outside the scratch folder without
# ending the run (to keep fuzzing while such a fault is open).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build-fuzz}" && pwd)
seconds=${2:-15}
shift $(($# > 2 ? 2 : $#))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(archive rle wad wal image)

fuzz="$build/fuzz"
rm -rf "$fuzz/seeds"
"$fuzz/krf_fuzz_seeds" "$fuzz/seeds"
mkdir -p "$fuzz/findings"

status=0
for target in "${targets[@]}"; do
  mkdir -p "$fuzz/corpus/$target"
  log="$fuzz/findings/$target.log"
  if "$fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$fuzz/findings/$target-" \
      "$fuzz/corpus/$target" "$fuzz/seeds/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: ${runs:-?} inputs in $seconds s, no finding"
  else
    echo "$target: FINDING, log in $log"
    grep -a -E '^==== finding|ERROR|SUMMARY|Test unit written' "$log" || tail -n 30 "$log"
    status=1
  fi
done
exit $status
