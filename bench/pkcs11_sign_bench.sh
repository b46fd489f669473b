#!/usr/bin/env bash
# What a key on a PKCS #11 token costs: signs the example package with the
# same certificate twice in one hyperfine run, once with its key in a file and
# once with the key on a fresh SoftHSM 2 token (loading the module, login and
# one signature on the token), and prints the difference of the means.
# Goal: the token adds at most 50 ms.
# Usage: bench/pkcs11_sign_bench.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}
module=/usr/lib/softhsm/libsofthsm2.so

bash scripts/deps.sh bench demo pkcs11
command -v hyperfine >/dev/null || { echo "hyperfine is needed" >&2; exit 2; }
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target brevick >/dev/null
brevick=$PWD/build/release/app/brevick

work=$(mktemp -d /tmp/brevick-pkcs11-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
export SOFTHSM2_CONF="$work/softhsm2.conf"
mkdir -p "$work/tokens" "$work/file/brevick/certstores/My" "$work/token/brevick/certstores/My"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' \
  "$work/tokens" >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label release --pin 1234 --so-pin 5678 >/dev/null

# One key and certificate; the token gets a copy of the key, the file store the original.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/O=Example/CN=Bench Signer" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
softhsm2-util --import "$work/key.pem" --token release --label signing-key --id 01 \
  --pin 1234 >/dev/null
cp "$work/cert.pem" "$work/file/brevick/certstores/My/signer.pem"
cp "$work/key.pem" "$work/file/brevick/certstores/My/signer.key"
cp "$work/cert.pem" "$work/token/brevick/certstores/My/signer.pem"
echo "1234" >"$work/pin"
echo "pkcs11:token=release;object=signing-key;type=private?module-path=$module&pin-source=file:$work/pin" \
  >"$work/token/brevick/certstores/My/signer.key"

run="$brevick -R examples/package/src examples/package/manifest.xml $work/out.p7 'Bench Signer'"
hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/times.json" \
  -n "key in a file" "env XDG_DATA_HOME=$work/file $run" \
  -n "key on SoftHSM" "env XDG_DATA_HOME=$work/token $run"
python3 - "$work/times.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
file, token = results["key in a file"], results["key on SoftHSM"]
ms = lambda seconds: seconds * 1000
for name, r in (("key in a file", file), ("key on SoftHSM", token)):
    print(f"{name + ':':16} mean {ms(r['mean']):6.1f} ms ± {ms(r['stddev']):5.1f}, "
          f"median {ms(r['median']):6.1f} ms, CPU {ms(r['user'] + r['system']):5.1f} ms")
extra = ms(token["mean"] - file["mean"])
print(f"the token adds {extra:.1f} ms (mean), {ms(token['median'] - file['median']):.1f} ms (median), "
      f"{ms(token['user'] + token['system'] - file['user'] - file['system']):.1f} ms of CPU per run")
print(f"goal: at most 50 ms: {'met' if extra <= 50 else 'MISSED'}")
PY
uptime
