#!/usr/bin/env bash
# Installs what is missing, builds the evaluator and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
cmake -S . -B build -DREGEX_EVALUATOR_TESTS=OFF -DREGEX_EVALUATOR_BENCH=OFF >/dev/null
cmake --build build --target regex-evaluator -j"$(nproc)"
exec build/app/regex-evaluator
