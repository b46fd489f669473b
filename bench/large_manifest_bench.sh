#!/usr/bin/env bash
# Large manifests, measured side by side in one run:
#  a. a 10 MB manifest of 2,000 modules with 1 KiB files: the whole signing
#     run against one MD2 pass over the text it signs (the same MD2 code)
#     plus `md5sum` over the module files (the hashing term: the same files
#     read and digested once by a standard tool); and the signing stage alone
#     (write, sign, write the message, read it back and check it) against one
#     MD2 pass, alternating. Both MD2 figures come from
#     bench/sign_check_pass.cc.
#  b. MODULES modules against MODULES/10 (one dependency each, empty files,
#     the smallest manifest per module): peak memory (maximum resident set
#     size from /usr/bin/time -v) over the manifest's size, and the time ratio.
# The load (uptime) is printed before and after.
# Usage: bench/large_manifest_bench.sh [modules] [repeats]   (default 1000000 3)
set -euo pipefail
cd "$(dirname "$0")/.."
modules=${1:-1000000}
repeats=${2:-3}
small=$((modules / 10))
perDir=1000

source bench/bench_setup.sh
bench_setup large 2000 1
uptime
libs=""
for lib in app verify cms token pki manifest digest base xml; do
  libs+=" build/release/$lib/libbrevick_$lib.a"
done
g++ -O2 -std=c++20 -I. bench/sign_check_pass.cc $libs -lcrypto -lcurl -ldl -pthread \
  -o "$work/sign_check_pass"

echo "== a. 10 MB manifest, 2000 modules of 1 KiB"
python3 bench/gen_manifest.py --package "$work/pkg/manifest.xml" 2000 10
echo "manifest: $(stat -c %s "$work/pkg/manifest.xml") bytes"
cat "$work"/pkg/files/* > /dev/null   # warm the page cache
(
  cd "$work/pkg"
  "$brevick" manifest.xml "$work/out.p7" "Bench Signer" | tail -1
  tRun=$(best "$brevick" manifest.xml "$work/out.p7" "Bench Signer")
  tMd5=$(best sh -c 'md5sum files/* > /dev/null')
  { read -r tMd2; read -r stage; } < <("$work/sign_check_pass" "$work/out.p7" "Bench Signer" \
    "$work/again.p7" "$repeats" 2>/dev/null)
  printf 'brevick %.3f s   md2 pass %.3f s   md5sum %.3f s\n' "$tRun" "$tMd2" "$tMd5"
  printf 'brevick / (md2 + md5sum) = %.2fx  (goal: at most 1.15x)\n' \
    "$(echo "$tRun / ($tMd2 + $tMd5)" | bc -l)"
  echo "$stage"
)
rm -rf "$work/pkg/files" "$work/out.p7" "$work/again.p7"

echo "== b. $modules modules against $small"
echo "disk: $(df -h /tmp | tail -1)"
# Empty module files, $perDir to a directory.
python3 - "$work/pkg" "$modules" "$perDir" <<'PY'
import os, sys
root, count, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for d in range((count + per - 1) // per):
    os.makedirs(f"{root}/files/d{d}")
    for i in range(d * per, min(count, (d + 1) * per)):
        open(f"{root}/files/d{d}/m{i:07d}", "w").close()
PY
# Peak memory in KiB and elapsed seconds of one run, best time of $repeats.
measure() {
  local count=$1 bestTime="" peak=""
  python3 bench/gen_manifest.py --package "$work/pkg/m$count.xml" "$count" 0 "$perDir"
  for _ in $(seq "$repeats"); do
    (cd "$work/pkg" && /usr/bin/time -v "$brevick" "m$count.xml" "$work/out$count.p7" \
      "Bench Signer" > /dev/null 2> "$work/time$count.txt") || true
    local kib t
    kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time$count.txt")
    t=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time$count.txt" |
      awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
    if [ -z "$bestTime" ] || (( $(echo "$t < $bestTime" | bc -l) )); then bestTime=$t; fi
    if [ -z "$peak" ] || [ "$kib" -lt "$peak" ]; then peak=$kib; fi
  done
  grep -q "Exit status: 0" "$work/time$count.txt" || echo "run of $count modules failed"
  echo "$bestTime $peak $(stat -c %s "$work/pkg/m$count.xml")"
}
read -r tSmall kibSmall sizeSmall < <(measure "$small")
read -r tLarge kibLarge sizeLarge < <(measure "$modules")
for row in "$small $tSmall $kibSmall $sizeSmall" "$modules $tLarge $kibLarge $sizeLarge"; do
  set -- $row
  printf '%8d modules: manifest %d bytes, %.2f s, max RSS %d KiB = %.2fx the manifest\n' \
    "$1" "$4" "$2" "$3" "$(echo "$3 * 1024 / $4" | bc -l)"
done
printf 'time %d / %d modules = %.2fx  (goal: at most 11x)\n' "$modules" "$small" \
  "$(echo "$tLarge / $tSmall" | bc -l)"
printf 'peak memory / manifest at %d modules = %.2fx  (goal: at most 9x)\n' "$modules" \
  "$(echo "$kibLarge * 1024 / $sizeLarge" | bc -l)"
uptime
