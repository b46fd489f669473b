#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz) and runs one of them on one core.
# Usage: fuzz/run_fuzzer.sh NAME SECONDS [LIBFUZZER ARGS...]
#   e.g. fuzz/run_fuzzer.sh parser_fuzzer 1200
# Further arguments go to libFuzzer: options, or more corpus directories to
# read from (say the corpus an earlier run grew).
# The seed corpus fuzz/corpus/<NAME without _fuzzer> (or fuzz/corpus/NAME) is
# copied to build/fuzz-runs/NAME/corpus, where the run grows it; findings land
# in build/fuzz-runs/NAME/findings. Nothing is written into the source tree.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ]; then
  echo "usage: $0 NAME SECONDS [LIBFUZZER ARGS...]" >&2
  exit 2
fi
name=$1
seconds=$2
shift 2

bash scripts/deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 --target "$name"

seeds=fuzz/corpus/${name%_fuzzer}
[ -d "$seeds" ] || seeds=fuzz/corpus/$name
run=build/fuzz-runs/$name
rm -rf "$run/corpus"
mkdir -p "$run/corpus" "$run/findings"
if [ -d "$seeds" ]; then cp -r "$seeds"/. "$run/corpus/"; fi

options=(-max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048
         -print_final_stats=1 -artifact_prefix="$run/findings/")
[ -f "fuzz/$name.dict" ] && options+=(-dict="fuzz/$name.dict")

# One process on one core: the machine is shared.
exec "build/fuzz/fuzz/$name" "${options[@]}" "$run/corpus" "$@"
