#!/usr/bin/env bash
# Whole-run benchmark: a package of 2,000 module files of 256 KiB each and a
# 10 MB manifest naming them. Times `brevick` on it and, in the same run,
# `md5sum` over the same files and `xmllint --noout` over the same manifest,
# and prints the ratios. Files stay in the page cache between the runs.
# Usage: bench/pipeline_bench.sh [modules] [file_kib] [manifest_mb] [repeats]
set -euo pipefail
cd "$(dirname "$0")/.."
modules=${1:-2000}
fileKib=${2:-256}
manifestMb=${3:-10}
repeats=${4:-3}

source bench/bench_setup.sh
bench_setup pipeline "$modules" "$fileKib"
# Each module names its file; a description pads the manifest to the size asked.
python3 bench/gen_manifest.py --package "$work/pkg/manifest.xml" "$modules" "$manifestMb"
echo "manifest: $(stat -c %s "$work/pkg/manifest.xml") bytes"

cat "$work"/pkg/files/* > /dev/null   # warm the page cache
cd "$work/pkg"
tBrevick=$(best "$brevick" manifest.xml "$work/out.p7" "Bench Signer")
"$brevick" manifest.xml "$work/out.p7" "Bench Signer" | tail -1
tMd5sum=$(best sh -c 'md5sum files/* > /dev/null')
tXmllint=$(best xmllint --noout manifest.xml)
printf 'brevick %.3f s   md5sum %.3f s   xmllint --noout %.3f s\n' "$tBrevick" "$tMd5sum" "$tXmllint"
printf 'brevick / md5sum  = %.2fx  (goal: at most 1.10x)\n' "$(echo "$tBrevick / $tMd5sum" | bc -l)"
printf 'brevick / xmllint = %.2fx\n' "$(echo "$tBrevick / $tXmllint" | bc -l)"
