#!/usr/bin/env bash
# Installs what is missing, checks the desktop entry and the AppStream metadata, then builds
# and runs every test three times over: a plain build, one with AddressSanitizer and
# UndefinedBehaviorSanitizer, and one with ThreadSanitizer (Qt and glib, which are not built
# with it, are suppressed as tests/thread-sanitizer.supp explains).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

run_suite() {  # folder, sanitizer, test-name filter, targets (all when none)
  local folder=$1 sanitize=$2 filter=${3:-}
  shift $(($# < 3 ? $# : 3))
  cmake -S . -B "$folder" -DREGEX_EVALUATOR_SANITIZE="$sanitize" -DREGEX_EVALUATOR_WERROR=ON >/dev/null
  cmake --build "$folder" -j"$jobs" ${1:+--target "$@"}
  (cd "$folder" && ctest --output-on-failure -j"$jobs" ${filter:+-R "$filter"})
}

desktop-file-validate app/regex-evaluator.desktop
appstreamcli validate --no-net app/io.github.regexevaluator.RegexEvaluator.metainfo.xml

run_suite build ""
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan "address,undefined"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/thread-sanitizer.supp" \
  run_suite build-tsan "thread"
