#!/usr/bin/env bash
# Checks the sources against the checked-in style and static checks: clang-format must
# leave every file as it is, and clang-tidy (.clang-tidy's checks) must find nothing in the
# libraries and the app. Uses the build folder's compile commands (configured here).
#
#   scripts/lint.sh [folder]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=${1:-build}
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
cmake -S . -B "$folder" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
found=0
for library in runtime threads records regex json xml ui app; do
  report=$(clang-tidy -p "$folder" --quiet "$library"/src/*.cpp 2>/dev/null || true)
  if grep -q "warning:" <<< "$report"; then
    grep -A3 "warning:" <<< "$report"
    found=1
  fi
done
exit $found
