#!/usr/bin/env bash
# Export benchmark: the real evaluator (offscreen) evaluates the IP-address pattern with
# groups over the reproducible 40 MB log, then each of the six export buttons is clicked
# with the save chooser answered by the modal seam (see export_bench.cpp). The machine's
# load is printed before and after: figures taken while other work runs are not comparable.
#
#   bench/run_export_bench.sh BINARY_DIR [keep] [FORMAT...]
#
# BINARY_DIR holds the built make_scan_log and export_bench (for example build/bench);
# this script builds nothing. The log is generated into bench/data/ when it is missing.
# "keep" leaves the exported files in their temporary folder; FORMATs (comma, newline, tab,
# json, xml, csv) pick the buttons, all six by default.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR [keep] [FORMAT...]}
data="$here/data/scan_log.txt"

require_built "$bin/make_scan_log" "$bin/export_bench"
ensure_scan_log "$data" "$bin"
echo "file: $data ($(stat -c %s "$data") bytes)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$bin/export_bench" "$data" '(\d+)\.(\d+)\.(\d+)\.(\d+)' groups "${@:2}"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "goal: at most 1 s from the click to the box for each format"
