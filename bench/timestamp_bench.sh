#!/usr/bin/env bash
# What a timestamp costs a signing run: signs the example package with the
# same certificate, without a timestamp and with one from a local TSA, round
# after round in turn (with, without, round trip, with, without, ...) so that
# load from elsewhere falls on both alike, and prints both medians, their
# difference, and the bare round trip to the TSA (curl posting a saved query),
# with the load before and after.
# The TSA is bench/fast_tsa: one persistent process answering from memory, as
# a nearby production TSA would. The test TSA (tests/support/tsa_server.py)
# starts python and `openssl ts -reply` per request, so it would measure itself.
# Goal: the timestamp adds at most 30 ms (median of 20), i.e. one round trip.
# Usage: bench/timestamp_bench.sh [runs]
# BREVICK=path/to/brevick times that executable instead of this tree's.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}

bash scripts/deps.sh bench demo
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target brevick fast_tsa >/dev/null
brevick=$(realpath "${BREVICK:-build/bench/app/brevick}")

work=$(mktemp -d /tmp/brevick-timestamp-bench.XXXXXX)
trap 'exec 3>&-; rm -rf "$work"' EXIT
# The TSA: a root, and a TSA certificate with the critical timeStamping usage.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
  -subj "/CN=Bench TSA Root" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign -keyout "$work/root.key" -out "$work/root.pem" 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=Bench TSA" \
  -keyout "$work/tsa.key" -out "$work/tsa.csr" 2>/dev/null
openssl x509 -req -in "$work/tsa.csr" -CA "$work/root.pem" -CAkey "$work/root.key" -days 2 \
  -extfile <(printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n%s\n' \
    'extendedKeyUsage=critical,timeStamping') -out "$work/tsa.pem" 2>/dev/null
# It serves until its standard input, fd 3 here, closes.
exec 3> >(build/bench/bench/fast_tsa "$work/tsa.pem" "$work/tsa.key" >"$work/port")
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the bench TSA did not start" >&2; exit 2; }
url="http://127.0.0.1:$(cat "$work/port")/tsa"
export no_proxy='*' NO_PROXY='*'

export XDG_DATA_HOME="$work/data"
store="$XDG_DATA_HOME/brevick/certstores/My"
mkdir -p "$store"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Bench Signer" \
  -keyout "$store/bench.key" -out "$store/bench.pem" 2>/dev/null

sign="$brevick -R examples/package/src examples/package/manifest.xml $work/out.p7 'Bench Signer'"
eval "$sign --timestamp $url" | tail -1
# The token Brevick added, over the signature value, as openssl sees it.
python3 - "$work/out.p7" "$work/signature.bin" "$work/token.der" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
def children(start, end):  # (header start, content start, end) of each DER element
    while start < end:
        length, head = data[start + 1], 2
        if length & 0x80:
            head += length & 0x7F
            length = int.from_bytes(data[start + 2:start + head], "big")
        yield start, start + head, start + head + length
        start += head + length
def child(element, index):
    return list(children(element[1], element[2]))[index]
# ContentInfo > [0] > SignedData > signerInfos > the one SignerInfo
signer = child(child(child(child((0, 0, len(data)), 0), 1), 0), -1)
signature, unsigned = list(children(*child(signer, 0)[1:]))[-2:]
token = child(child(child(unsigned, 0), 1), 0)  # the attribute's one value
open(sys.argv[2], "wb").write(data[signature[1]:signature[2]])
open(sys.argv[3], "wb").write(data[token[0]:token[2]])
PY
echo -n "openssl ts -verify, the token against the TSA root: "
openssl ts -verify -token_in -in "$work/token.der" -data "$work/signature.bin" \
  -CAfile "$work/root.pem" 2>/dev/null

openssl ts -query -data README.md -sha256 -cert -out "$work/query.tsq" 2>/dev/null
trip="curl -sS --fail -o /dev/null -w %{time_total} --data-binary @$work/query.tsq"
trip+=" -H Content-Type:application/timestamp-query $url"
echo "uptime before: $(uptime)"
python3 - "$runs" "$sign --timestamp $url" "$sign" "$trip" <<'PY'
import os, shlex, statistics, subprocess, sys, time
runs = int(sys.argv[1])
names = ("with timestamp", "without timestamp", "round trip (curl)")
wall, cpu, transfer = {n: [] for n in names}, {n: [] for n in names}, []
for round_ in range(runs + 3):  # three warm-up rounds
    for name, command in zip(names, sys.argv[2:]):
        start = time.perf_counter()
        child = subprocess.Popen(shlex.split(command), stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL)
        out = child.stdout.read()
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = (time.perf_counter() - start) * 1000
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            sys.exit(f"{name}: exit {child.returncode}")
        if round_ < 3:
            continue
        wall[name].append(elapsed)
        cpu[name].append((usage.ru_utime + usage.ru_stime) * 1000)
        if name == names[2]:
            transfer.append(float(out) * 1000)
for name in names:
    print(f"{name + ':':20} median {statistics.median(wall[name]):6.1f} ms, "
          f"min {min(wall[name]):6.1f}, max {max(wall[name]):6.1f}, "
          f"CPU {statistics.median(cpu[name]):5.1f} ms (runs: {runs}, interleaved)")
extra = statistics.median(wall[names[0]]) - statistics.median(wall[names[1]])
extra_cpu = statistics.median(cpu[names[0]]) - statistics.median(cpu[names[1]])
print(f"the bare round trip: {statistics.median(transfer):.1f} ms (curl's time_total, median)")
# The same within each round, where both runs met much the same load.
paired = statistics.median(a - b for a, b in zip(wall[names[0]], wall[names[1]]))
print(f"the timestamp adds {extra:.1f} ms (median); brevick's CPU time, {extra_cpu:+.1f} ms")
print(f"round by round, the median difference is {paired:.1f} ms")
print(f"goal: at most 30 ms: {'met' if extra <= 30 else 'MISSED'}")
PY
echo "uptime after:  $(uptime)"
