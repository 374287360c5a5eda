#!/usr/bin/env bash
# Runs each libFuzzer target for a while and reports its executions and
# findings. Used by `make fuzz`; expects the targets in $FUZZ_BUILD/fuzz.
#   fuzz/run.sh BUILD_DIR SECONDS TARGET...
set -uo pipefail
build=$1 seconds=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
status=0
for t in "$@"; do
  work=$build/corpus/$t
  found=$build/findings/$t
  log=$build/logs/$t.log
  mkdir -p "$work" "$found" "$build/logs"
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -dict="$here/gmf.dict" \
    -artifact_prefix="$found/" -print_final_stats=1 -close_fd_mask=3 \
    "$work" "$here/corpus/$t" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  n=$(find "$found" -type f | wc -l)
  printf '%-12s %10s executions  %s findings  exit %s  (log %s)\n' "$t" "${runs:-?}" "$n" "$rc" "$log"
  if [ "$rc" -ne 0 ] || [ "$n" -ne 0 ]; then status=1; fi
done
exit $status
