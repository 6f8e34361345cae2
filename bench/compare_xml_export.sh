#!/usr/bin/env bash
# Compares the XML export of two builds byte for byte: export_bench of each (the real
# evaluator, offscreen) evaluates the same inputs and keeps its files, and the two
# export.xml files of each input must be equal. The inputs: a file of the texts the export
# tests use (blanks, tabs, every line-break kind, markup characters, quotes, commas,
# characters beyond U+FFFF and outside XML 1.0), and a file of 1,000,000 matches with two
# groups each. A text cut at a NUL is left to tests/xml: the evaluation of an input file
# holding a NUL does not end in export_bench.
#
#   bench/compare_xml_export.sh OLD_BINARY_DIR NEW_BINARY_DIR
#
# Each BINARY_DIR holds a built export_bench (for example build/bench); nothing is built.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
. "$here/bench_common.sh"
old=${1:?usage: $0 OLD_BINARY_DIR NEW_BINARY_DIR}
new=${2:?usage: $0 OLD_BINARY_DIR NEW_BINARY_DIR}
require_built "$old/export_bench" "$new/export_bench"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '[  two  blanks\t\ttabs  ][x\r\ny\nz\r][a<b & c>"'"'"'][\xF0\x9F\x98\x80 \\ / \xC3\xA9]'`
      `'[a,b][\x01\xEF\xBF\xBF][\xEF\xBF\xBE\x1F][][&amp;]' > "$work/texts.txt"
awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "user%d@host%d.org\n", i, i % 97 }' \
  > "$work/million.txt"

status=0
compare() {  # name input pattern
  local side file
  for side in old new; do
    file=$([[ $side == old ]] && echo "$old" || echo "$new")/export_bench
    "$file" "$work/$2" "$3" groups keep > "$work/$1.$side.log"
    mv "$(awk '/^folder / { print $2 }' "$work/$1.$side.log")" "$work/$1.$side"
  done
  if cmp "$work/$1.old/export.xml" "$work/$1.new/export.xml"; then
    echo "$1: equal, $(stat -c %s "$work/$1.new/export.xml") bytes," \
         "$(grep -c '<m>\|<m/>' "$work/$1.new/export.xml") matches"
  else
    echo "$1: DIFFERENT"
    status=1
  fi
  grep '^xml ' "$work/$1.old.log" | sed 's/^/  old /'
  grep '^xml ' "$work/$1.new.log" | sed 's/^/  new /'
}
compare texts texts.txt '\[([^]]*)\]'
compare million million.txt '(\w+)@([\w.]+)'
exit $status
