#!/usr/bin/env bash
# Builds every libFuzzer target and runs each in turn for SECONDS on its seed
# corpus. Exits non-zero at the first target that finds a fault; its input is
# kept in build/fuzz-runs/NAME/findings.
# Usage: fuzz/run_all.sh SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: fuzz/run_all.sh SECONDS}

for source in fuzz/*_fuzzer.cc; do
  name=$(basename "$source" .cc)
  echo "== $name: $seconds s"
  bash fuzz/run_fuzzer.sh "$name" "$seconds" 2>&1 | grep -E '^(Done|#[0-9]+ +DONE|==[0-9]+==|SUMMARY|stat::number_of_executed_units|artifact_prefix|Test unit written)' || true
  # libFuzzer's exit status is lost in the pipe above; a finding leaves a file.
  if compgen -G "build/fuzz-runs/$name/findings/*" > /dev/null; then
    echo "$name: finding in build/fuzz-runs/$name/findings" >&2
    exit 1
  fi
done
