#!/usr/bin/env bash
# Counts the project's functions that the evaluator never reaches from main().
#
#   scripts/reachability.sh [folder]      (default: build-reach)
#
# The libraries are built unoptimised (so no function disappears into its callers) with one
# section per function, and the program is linked with every object of every project library
# forced in (--whole-archive) and --gc-sections: whatever the linker then drops is reached
# from nothing the program runs. Virtual functions stay reachable through their vtables, so
# the count errs towards keeping. Code that Qt's tools generate (moc, rcc) is left out. Prints the count per library and in all; the dropped
# functions' names go to <folder>/unreached.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-build-reach}
libraries=(runtime threads records regex json xml ui app)

cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O0" \
  -DCMAKE_CXX_FLAGS="-ffunction-sections" -DREGEX_EVALUATOR_TESTS=OFF \
  -DREGEX_EVALUATOR_BENCH=OFF -DREGEX_EVALUATOR_WERROR=OFF >/dev/null
cmake --build "$folder" -j"$(nproc)" --target regex-evaluator >/dev/null

# The program's own link line, with the project's archives wrapped in --whole-archive.
cd "$folder/app"
link=$(cat CMakeFiles/regex-evaluator.dir/link.txt)
archives=()
for library in "${libraries[@]}"; do
  name=$library
  [ "$library" = app ] && name=evaluator
  archive=$(realpath --relative-to=. "../$library/lib$name.a")
  archives+=("$archive")
  link=${link//" $archive "/" "}
done
link="${link/ -o / -Wl,--gc-sections -Wl,--print-gc-sections -Wl,--whole-archive ${archives[*]} -Wl,--no-whole-archive -o }"
link=${link/-o regex-evaluator/-o regex-evaluator-reach}
eval "$link" 2>../gc-sections.txt
cd ..

# "removing unused section '.text.NAME' in file '../LIB/libLIB.a(FILE.o)'". Counted: the
# project's out-of-line functions. Not counted: inline functions and template instances
# (comdat sections, "[group]"), the standard library's templates made for local types,
# lambdas (they belong to their enclosing function) and static initialisers.
grep -E "removing unused section '\.text\.[^'[]+' in file '[^']*lib[a-z]+\.a\(" gc-sections.txt |
  sed -E "s/.*'\.text\.([^']+)' in file '[^']*lib([a-z]+)\.a\(([^)]*)\)'.*/\2 \3 \1/" |
  grep -vE ' (mocs_compilation|qrc_)[^ ]* ' |
  grep -vE ' (_ZN?K?St|_ZN?K?9__gnu_cxx|_GLOBAL__sub_I)' | grep -v __gthread_active_p |
  c++filt | grep -v '{lambda' | sort -u >unreached.txt

total=0
for library in "${libraries[@]}"; do
  name=$library
  [ "$library" = app ] && name=evaluator
  count=$(awk -v l="$name" '$1 == l' unreached.txt | wc -l)
  printf '%-8s %5d\n' "$library" "$count"
  total=$((total + count))
done
printf '%-8s %5d\n' total "$total"
