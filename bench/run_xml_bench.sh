#!/usr/bin/env bash
# XML export benchmark: the XML operations (xml_bench) against Python's ElementTree
# (xml_bench.py) on the same records, one after the other in the same run.
#
#   bench/run_xml_bench.sh BINARY_DIR [RECORDS]
#
# BINARY_DIR holds the built xml_bench (for example build/bench); this script builds nothing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR [RECORDS]}
records=${2:-400000}
require_built "$bin/xml_bench"

ours=$("$bin/xml_bench" "$records")
python=$(python3 "$here/xml_bench.py" "$records")
echo "records: $records MatchRecords with four groups each"
paste <(sed 's/^/xml_bench  /' <<< "$ours") <(sed 's/^/ElementTree  /' <<< "$python") |
  awk -F'\t' '{ printf "%-44s %s\n", $1, $2 }'
ratio() {  # field of the total line: 2 wall, 5 cpu
  awk -v ours="$(awk -v f="$1" '/^total/ { print $f }' <<< "$ours")" \
      -v python="$(awk -v f="$1" '/^total/ { print $f }' <<< "$python")" \
      'BEGIN { printf "%.1f", python / ours }'
}
echo "ElementTree / xml_bench: $(ratio 2) times the wall time, $(ratio 5) times the CPU time"
