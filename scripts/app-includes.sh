#!/usr/bin/env bash
# Makes docs/app-includes.svg, the picture of the app's files and the app headers each one
# includes, from the #include lines themselves. A file and its header are one box; every
# arrow goes from the includer down to the included, and the script fails on an include
# that closes a cycle, which would point an arrow upwards.
#
#   scripts/app-includes.sh [OUTPUT.svg] [SOURCE-ROOT]
#
# With --list instead of OUTPUT it prints the arrows, one "from -> to" a line, and makes no
# picture (graphviz's dot draws it otherwise).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
output=${1:-$here/docs/app-includes.svg}
root=${2:-$here}

dot_text=$(python3 - "$root" "$output" <<'PY'
import pathlib, re, sys

root = pathlib.Path(sys.argv[1])
listing = sys.argv[2] == "--list"
src = root / "app" / "src"
public = root / "app" / "include" / "app" / "evaluator.h"

def module(path):
    return "app/evaluator.h" if path == public else path.stem

files = sorted(p for p in src.iterdir() if p.suffix in (".h", ".cpp")) + [public]
modules = sorted({module(p) for p in files})
headers = {p.name: module(p) for p in src.iterdir() if p.suffix == ".h"}
headers["app/evaluator.h"] = "app/evaluator.h"
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)

edges = set()
for p in files:
    for name in include.findall(p.read_text()):
        target = headers.get(name)
        if target and target != module(p):
            edges.add((module(p), target))

if listing:
    for f, t in sorted(edges):
        print(f"{f} -> {t}")
# Kahn's order: whatever is left once no module can be taken lies on a cycle.
after = {m: {t for f, t in edges if f == m} for m in modules}
order, left = [], set(modules)
while left:
    ready = sorted(m for m in left if not (after[m] & left))
    if not ready:
        sys.exit("include cycle among: " + ", ".join(sorted(left)))
    order += ready
    left -= set(ready)

if listing:
    sys.exit(0)
print("digraph app_includes {")
print('  graph [rankdir=TB, nodesep=0.25, ranksep=0.45, fontname="sans-serif", '
      'label="app/src: each arrow an #include, from the includer down to the included file", '
      'labelloc=t];')
print('  node [shape=box, style="rounded,filled", fillcolor="#eef3fb", fontname="sans-serif", '
      'fontsize=11];')
print('  edge [color="#4a5a78", arrowsize=0.6];')
for m in modules:
    print(f'  "{m}";')
for f, t in sorted(edges):
    print(f'  "{f}" -> "{t}";')
print("}")
PY
)
if [[ "$output" == "--list" ]]; then
  printf '%s\n' "$dot_text"
  exit 0
fi
command -v dot >/dev/null || { echo "graphviz's dot is needed: apt-get install graphviz" >&2; exit 1; }
mkdir -p "$(dirname "$output")"
printf '%s\n' "$dot_text" | dot -T"${output##*.}" -o "$output"
echo "wrote $output"
