#!/usr/bin/env bash
# Builds and runs every test: an optimised build with warnings as errors, the
# same tests under AddressSanitizer + UndefinedBehaviorSanitizer, then each
# libFuzzer target for a short while on its seed corpus.
# Usage: scripts/test.sh [ci|sanitize|fuzz]...   (default: all three)
# BREVICK_FUZZ_SECONDS sets the time per fuzz target (default 45).
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(ci sanitize fuzz)
bash scripts/deps.sh build
jobs=$(nproc)
for stage in "${stages[@]}"; do
  echo "== $stage"
  if [ "$stage" = fuzz ]; then
    bash fuzz/run_all.sh "${BREVICK_FUZZ_SECONDS:-45}"
    continue
  fi
  cmake --preset "$stage" >/dev/null
  cmake --build --preset "$stage" -j "$jobs"
  ctest --preset "$stage" -j "$jobs"
done
