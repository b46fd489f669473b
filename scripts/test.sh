#!/usr/bin/env bash
# Builds and runs every test: first an optimised build with warnings as errors,
# then the same tests under AddressSanitizer + UndefinedBehaviorSanitizer.
# Usage: scripts/test.sh [ci|sanitize]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(ci sanitize)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
