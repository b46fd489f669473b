#!/usr/bin/env bash
# Store-scan benchmark: one signing run over a tiny package, with the signing
# store holding only its signer and again with 10,000 junk files beside it
# (5,000 undecodable *.pem of 2 KiB, 5,000 files of other names). Prints the
# median time of each and their ratio, measured side by side in one run.
# Usage: bench/store_scan_bench.sh [brevick-binary] [junk-files] [repeats]
set -euo pipefail
cd "$(dirname "$0")/.."
brevick=${1:-$PWD/build/release/app/brevick}
junk=${2:-10000}
repeats=${3:-5}

work=$(mktemp -d /tmp/brevick-store-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/clean/brevick/certstores/My" "$work/junk/brevick/certstores/My" "$work/pkg/bin"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Bench Signer" \
  -keyout "$work/signer.key" -out "$work/signer.crt" 2>/dev/null
for home in clean junk; do
  # "m" sorts the signer among the junk, so the scan passes junk on both sides.
  cat "$work/signer.crt" "$work/signer.key" >"$work/$home/brevick/certstores/My/m-signer.pem"
done
python3 - "$work/junk/brevick/certstores/My" "$junk" <<'PY'
import os, sys
store, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    name = f"j{i:05d}.pem" if i % 2 == 0 else f"j{i:05d}.txt"
    with open(os.path.join(store, name), "wb") as out:
        out.write(os.urandom(2048))
PY
printf 'abc' >"$work/pkg/bin/a.dll"
cat >"$work/pkg/m.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<dravanePackage>
  <package name="P" id="{00000000-0000-0000-0000-000000000001}">
    <modules>
      <module name="A" id="{00000000-0000-0000-0000-000000000002}" host="Engine" subPath="bin">
        <dependencies>
          <dependency file="a.dll" entryPoint="1"><destination value="local"/><md5/></dependency>
        </dependencies>
      </module>
    </modules>
  </package>
</dravanePackage>
XML

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
timeRuns() {
  for _ in $(seq "$repeats"); do
    local start end
    start=$(date +%s%N)
    (cd "$work/pkg" && XDG_DATA_HOME="$work/$1" "$brevick" m.xml out.p7 "Bench Signer" >/dev/null 2>&1) ||
      { echo "run failed ($1)" >&2; exit 1; }
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
  done | median
}
clean=$(timeRuns clean)
withJunk=$(timeRuns junk)
echo "binary: $brevick"
echo "store with its signer only:      ${clean} us"
echo "store with $junk junk files: ${withJunk} us"
awk -v a="$withJunk" -v b="$clean" 'BEGIN { printf "ratio junk/clean: %.2f\n", a / b }'
