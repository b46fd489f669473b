#!/usr/bin/env bash
# What a timestamp costs a signing run: signs the example package with the
# same certificate in one hyperfine run, interleaved, without a timestamp and
# with one from the local test TSA (tests/support/tsa_server.py: one HTTP
# round trip on 127.0.0.1 and `openssl ts -reply` behind it), and that round
# trip alone (curl posting a request of the same size), and prints the three
# medians, the difference, and what is left of it beyond the round trip, with
# the load. The local TSA starts a python handler and an openssl process per
# request, so on a loaded machine the round trip itself can take longer than
# the goal; the last figure is what Brevick adds on top of it.
# Goal: the timestamp adds at most 30 ms (median of 20).
# Usage: bench/timestamp_bench.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}

bash scripts/deps.sh bench demo
command -v hyperfine >/dev/null || { echo "hyperfine is needed" >&2; exit 2; }
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target brevick >/dev/null
brevick=$PWD/build/release/app/brevick

work=$(mktemp -d /tmp/brevick-timestamp-bench.XXXXXX)
exec 3> >(python3 tests/support/tsa_server.py "$work/tsa" >"$work/ports")
trap 'exec 3>&-; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.1; done
port=$(head -1 "$work/ports")
[ -n "$port" ] || { echo "the test TSA did not start" >&2; exit 2; }
export no_proxy='*' NO_PROXY='*'

export XDG_DATA_HOME="$work/data"
store="$XDG_DATA_HOME/brevick/certstores/My"
mkdir -p "$store"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Bench Signer" \
  -keyout "$store/bench.key" -out "$store/bench.pem" 2>/dev/null

openssl ts -query -data README.md -sha256 -cert -out "$work/query.tsq" 2>/dev/null
roundTrip="curl -s -o /dev/null --data-binary @$work/query.tsq -H 'Content-Type: application/timestamp-query' http://127.0.0.1:$port/tsa"
run="$brevick -R examples/package/src examples/package/manifest.xml $work/out.p7 'Bench Signer'"
eval "$run --timestamp http://127.0.0.1:$port/tsa" | tail -1
echo "uptime before: $(uptime)"
hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/times.json" \
  -n "without timestamp" "$run" \
  -n "with timestamp" "$run --timestamp http://127.0.0.1:$port/tsa" \
  -n "the round trip alone" "$roundTrip"
echo "uptime after:  $(uptime)"
python3 - "$work/times.json" "$runs" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
plain, stamped = results["without timestamp"], results["with timestamp"]
trip = results["the round trip alone"]
ms = lambda seconds: seconds * 1000
for name, r in (("without timestamp", plain), ("with timestamp", stamped),
                ("the round trip alone", trip)):
    print(f"{name + ':':22} median {ms(r['median']):6.1f} ms, mean {ms(r['mean']):6.1f} ms "
          f"± {ms(r['stddev']):5.1f}, CPU {ms(r['user'] + r['system']):5.1f} ms "
          f"(runs: {sys.argv[2]})")
extra = ms(stamped["median"] - plain["median"])
print(f"the timestamp adds {extra:.1f} ms (median), of which the round trip alone takes "
      f"{ms(trip['median']):.1f} ms: {extra - ms(trip['median']):.1f} ms beyond it; "
      f"{ms(stamped['user'] + stamped['system'] - plain['user'] - plain['system']):.1f} ms "
      f"more CPU in brevick")
print(f"goal: at most 30 ms: {'met' if extra <= 30 else 'MISSED'}")
PY
