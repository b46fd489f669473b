#!/usr/bin/env bash
# Recipient's check benchmark: signs a package of 2,000 module files of
# 256 KiB, then times `brevick --verify --package` on it and, in the same run,
# `md5sum` over the same files, and prints the ratio. Files stay in the page
# cache between the runs; each time is the best of the repeats.
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

# Seconds taken by a command, best of $repeats (the least disturbed run).
best() {
  local bestTime=""
  for _ in $(seq "$repeats"); do
    local start end t
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$bestTime" ] || (( $(echo "$t < $bestTime" | bc -l) )); then bestTime=$t; fi
  done
  echo "$bestTime"
}

cat "$work"/pkg/files/* > /dev/null   # warm the page cache
cd "$work/pkg"
status=0
"$brevick" --verify "$work/signed.p7" --package . --signer "$thumbprint" | tail -2 || status=$?
echo "exit code $status"
tVerify=$(best "$brevick" --verify "$work/signed.p7" --package . --signer "$thumbprint")
tMd5sum=$(best sh -c 'md5sum files/* > /dev/null')
printf 'brevick --verify --package %.3f s   md5sum %.3f s\n' "$tVerify" "$tMd5sum"
printf 'brevick --verify / md5sum = %.2fx  (goal: at most 1.10x)\n' "$(echo "$tVerify / $tMd5sum" | bc -l)"
echo "load: $(uptime)"
