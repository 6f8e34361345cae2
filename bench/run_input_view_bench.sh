#!/usr/bin/env bash
# Input view benchmark: the real evaluator (offscreen) evaluates \w+ (matches only, some
# 8 million of them) over the reproducible 40 MB log, then the input view beside the tree
# is painted, scrolled and moved to the last match (see input_view_bench.cpp). A second run
# with a pattern of few matches shows that the view's memory does not follow the number of
# matches. The machine's load is printed before and after: figures taken while other work
# runs are not comparable.
#
#   bench/run_input_view_bench.sh BINARY_DIR
#
# BINARY_DIR holds the built make_scan_log and input_view_bench (for example build/bench);
# this script builds nothing. The log is generated into bench/data/ when it is missing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR}
data="$here/data/scan_log.txt"

require_built "$bin/make_scan_log" "$bin/input_view_bench"
ensure_scan_log "$data" "$bin"
echo "file: $data ($(stat -c %s "$data") bytes, $(wc -l < "$data") lines)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for pattern in '\w+' 'DELETE /download'; do
  echo "pattern: $pattern"
  "$bin/input_view_bench" "$data" "$pattern"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "goal: first paint within 300 ms, a scroll within one frame (16.7 ms)"
