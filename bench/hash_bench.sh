#!/usr/bin/env bash
# Module-file hashing benchmark: a package of 2,000 module files of 256 KiB
# and a manifest of about 200 KB naming them, ten files to a module. In one
# run, interleaved so that load from elsewhere falls on every command alike,
# it times the whole `brevick` run with the default jobs and with --jobs 1,
# and `md5sum` over the same files, and prints the ratios. Then it compares the run with
# --digest sha256 against the plain run: as whole runs when the executable
# has --digest, else the hashing stage alone (bench/file_hashing_bench.cc),
# whose ratio bounds the whole run's from above. Files stay in the page cache.
# Usage: bench/hash_bench.sh [modules] [file_kib] [repeats]
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
modules=${1:-2000}
fileKib=${2:-256}
repeats=${3:-5}

source bench/bench_setup.sh
bench_setup hash "$modules" "$fileKib"
python3 - "$work/pkg/manifest.xml" "$modules" <<'PY'
import sys
path, files = sys.argv[1], int(sys.argv[2])
perModule = 10  # a module ships several files: about 100 manifest bytes per file
with open(path, "w") as out:
    out.write('<?xml version="1.0" encoding="UTF-8"?>\n<dravanePackage>\n')
    out.write(' <package name="Bench" id="{00000000-0000-0000-0000-000000000000}" mode="debug">\n <modules>\n')
    for first in range(0, files, perModule):
        out.write(f'  <module name="Module {first // perModule}" id="{{{first:08X}-0000-4000-8000-000000000000}}"'
                  f' host="Engine" subPath="files">\n   <dependencies>\n')
        for i in range(first, min(first + perModule, files)):
            entry = 1 if i == first else 0
            out.write(f'    <dependency file="m{i:05d}" entryPoint="{entry}">'
                      '<destination value="local"/><md5/></dependency>\n')
        out.write('   </dependencies>\n  </module>\n')
    out.write(' </modules>\n </package>\n</dravanePackage>\n')
PY
echo "manifest: $(stat -c %s "$work/pkg/manifest.xml") bytes; CPUs: $(nproc)"

cat "$work"/pkg/files/* > /dev/null   # warm the page cache
cd "$work/pkg"
sign() { "$brevick" "$@" manifest.xml "$work/out.p7" "Bench Signer"; }

sign | tail -1
digestRun=no
if sign --digest sha256 2>/dev/null | grep -q '^Done$'; then digestRun=yes; fi
tDefault="" tOne="" tMd5sum="" tSha="" tMd2=""
echo "uptime before: $(uptime)"
for _ in $(seq "$repeats"); do
  tDefault=$(least "$tDefault" "$(seconds sign)")
  tOne=$(least "$tOne" "$(seconds sign --jobs 1)")
  tMd5sum=$(least "$tMd5sum" "$(seconds sh -c 'md5sum files/* > /dev/null')")
  if [ $digestRun = yes ]; then
    tMd2=$(least "$tMd2" "$(seconds sign --digest md2)")
    tSha=$(least "$tSha" "$(seconds sign --digest sha256)")
  fi
done
echo "uptime after:  $(uptime)"
printf 'best of %d: brevick %.3f s   brevick --jobs 1 %.3f s   md5sum %.3f s\n' \
  "$repeats" "$tDefault" "$tOne" "$tMd5sum"
printf 'brevick (default jobs) / md5sum = %.2fx  (goal: at most 0.60x)\n' \
  "$(echo "$tDefault / $tMd5sum" | bc -l)"
printf 'brevick --jobs 1 / md5sum       = %.2fx  (goal: at most 1.05x)\n' \
  "$(echo "$tOne / $tMd5sum" | bc -l)"
if [ $digestRun = yes ]; then
  printf 'brevick --digest sha256 / --digest md2 = %.2fx  (goal: at most 1.35x)\n' \
    "$(echo "$tSha / $tMd2" | bc -l)"
else
  echo "this brevick has no --digest yet: the hashing stage alone, MD5 + SHA-256 vs MD5"
  cd "$source"
  cmake --preset bench >/dev/null
  cmake --build --preset bench -j2 --target file_hashing_bench >/dev/null
  BREVICK_BENCH_MANIFEST="$work/pkg/manifest.xml" build/bench/bench/file_hashing_bench \
    --benchmark_filter='BM_HashingStage/[01]/'
  echo "uptime: $(uptime)"
fi
