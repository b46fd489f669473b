#!/usr/bin/env bash
# Recipient's check benchmark: signs a package of 2,000 module files of
# 256 KiB, then, in one run and interleaved so that load from elsewhere falls
# on every command alike, times `brevick --verify --package` on it with the
# default jobs and with --jobs 1, and `md5sum` over the same files, and prints
# the ratios. Files stay in the page cache between the runs; each time is the
# best of the repeats.
# Usage: bench/verify_bench.sh [files] [file_kib] [repeats]
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-2000}
fileKib=${2:-256}
repeats=${3:-5}

source bench/bench_setup.sh
bench_setup verify "$files" "$fileKib"
python3 - "$work/manifest.xml" "$files" "$work/pkg" <<'PY'
import sys
path, count, pkg = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with open(path, "w") as out:
    out.write('<?xml version="1.0" encoding="UTF-8"?>\n<dravanePackage>\n')
    out.write(' <package name="Bench" id="{00000000-0000-0000-0000-000000000000}">\n <modules>\n')
    out.write('  <module name="Files" id="{00000001-0000-4000-8000-000000000000}" host="Engine"'
              ' subPath="files">\n   <dependencies>\n')
    for i in range(count):
        out.write(f'    <dependency file="m{i:05d}" entryPoint="{1 if i == 0 else 0}">'
                  f'<destination value="local"/><signInfo path="{pkg}/files"/><md5/></dependency>\n')
    out.write('   </dependencies>\n  </module>\n </modules>\n </package>\n</dravanePackage>\n')
PY
"$brevick" "$work/manifest.xml" "$work/signed.p7" "Bench Signer" | tail -1
thumbprint=$(openssl x509 -in "$store/bench.pem" -noout -fingerprint -sha256 | cut -d= -f2)

cat "$work"/pkg/files/* > /dev/null   # warm the page cache
cd "$work/pkg"
verify() { "$brevick" --verify "$work/signed.p7" --package . --signer "$thumbprint" "$@"; }
status=0
verify | tail -2 || status=$?
echo "exit code $status; CPUs: $(nproc)"


tDefault="" tOne="" tMd5sum=""
echo "uptime before: $(uptime)"
for _ in $(seq "$repeats"); do
  tDefault=$(least "$tDefault" "$(seconds verify)")
  tOne=$(least "$tOne" "$(seconds verify --jobs 1)")
  tMd5sum=$(least "$tMd5sum" "$(seconds sh -c 'md5sum files/* > /dev/null')")
done
echo "uptime after:  $(uptime)"
printf 'best of %d: brevick --verify --package %.3f s   with --jobs 1 %.3f s   md5sum %.3f s\n' \
  "$repeats" "$tDefault" "$tOne" "$tMd5sum"
printf 'brevick --verify --package (default jobs) / md5sum = %.2fx  (goal: at most 0.60x)\n' \
  "$(echo "$tDefault / $tMd5sum" | bc -l)"
printf 'brevick --verify --package --jobs 1 / md5sum       = %.2fx\n' \
  "$(echo "$tOne / $tMd5sum" | bc -l)"
