#!/usr/bin/env bash
# Ending evaluations from outside, and the largest inputs: Esc and closing the window while
# the worker waits on a FIFO nobody writes, Esc while an endless writer fills a FIFO, Esc
# inside one backtracking search ((a+)+b over 30 characters), Esc 150 and 350 ms into a 1 GB file
# (while it is read or searched in one long call of the JIT's machine code), and the whole
# 1 GB no-match evaluation beside pcregrep.
#
#   bench/run_abort_bench.sh BINARY_DIR [SCRATCH_DIR]
#
# BINARY_DIR holds the built abort_bench and evaluator_bench (for example build/bench);
# this script builds nothing. The FIFO and the 1 GB file go to SCRATCH_DIR (default /tmp)
# and are removed at the end. Needs /usr/bin/time and pcregrep.
set -euo pipefail

bin=${1:?usage: $0 BINARY_DIR [SCRATCH_DIR]}
scratch=$(mktemp -d "${2:-/tmp}/abort-bench-XXXXXX")
fifo=$scratch/fifo
big=$scratch/1g-of-a.txt
writer=
cleanup() {
  [[ -n $writer ]] && kill "$writer" 2> /dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

. "$(dirname "$0")/bench_common.sh"
require_built "$bin/abort_bench" "$bin/evaluator_bench"
quiet() { grep -v '^QStandardPaths' || true; }
echo "load before: $(uptime)"

mkfifo "$fifo"
echo "-- Esc 500 ms into the read of a FIFO nobody writes"
"$bin/abort_bench" esc "$fifo" x 500 2>&1 | quiet
echo "-- closing the window 500 ms into the read of a FIFO nobody writes"
start=$(date +%s%N)
"$bin/abort_bench" close "$fifo" x 500 2>&1 | quiet
echo "process ended $(( ($(date +%s%N) - start) / 1000000 )) ms after its start (500 ms before the close)"

echo "-- Esc 3000 ms into the read of a FIFO that 'yes b' fills without end"
yes b > "$fifo" 2> /dev/null &
writer=$!
/usr/bin/time -f "max_rss %M KiB, elapsed %e s" "$bin/abort_bench" esc "$fifo" x 3000 2>&1 | quiet
kill "$writer" 2> /dev/null || true
writer=

backtracking=$scratch/backtracking.txt
printf '%s!b' "$(head -c 30 /dev/zero | tr '\0' a)" > "$backtracking"
# How long the search takes to reach the match limit depends on the machine and the moment
# (10 to 50 ms with the JIT on 2 CPUs): the whole evaluation, which also compiles, reads and
# reports, is timed first, and Esc comes a fifth and two fifths into it.
whole_ms=$("$bin/evaluator_bench" "$backtracking" '(a+)+b' 2> /dev/null |
  awk '/^wall/ { printf "%d", $2 * 1000 }')
echo "-- (a+)+b over 30 \"a\" and \"!b\": the whole evaluation took $whole_ms ms (evaluator_bench)"
for delay in $((whole_ms / 5 > 0 ? whole_ms / 5 : 1)) $((2 * whole_ms / 5 > 1 ? 2 * whole_ms / 5 : 2)); do
  echo "-- Esc $delay ms into (a+)+b over 30 \"a\" and \"!b\" (one search up to the match limit)"
  "$bin/abort_bench" esc "$backtracking" '(a+)+b' "$delay" 2>&1 | quiet
done

head -c 1073741824 /dev/zero | tr '\0' a > "$big"
# The whole evaluation takes about 0.5 s: the first delay lands in the read, the second in
# the JIT's one long search.
for delay in 150 350; do
  echo "-- Esc $delay ms into the evaluation of 1 GB of \"a\" with the pattern b"
  "$bin/abort_bench" esc "$big" b "$delay" 2>&1 | quiet
done
echo "-- the whole evaluation of 1 GB of \"a\" with the pattern b"
/usr/bin/time -v "$bin/evaluator_bench" "$big" b 2>&1 |
  grep -E 'message|wall|peak_rss|added_rss|longest|Maximum resident|Elapsed' || true
# pcregrep can't hold a line of 1 GB (its buffer stops short of 700 MB): the side by side
# runs on the same bytes in lines of 1023 "a" and a line feed.
head -c 1073741824 /dev/zero | tr '\0' a | fold -w 1023 > "$big"
echo "-- the whole evaluation of 1 GB of \"a\" in lines of 1023, with the pattern b"
/usr/bin/time -v "$bin/evaluator_bench" "$big" b 2>&1 |
  grep -E 'message|wall|peak_rss|added_rss|longest|Maximum resident|Elapsed' || true
echo "-- pcregrep -u -o b on the same file"
/usr/bin/time -v pcregrep -u -o b "$big" 2>&1 | grep -E 'pcregrep:|Maximum resident|Elapsed|Exit' || true
echo "load after: $(uptime)"
