#!/usr/bin/env bash
# Installs what is missing, checks the desktop entry and the AppStream metadata, then builds
# and runs every test three times over: a plain build, one with AddressSanitizer and
# UndefinedBehaviorSanitizer, and one with ThreadSanitizer (Qt and glib, which are not built
# with it, are suppressed as tests/thread-sanitizer.supp explains).
#
#   scripts/test.sh [plain] [asan] [tsan]      (all three when none is named)
#
# Each build folder is configured with every setting the suite depends on, so a folder that
# another script configured differently (scripts/run.sh builds without tests) is set right
# again; a suite that runs no test at all fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(plain asan tsan)

run_suite() {  # folder, sanitizer
  local folder=$1 sanitize=$2
  cmake -S . -B "$folder" -DREGEX_EVALUATOR_TESTS=ON -DREGEX_EVALUATOR_BENCH=ON \
    -DREGEX_EVALUATOR_SANITIZE="$sanitize" -DREGEX_EVALUATOR_WERROR=ON >/dev/null
  cmake --build "$folder" -j"$jobs"
  (cd "$folder" && ctest --output-on-failure --no-tests=error -j"$jobs")
}

desktop-file-validate app/regex-evaluator.desktop
appstreamcli validate --no-net app/io.github.regexevaluator.RegexEvaluator.metainfo.xml

for suite in "${suites[@]}"; do
  case $suite in
    plain) run_suite build "" ;;
    asan)
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
        run_suite build-asan "address,undefined" ;;
    tsan)
      TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/thread-sanitizer.supp" \
        run_suite build-tsan "thread" ;;
    *) echo "unknown suite $suite: plain, asan or tsan" >&2; exit 2 ;;
  esac
done
