#!/usr/bin/env bash
# Export stalls: the real evaluator (offscreen) evaluates (\w+)@([\w.]+) with groups over
# 1,000,000 lines user<i>@host<i mod 97>.org (1,000,000 matches, 3,000,000 rows), then
# each of the five export buttons is clicked (see export_bench.cpp). The figure to watch
# is longest_stall: the longest time during an export in which the window handled none of
# its events. The machine's load is printed before and after: figures taken while other
# work runs are not comparable.
#
#   bench/run_export_stall_bench.sh BINARY_DIR
#
# BINARY_DIR holds the built export_bench (for example build/bench); this script builds
# nothing. The address list is generated into bench/data/ when it is missing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR}
data="$here/data/addresses_1m.txt"

require_built "$bin/export_bench"
if [[ ! -f $data ]]; then
  mkdir -p "$(dirname "$data")"
  awk 'BEGIN { for (i = 0; i < 1000000; ++i) printf "user%d@host%d.org\n", i, i % 97 }' > "$data"
fi
echo "file: $data ($(stat -c %s "$data") bytes)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$bin/export_bench" "$data" '(\w+)@([\w.]+)' groups
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "goal: longest_stall under 100 ms for each format"
