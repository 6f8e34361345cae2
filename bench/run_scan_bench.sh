#!/usr/bin/env bash
# Scan benchmark: the regex operations against pcregrep (same PCRE, UTF-8 mode) on one
# reproducible 40 MB log file, pattern by pattern, best of RUNS runs each.
#
#   bench/run_scan_bench.sh BINARY_DIR [RUNS]
#
# BINARY_DIR holds the built make_scan_log and scan_bench (for example build/bench); this
# script builds nothing. The log is generated into bench/data/ when it is missing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR [RUNS]}
runs=${2:-3}
data="$here/data/scan_log.txt"
patterns=('(\d+)\.(\d+)\.(\d+)\.(\d+)' '\w+')

require_built "$bin/make_scan_log" "$bin/scan_bench"
command -v pcregrep > /dev/null || { echo "pcregrep is not installed" >&2; exit 1; }
ensure_scan_log "$data" "$bin"

now() { date +%s%N; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# Best wall time in seconds of a command whose output is thrown away.
best_wall_time() {
  local best="" start
  for ((run = 0; run < runs; run++)); do
    start=$(now)
    "$@" > /dev/null
    best=$(smaller "$(seconds $(($(now) - start)))" "$best")
  done
  echo "$best"
}

echo "file: $data ($(stat -c %s "$data") bytes), best of $runs runs, times in seconds"
for pattern in "${patterns[@]}"; do
  grep_time=$(best_wall_time pcregrep -u -o "$pattern" "$data")
  grep_nojit_time=$(best_wall_time pcregrep --no-jit -u -o "$pattern" "$data")
  grep_matches=$(pcregrep -u -o "$pattern" "$data" | wc -l)

  best_work="" best_total="" report=""
  for ((run = 0; run < runs; run++)); do
    start=$(now)
    report=$("$bin/scan_bench" "$data" "$pattern")
    total=$(seconds $(($(now) - start)))
    work=$(awk '/^read/ { printf "%.3f", $6 + $8 }' <<< "$report")
    best_work=$(smaller "$work" "$best_work")
    best_total=$(smaller "$total" "$best_total")
  done
  matches=$(awk '/^matches/ { print $2 }' <<< "$report")

  echo
  echo "pattern $pattern"
  echo "  pcregrep -u -o:            $grep_time ($grep_matches matches)"
  echo "  pcregrep --no-jit -u -o:   $grep_nojit_time"
  echo "  regex examine + scan:      $best_work ($matches matches, every match and group text read)"
  echo "  scan_bench whole run:      $best_total (file read and UTF-16 decoding included)"
  echo "  ratio examine + scan / pcregrep: $(ratio "$best_work" "$grep_time")" \
       "(against --no-jit: $(ratio "$best_work" "$grep_nojit_time"))"
  echo "  ratio whole run / pcregrep:      $(ratio "$best_total" "$grep_time")"
  [[ $matches == "$grep_matches" ]] || echo "  MATCH COUNTS DIFFER"
done
