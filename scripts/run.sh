#!/usr/bin/env bash
# Installs what is missing, builds the evaluator and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
# Every setting this build depends on is given here, whatever an earlier script left in
# build/'s cache: the program alone, without tests, benchmarks or sanitizers.
cmake -S . -B build -DREGEX_EVALUATOR_TESTS=OFF -DREGEX_EVALUATOR_BENCH=OFF \
  -DREGEX_EVALUATOR_SANITIZE= -DREGEX_EVALUATOR_WERROR=OFF >/dev/null
cmake --build build --target regex-evaluator -j"$(nproc)"
exec build/app/regex-evaluator
