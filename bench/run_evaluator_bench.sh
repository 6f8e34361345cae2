#!/usr/bin/env bash
# End-to-end benchmark: the real evaluator (offscreen) against pcregrep -u -o on the same
# reproducible 40 MB log and pattern, with peak memory and the event loop's longest stall,
# over the run until the loop is idle after the done event and over each user action on the
# finished result (see evaluator_bench.cpp). The machine's load is printed with each run:
# figures taken while other work runs are not comparable.
#
#   bench/run_evaluator_bench.sh BINARY_DIR
#
# BINARY_DIR holds the built make_scan_log and evaluator_bench (for example build/bench);
# this script builds nothing. The log is generated into bench/data/ when it is missing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR}
data="$here/data/scan_log.txt"

require_built "$bin/make_scan_log" "$bin/evaluator_bench"
ensure_scan_log "$data" "$bin"
size=$(stat -c %s "$data")
echo "file: $data ($size bytes)"

run_pattern() {  # pattern, "groups" or ""
  local pattern=$1 groups=$2 start grep_seconds report
  start=$(date +%s%N)
  pcregrep -u -o "$pattern" "$data" > /dev/null
  grep_seconds=$(awk -v ns=$(($(date +%s%N) - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
  report=$("$bin/evaluator_bench" "$data" "$pattern" $groups actions)
  echo
  echo "pattern $pattern ${groups:+(groups ticked)}"
  echo "  load: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "  pcregrep -u -o: $grep_seconds s"
  sed 's/^/  evaluator /' <<< "$report"
  awk -v grep="$grep_seconds" -v size="$size" '
    /^wall/ { wall = $2 } /^matches/ { matches = $2 } /^added_rss/ { added = $2 * 1024 }
    END {
      printf "  ratio evaluator / pcregrep: %.2f\n", wall / grep
      printf "  memory beyond twice the input: %.0f bytes per match\n", (added - 2 * size) / matches
    }' <<< "$report"
}

run_pattern '(\d+)\.(\d+)\.(\d+)\.(\d+)' groups
run_pattern '\w+' ""
