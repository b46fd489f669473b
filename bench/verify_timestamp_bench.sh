#!/usr/bin/env bash
# What a timestamp and two CRLs cost a receiver: signs the example package
# with a certificate issued by an `openssl ca` authority, once plain and once
# with a token from the local test TSA (tests/support/tsa_server.py), makes two
# real CRLs with `openssl ca -gencrl` (the signer's issuer and the TSA's root,
# so both chains are checked), then times `--verify` of the stamped message
# with both CRLs against `--verify` of the plain one without, interleaved run
# by run so that load changes hit both alike, and prints both medians, the
# difference (wall clock and CPU time) and the load before and after.
# Goal: the timestamp and the two CRLs add at most 10 ms (median of 20).
# Usage: bench/verify_timestamp_bench.sh [runs]
# BREVICK=path/to/brevick uses that executable instead of a release build.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}

brevick=${BREVICK:-}
if [ -z "$brevick" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release -j2 --target brevick >/dev/null
  brevick=build/release/app/brevick
fi
brevick=$(realpath "$brevick")

work=$(mktemp -d /tmp/brevick-verify-timestamp-bench.XXXXXX)
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
  exec 3>&- || true
  rm -rf "$work"
}
trap cleanup EXIT
# The server runs until its standard input closes; a fifo held open here
# keeps it alive, and it is also killed by its pid on the way out.
mkfifo "$work/stdin"
exec 3<>"$work/stdin"
python3 tests/support/tsa_server.py "$work/tsa" <"$work/stdin" >"$work/ports" &
server=$!
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.1; done
port=$(head -1 "$work/ports")
[ -n "$port" ] || { echo "the test TSA did not start" >&2; exit 2; }
export no_proxy='*' NO_PROXY='*'

# An `openssl ca` directory over an existing key and certificate.
make_ca() { # dir key cert
  mkdir -p "$1/newcerts"
  : >"$1/index.txt"
  echo 1000 >"$1/serial"
  echo 1000 >"$1/crlnumber"
  cat >"$1/ca.cnf" <<EOF
[ ca ]
default_ca = CA_default
[ CA_default ]
dir = $1
database = \$dir/index.txt
new_certs_dir = \$dir/newcerts
certificate = $3
private_key = $2
serial = \$dir/serial
crlnumber = \$dir/crlnumber
default_md = sha256
default_days = 30
default_crl_days = 2
policy = policy_any
unique_subject = no
crl_extensions = crl_ext
[ policy_any ]
commonName = supplied
[ crl_ext ]
authorityKeyIdentifier = keyid:always
[ signer_ext ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
}

ca=$work/ca
mkdir -p "$ca"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca/ca.key" -out "$ca/ca.pem" -days 30 \
  -subj "/CN=Bench Release CA" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
make_ca "$ca" "$ca/ca.key" "$ca/ca.pem"

export XDG_DATA_HOME="$work/data"
store="$XDG_DATA_HOME/brevick/certstores/My"
mkdir -p "$store"
openssl req -newkey rsa:2048 -nodes -keyout "$store/bench.key" -out "$work/bench.csr" \
  -subj "/CN=Bench CRL Signer" 2>/dev/null
openssl ca -batch -notext -config "$ca/ca.cnf" -extensions signer_ext -in "$work/bench.csr" \
  -out "$store/bench.pem" 2>/dev/null

tsaca=$work/tsaca
make_ca "$tsaca" "$work/tsa/root.key" "$work/tsa/root.crt"
openssl ca -config "$ca/ca.cnf" -gencrl -out "$work/a.pem" 2>/dev/null
openssl ca -config "$tsaca/ca.cnf" -gencrl -out "$work/b.pem" 2>/dev/null

sign="$brevick -R examples/package/src examples/package/manifest.xml"
$sign "$work/plain.p7" 'Bench CRL Signer' | tail -1
$sign "$work/stamped.p7" 'Bench CRL Signer' --timestamp "http://127.0.0.1:$port/tsa" | tail -1

plain="$brevick --verify $work/plain.p7 --trust $ca/ca.pem"
stamped="$brevick --verify $work/stamped.p7 --trust $ca/ca.pem --tsa-trust $work/tsa/root.crt"
stamped+=" --crl $work/a.pem --crl $work/b.pem"
# Both must verify, and the stamped one must really use its token and CRLs.
$plain >/dev/null || { echo "the plain message does not verify" >&2; exit 2; }
$stamped | grep -E '^(Timestamp|Trust|Revocation):' || {
  echo "the stamped message does not verify" >&2
  exit 2
}

echo "uptime before: $(uptime)"
python3 - "$runs" "$plain" "$stamped" <<'PY'
import os, shlex, statistics, subprocess, sys, time
runs = int(sys.argv[1])
commands = {"without timestamp and CRLs": shlex.split(sys.argv[2]),
            "with timestamp and 2 CRLs": shlex.split(sys.argv[3])}
# Wall clock, and the CPU time of the run, which a loaded machine disturbs less.
wall, cpu = {name: [] for name in commands}, {name: [] for name in commands}
for round_ in range(runs + 3):  # three warm-up rounds
    for name, argv in commands.items():
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            sys.exit(f"{name}: exit {child.returncode}")
        if round_ >= 3:
            wall[name].append((time.perf_counter() - start) * 1000)
            cpu[name].append((usage.ru_utime + usage.ru_stime) * 1000)
for name, values in wall.items():
    print(f"{name + ':':28} median {statistics.median(values):6.1f} ms, "
          f"min {min(values):6.1f} ms, max {max(values):6.1f} ms, "
          f"CPU {statistics.median(cpu[name]):5.1f} ms (runs: {runs}, interleaved)")
plain, stamped = (statistics.median(v) for v in wall.values())
extra = stamped - plain
extra_cpu = statistics.median(cpu["with timestamp and 2 CRLs"]) - statistics.median(
    cpu["without timestamp and CRLs"])
print(f"the timestamp and two CRLs add {extra:.1f} ms (median); CPU time, {extra_cpu:+.1f} ms")
print(f"goal: at most 10 ms: {'met' if extra <= 10 else 'MISSED'}")
PY
echo "uptime after:  $(uptime)"
