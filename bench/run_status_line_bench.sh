#!/usr/bin/env bash
# What the status line's progress costs an evaluation: the evaluator bench over the 40 MB
# log with the status line refreshed four times a second and with it left still
# (EVALUATOR_BENCH_NO_STATUS=1), by turns for ROUNDS rounds; the medians and their ratio.
#
#   bench/run_status_line_bench.sh BINARY_DIR [ROUNDS] [PATTERN]
#
# BINARY_DIR holds the built make_scan_log and evaluator_bench (for example build/bench).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR [ROUNDS] [PATTERN]}
rounds=${2:-7}
pattern=${3:-'(\w)(\w*)'}
data="$here/data/scan_log.txt"

require_built "$bin/make_scan_log" "$bin/evaluator_bench"
ensure_scan_log "$data" "$bin"
echo "file: $data ($(stat -L -c %s "$data") bytes), pattern $pattern with groups, $rounds rounds"

median() { sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

with="" without=""
for ((round = 1; round <= rounds; ++round)); do
  # Which one goes first changes every round, so that neither always meets a warmer cache.
  for order in $((round % 2)) $(((round + 1) % 2)); do
    if ((order == 0)); then
      with+="$("$bin/evaluator_bench" "$data" "$pattern" groups | awk '/^wall/ { print $2 }')"$'\n'
    else
      without+="$(EVALUATOR_BENCH_NO_STATUS=1 "$bin/evaluator_bench" "$data" "$pattern" groups |
        awk '/^wall/ { print $2 }')"$'\n'
    fi
  done
  echo "  round $round: load $(cut -d' ' -f1-3 /proc/loadavg)"
done
m_with=$(sed '/^$/d' <<< "$with" | median)
m_without=$(sed '/^$/d' <<< "$without" | median)
echo "with the status line:    median $m_with s  ($(sed '/^$/d' <<< "$with" | sort -n | tr '\n' ' '))"
echo "without the status line: median $m_without s  ($(sed '/^$/d' <<< "$without" | sort -n | tr '\n' ' '))"
awk -v w="$m_with" -v o="$m_without" 'BEGIN { printf "cost: %+.1f %%\n", (w / o - 1) * 100 }'
