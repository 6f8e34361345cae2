#!/usr/bin/env bash
# How long the evaluator's window takes to answer a clipboard request while an evaluation
# runs, on a real X display (Xvfb and openbox, as run_evaluator_bench.sh starts them): the
# evaluator bench puts a probe text on the clipboard the way the copy commands do, then
# presses Enter; meanwhile xclip asks for the clipboard again and again, each request
# timed from xclip's start to its end (so xclip's own start-up is in every figure, as the
# smallest one shows). The same requests against the idle window for two seconds before
# Enter show what the machine itself adds. A request that times out or brings back another
# text counts as failed. The longest answer during the evaluation, of each round and of all
# rounds, is what the user meets; beside it the event loop's longest stall as the bench
# measures it (how late a timestamped event posted every 10 ms was handled).
#
#   bench/run_clipboard_bench.sh BINARY_DIR [ROUNDS] [PATTERN] [groups]
#
# BINARY_DIR holds the built make_scan_log and evaluator_bench (for example build/bench).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR [ROUNDS] [PATTERN] [groups]}
rounds=${2:-5}
pattern=${3:-'\w+'}
groups=${4:-}
data="$here/data/scan_log.txt"
probe="evaluator clipboard probe"  # as evaluator_bench.cpp puts it
# Longer than any answer a user would wait for: a request that takes this long has failed.
request_timeout=10

require_built "$bin/make_scan_log" "$bin/evaluator_bench"
command -v xclip > /dev/null || { echo "xclip is missing (apt-get install xclip)" >&2; exit 1; }
ensure_scan_log "$data" "$bin"

report=$(mktemp)
bench_pid=
finish() {
  [[ -n $bench_pid ]] && kill "$bench_pid" 2> /dev/null || true
  rm -f "$report"
  stop_display
}
trap finish EXIT
start_display x11
echo "file: $data ($(stat -L -c %s "$data") bytes), pattern $pattern${groups:+ (groups ticked)}, display $DISPLAY"

# Count, smallest, median and longest of microsecond figures, one a line, in milliseconds.
spread() {
  sort -n | awk '{ v[NR] = $1 } END { printf "%d %.1f %.1f %.1f\n", NR, v[1] / 1000,
    (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1000, v[NR] / 1000 }'
}

all_longest=0
for ((round = 1; round <= rounds; ++round)); do
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  # Emptied here, not by the redirection, which the background job does only once it runs:
  # the wait below must not find the last round's lines.
  : > "$report"
  "$bin/evaluator_bench" "$data" "$pattern" $groups clipboard >> "$report" &
  bench_pid=$!
  until grep -q '^clipboard_ready' "$report"; do
    kill -0 "$bench_pid" 2> /dev/null || { echo "evaluator_bench ended early:" >&2; cat "$report" >&2; exit 1; }
    sleep 0.01
  done
  idle=() times=() failed=0 idle_failed=0
  # Requests against the idle window until Enter, then during the evaluation until the
  # bench prints its wall time.
  while ! grep -q '^wall' "$report" && kill -0 "$bench_pid" 2> /dev/null; do
    running=0
    grep -q '^evaluation_starts' "$report" && running=1
    start=$(date +%s%N)
    text=$(timeout "$request_timeout" xclip -o -selection clipboard 2> /dev/null || true)
    elapsed=$((($(date +%s%N) - start) / 1000))
    if ((running)); then
      times+=("$elapsed")
      [[ $text == "$probe" ]] || failed=$((failed + 1))
    else
      idle+=("$elapsed")
      [[ $text == "$probe" ]] || idle_failed=$((idle_failed + 1))
    fi
  done
  wait "$bench_pid"
  bench_pid=
  read -r idle_count _ idle_median idle_longest < <(printf '%s\n' "${idle[@]}" | spread)
  if ((${#times[@]} == 0)); then
    echo "round $round: no request during the evaluation; idle window: $idle_count requests," \
      "longest $idle_longest ms, failed $idle_failed"
    continue
  fi
  read -r count smallest median longest < <(printf '%s\n' "${times[@]}" | spread)
  all_longest=$(awk -v a="$all_longest" -v b="$longest" 'BEGIN { print (b > a ? b : a) }')
  echo "round $round (load $load): evaluation $(awk '/^wall/ { print $2 }' "$report") s," \
    "$(awk '/^matches/ { print $2 }' "$report") matches, event loop's longest stall" \
    "$(awk '/^longest_stall/ { print $2 }' "$report") ms"
  echo "  idle window: $idle_count requests, median $idle_median ms, longest $idle_longest ms," \
    "failed $idle_failed"
  echo "  during the evaluation: $count requests: smallest $smallest ms, median $median ms," \
    "longest $longest ms, failed $failed"
done
echo "longest answer over all rounds: $all_longest ms"
