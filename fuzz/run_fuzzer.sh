#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time from its seeds.
#   run_fuzzer.sh FUZZER SECONDS WORK_CORPUS DICT|"" SEED_DIR...
# New inputs go into WORK_CORPUS (under the build folder); the seed folders are only read. A
# crash, a leak, a UBSan report, a slow input (over 10 s) or running out of memory fails the run;
# the offending input is kept in WORK_CORPUS/../artifacts-<name>/.
set -euo pipefail
fuzzer=$1 seconds=$2 work=$3 dict=$4
shift 4
seeds=()
for d in "$@"; do
  [ -d "$d" ] && seeds+=("$d")
done
artifacts="$(dirname "$work")/artifacts-$(basename "$work")"
mkdir -p "$work" "$artifacts"
args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536
      -print_final_stats=1 -artifact_prefix="$artifacts/")
[ -n "$dict" ] && args+=(-dict="$dict")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$fuzzer" "${args[@]}" "$work" "${seeds[@]}"
