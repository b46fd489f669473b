#!/usr/bin/env bash
# Builds and runs every test: an optimised build with warnings as errors, the
# layout and clang-tidy check and an unoptimised build of the program with
# warnings as errors, the same tests under AddressSanitizer +
# UndefinedBehaviorSanitizer, the runs of the executable once more under
# valgrind, then each libFuzzer target for a short while on its seed corpus;
# last, the Debian package is built, unpacked and tried out, and lintian
# checks it. The docs stage runs the shell examples of README.md and of the man
# page against the ci build (scripts/docs_check.sh).
# Usage: scripts/test.sh [ci|docs|style|sanitize|valgrind|fuzz|package]...   (default: all)
# BREVICK_FUZZ_SECONDS sets the time per fuzz target (default 45); the fuzz
# stage also runs the long form of the slow tests (BREVICK_LONG_TESTS=1).
set -euo pipefail
cd "$(dirname "$0")/.."

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(ci docs style sanitize valgrind fuzz package)
bash scripts/deps.sh build pkcs11
jobs=$(nproc)
for stage in "${stages[@]}"; do
  echo "== $stage"
  if [ "$stage" = fuzz ]; then
    bash fuzz/run_all.sh "${BREVICK_FUZZ_SECONDS:-45}"
    # The long form of the tests that run short by default (the largest
    # package, the output-replacement loops), once, on the ci build; a
    # renamed test must not drop out silently.
    cmake --preset ci >/dev/null && cmake --build --preset ci -j "$jobs" >/dev/null
    BREVICK_LONG_TESTS=1 ctest --preset ci -j "$jobs" --no-tests=error -R 'FileStatusesAndTheFilesBit|OutputReplacementTest'
    continue
  fi
  if [ "$stage" = style ]; then
    bash scripts/deps.sh style
    cmake --preset ci >/dev/null
    bash scripts/check_style.sh build/ci
    # Some warnings show only without optimisation (and others only with it):
    # the program is built once more at -O0, warnings as errors.
    cmake --preset debug-werror >/dev/null
    cmake --build --preset debug-werror -j "$jobs"
    continue
  fi
  if [ "$stage" = docs ]; then
    cmake --preset ci >/dev/null && cmake --build --preset ci -j "$jobs" --target brevick >/dev/null
    bash scripts/docs_check.sh build/ci/app/brevick
    continue
  fi
  if [ "$stage" = package ]; then
    BREVICK_JOBS=$jobs bash scripts/package_check.sh
    continue
  fi
  if [ "$stage" = valgrind ]; then
    # The end-to-end tests of the ci build, each brevick process under memcheck.
    bash scripts/deps.sh valgrind
    cmake --preset ci >/dev/null && cmake --build --preset ci -j "$jobs" >/dev/null
    BREVICK_TEST_WRAPPER="valgrind --error-exitcode=99 -q --leak-check=full --errors-for-leak-kinds=definite --suppressions=$PWD/tests/valgrind.supp" \
      build/ci/tests/brevick_app_tests --gtest_filter='CliTest.*:PipelineEndToEndTest.*:HostileInputTest.*' --gtest_brief=1
    continue
  fi
  cmake --preset "$stage" >/dev/null
  cmake --build --preset "$stage" -j "$jobs"
  ctest --preset "$stage" -j "$jobs"
done
