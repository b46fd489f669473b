#!/usr/bin/env bash
# Module-file hashing benchmark, whole runs measured side by side in one run.
# Two packages: 2,000 module files of 256 KiB (a ~200 KB manifest), and
# 20,000 of 4 KiB (a ~2 MB manifest: per-file cost and the MD2 pass over the
# text). For each, round after round in a fixed order, so that load from
# elsewhere falls on every command alike, it times:
#   brevick (default jobs), brevick --jobs 1, brevick --digest sha256,
#   brevick --verify --package (default jobs), md5sum over the files, and
#   `xargs -P2 md5sum` (the parallel reference a user would pick),
# and prints the medians and their ratios, wall clock and user+sys (the CPU
# time, which a loaded machine disturbs less), with the load before and after.
# Then /usr/bin/time's user and system seconds for --jobs 1 against md5sum,
# and the MD5 and SHA-256 kernels in memory against OpenSSL's.
# Files stay in the page cache.
# Usage: bench/hash_bench.sh [rounds]
#   BREVICK_BENCH_EXE=path times that executable instead of this tree's (and
#   skips the kernel benchmark, which is this tree's);
#   BREVICK_BENCH_BASELINE=path times that one too, in the same rounds, and
#   prints each brevick run against it (a build of an earlier commit, say).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}

source bench/bench_setup.sh
bench_setup hash 2000 256
echo "generating 20000 files of 4 KiB"
mkdir -p "$work/small/files"
head -c $((20000 * 4096)) /dev/urandom | split -a 5 -d -b 4096 - "$work/small/files/m"

# A manifest naming every file of `dir`/files, ten files to a module.
write_manifest() {
  python3 - "$1/manifest.xml" "$2" <<'PY'
import sys
path, files = sys.argv[1], int(sys.argv[2])
perModule = 10
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
}
thumbprint=$(openssl x509 -in "$store/bench.pem" -noout -fingerprint -sha256 | cut -d= -f2)

# Times every command of one package, `rounds` times interleaved; prints the
# medians and the ratios.
measure() {
  local dir=$1 count=$2 goal=$3
  write_manifest "$dir" "$count"
  cat "$dir"/files/* > /dev/null # warm the page cache
  cd "$dir"
  echo "== $count files of $(($(stat -c %s files/m00000) / 1024)) KiB; manifest $(stat -c %s manifest.xml) bytes"
  "$brevick" manifest.xml signed.p7 "Bench Signer" | tail -1
  local half=$(((count + 1) / 2))
  local -A commands=(
    [default]="\"$brevick\" manifest.xml out.p7 'Bench Signer'"
    [jobs1]="\"$brevick\" --jobs 1 manifest.xml out.p7 'Bench Signer'"
    [sha256]="\"$brevick\" --digest sha256 manifest.xml out.p7 'Bench Signer'"
    [verify]="\"$brevick\" --verify signed.p7 --package . --signer $thumbprint"
    [md5sum]="md5sum files/* > /dev/null"
    [xargs]="printf '%s\\0' files/* | xargs -0 -P2 -n $half md5sum > /dev/null"
  )
  local order=(default jobs1 sha256 verify md5sum xargs)
  if [ -n "${BREVICK_BENCH_BASELINE:-}" ]; then
    for name in default jobs1 sha256 verify; do
      commands[base-$name]=${commands[$name]//"$brevick"/$BREVICK_BENCH_BASELINE}
      order+=("base-$name")
    done
  fi
  local times=$dir/times
  : > "$times"
  echo "uptime before: $(uptime)"
  for _ in $(seq "$rounds"); do
    for name in "${order[@]}"; do
      /usr/bin/time -f "$name %e %U %S" -a -o "$times" sh -c "${commands[$name]}" > /dev/null 2>&1 || true
    done
  done
  echo "uptime after:  $(uptime)"
  python3 - "$times" "$goal" <<'PY'
import statistics, sys
wall, cpu = {}, {}
for line in open(sys.argv[1]):
    fields = line.split()
    if len(fields) != 4: continue  # a failed command's note
    name, elapsed, user, system = fields[0], *map(float, fields[1:])
    wall.setdefault(name, []).append(elapsed)
    cpu.setdefault(name, []).append(user + system)
w = {name: statistics.median(values) for name, values in wall.items()}
c = {name: statistics.median(values) for name, values in cpu.items()}
print("medians of %d, wall (user+sys) seconds:" % len(wall["md5sum"]))
print("  " + "   ".join("%s %.3f (%.3f)" % (name, w[name], c[name]) for name in wall))
for a, b, goal in [("default", "md5sum", sys.argv[2]), ("default", "xargs", "0.60"),
                   ("jobs1", "md5sum", "0.60"), ("sha256", "default", "1.30"),
                   ("verify", "md5sum", "0.30")]:
    print("%-8s / %-8s = %.2fx wall, %.2fx user+sys   (goal: at most %sx wall)"
          % (a, b, w[a] / w[b], c[a] / c[b], goal))
for a in ["default", "jobs1", "sha256", "verify"]:
    if "base-" + a in w:
        print("%-8s / baseline = %.2fx wall, %.2fx user+sys" % (a, w[a] / w["base-" + a],
                                                               c[a] / c["base-" + a]))
PY
  echo "user and system seconds, --jobs 1 against md5sum:"
  /usr/bin/time -f "  brevick --jobs 1: user %U s  sys %S s" \
    "$brevick" --jobs 1 manifest.xml out.p7 "Bench Signer" > /dev/null
  /usr/bin/time -f "  md5sum:           user %U s  sys %S s" sh -c 'md5sum files/* > /dev/null'
  cd - > /dev/null
}

echo "CPUs: $(nproc); brevick: $brevick"
measure "$work/pkg" 2000 0.30
rm -rf "$work/pkg/files"
measure "$work/small" 20000 1.00

[ -n "${BREVICK_BENCH_EXE:-}" ] && exit 0 # the kernels below are this tree's
echo "== MD5 kernels in memory against OpenSSL (bench/md5_bench.cc)"
cmake --preset bench > /dev/null
cmake --build --preset bench -j2 --target md5_bench > /dev/null
build/bench/bench/md5_bench --benchmark_filter='Memory' 2>/dev/null | grep -E '_median|=' || true
echo "== SHA-256 kernels in memory against OpenSSL (bench/sha256_bench.cc)"
cmake --build --preset bench -j2 --target sha256_bench > /dev/null
build/bench/bench/sha256_bench 2>/dev/null | grep -E '_median|=' || true
echo "uptime: $(uptime)"
