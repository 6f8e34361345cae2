#!/usr/bin/env bash
# End-to-end benchmark: the real evaluator against pcregrep -u -o (with PCRE's JIT, and
# with --no-jit) on the same reproducible 40 MB log and pattern, with peak memory and the event loop's longest stall,
# over the run until the loop is idle after the done event and over each user action on the
# finished result (see evaluator_bench.cpp). The machine's load is printed with each run:
# figures taken while other work runs are not comparable.
#
#   bench/run_evaluator_bench.sh BINARY_DIR [ROUNDS] [offscreen|x11]
#
# BINARY_DIR holds the built make_scan_log and evaluator_bench (for example build/bench);
# this script builds nothing. The log is generated into bench/data/ when it is missing.
# x11 runs the evaluator's window on a real X display, as a user meets it: a virtual X
# server with a window manager (apt-get install xvfb openbox), started here and stopped
# at the end; offscreen (the default) uses Qt's offscreen platform.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR [ROUNDS]}
rounds=${2:-5}
display_mode=${3:-offscreen}
data="$here/data/scan_log.txt"

require_built "$bin/make_scan_log" "$bin/evaluator_bench"
ensure_scan_log "$data" "$bin"
size=$(stat -L -c %s "$data")
echo "file: $data ($size bytes)"

trap stop_display EXIT
start_display "$display_mode"
echo "display: $display_mode${DISPLAY:+ ($DISPLAY)}"

# Seconds that the command given takes, to the millisecond.
seconds_of() {
  local start=$(date +%s%N)
  "$@" > /dev/null
  awk -v ns=$(($(date +%s%N) - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

# The median and the range of the numbers given, one per line.
median_and_range() {
  sort -n | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.3f (%.3f-%.3f)", m, v[1], v[NR] }'
}

# Memory added beyond copies times the input's size, per match, from an evaluator_bench report.
memory_per_match() {  # copies
  awk -v size="$size" -v copies="$1" '/^matches/ { m = $2 } /^added_rss/ { a = $2 * 1024 }
    END { printf "%.0f", (a - copies * size) / m }'
}

# This machine's speed changes from one second to the next, so pcregrep and the evaluator
# run by turns, ROUNDS times each, and the ratio is that of their medians. The user
# actions are measured in the last round.
run_pattern() {  # pattern, "groups" or ""
  local pattern=$1 groups=$2 round actions="" report greps="" no_jits="" walls="" per_match=""
  local per_match_utf16=""
  local loads=""
  for ((round = 1; round <= rounds; ++round)); do
    loads+="$(cut -d' ' -f1 /proc/loadavg) "
    greps+="$(seconds_of pcregrep -u -o "$pattern" "$data")"$'\n'
    no_jits+="$(seconds_of pcregrep --no-jit -u -o "$pattern" "$data")"$'\n'
    ((round == rounds)) && actions=actions
    report=$("$bin/evaluator_bench" "$data" "$pattern" $groups $actions)
    walls+="$(awk '/^wall/ { print $2 }' <<< "$report")"$'\n'
    # The evaluator holds the input once, as the UTF-8 it read (the scan, the view and the
    # exports share it); a design that reads it into one UTF-16 string holds twice its bytes,
    # which is what the figures of earlier versions subtracted.
    per_match+="$(memory_per_match 1 <<< "$report")"$'\n'
    per_match_utf16+="$(memory_per_match 2 <<< "$report")"$'\n'
  done
  local grep_median no_jit_median wall_median
  grep_median=$(sed '/^$/d' <<< "$greps" | median_and_range)
  no_jit_median=$(sed '/^$/d' <<< "$no_jits" | median_and_range)
  wall_median=$(sed '/^$/d' <<< "$walls" | median_and_range)
  echo
  echo "pattern $pattern${groups:+ (groups ticked)}: $rounds rounds by turns, $display_mode"
  echo "  load (1 min) at each round: $loads; now: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "  pcregrep -u -o: median $grep_median s"
  echo "  pcregrep --no-jit -u -o: median $no_jit_median s"
  echo "  evaluator wall: median $wall_median s"
  echo "  ratio of the medians, evaluator / pcregrep: $(awk -v w="${wall_median%% *}" \
    -v g="${grep_median%% *}" 'BEGIN { printf "%.2f", w / g }')"
  echo "  ratio of the medians, evaluator / pcregrep --no-jit: $(awk -v w="${wall_median%% *}" \
    -v g="${no_jit_median%% *}" 'BEGIN { printf "%.2f", w / g }')"
  echo "  memory beyond the input held once: median $(sed '/^$/d' <<< "$per_match" |
    median_and_range | sed 's/\.000//g') bytes per match"
  echo "  memory beyond twice the input: median $(sed '/^$/d' <<< "$per_match_utf16" |
    median_and_range | sed 's/\.000//g') bytes per match"
  echo "  last round:"
  sed 's/^/    evaluator /' <<< "$report"
}

run_pattern '(\d+)\.(\d+)\.(\d+)\.(\d+)' groups
run_pattern '\w+' ""
