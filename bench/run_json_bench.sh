#!/usr/bin/env bash
# JSON export benchmark: JsonInsertList + JsonCompose(..., JsonPrettyPrint) against Python's
# json.dumps(records, indent=2, ensure_ascii=False) on the same records, one after the other
# in the same run, with the memory the insertion and composing added.
#
#   bench/run_json_bench.sh BINARY_DIR [RECORDS]
#
# BINARY_DIR holds the built json_bench (for example build/bench); this script builds nothing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
bin=${1:?usage: $0 BINARY_DIR [RECORDS]}
records=${2:-400000}
require_built "$bin/json_bench"

ours=$("$bin/json_bench" "$records")
python=$(python3 "$here/json_bench.py" "$records")
echo "records: $records"
sed 's/^/  json_bench /' <<< "$ours"
sed 's/^/  python     /' <<< "$python"
awk '
  /^insert_compose_seconds/ { ours = $2 } /^dumps_seconds/ { python = $2 }
  /^added_peak_bytes/ { added = $2 } /^text_units/ { units = $2 }
  END {
    printf "  speed-up over json.dumps: %.1f x\n", python / ours
    printf "  added memory / composed text: %.2f x its UTF-16 bytes, %.2f x its UTF-8 bytes\n",
           added / (2 * units), added / units
  }' <<< "$ours"$'\n'"$python"
