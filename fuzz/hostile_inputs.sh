#!/usr/bin/env bash
# Very large hostile manifests, too slow for every test run: a 1 GiB manifest
# of whitespace, an attribute value of 100 MB and a text run of 100 MB. Prints
# what brevick wrote last, its exit code, its time and what stands in the
# output file afterwards.
# Usage: fuzz/hostile_inputs.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build demo
cmake --preset release >/dev/null
cmake --build --preset release --target brevick >/dev/null
brevick=$PWD/build/release/app/brevick

work=$(mktemp -d /tmp/brevick-hostile.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
store="$XDG_DATA_HOME/brevick/certstores/My"
mkdir -p "$store"
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Hostile" \
  -keyout "$store/h.key" -out "$store/h.pem" 2>/dev/null
cd "$work"
printf 'abc' > a.dll

big() { head -c "$1" /dev/zero | tr '\0' "$2"; }
head_xml='<dravanePackage><package name="P" id="{1}"><modules><module name="M" id="{2}" host="UI"><dependencies><dependency file="a.dll" entryPoint="1"><destination value="local"/><md5/>'
tail_xml='</dependency></dependencies></module></modules></package></dravanePackage>'

big $((1 << 30)) ' ' > whitespace-1GiB.xml
{ printf '%s<note text="' "$head_xml"; big 100000000 'v'; printf '"/>%s' "$tail_xml"; } > attribute-100MB.xml
{ printf '%s<note>' "$head_xml"; big 100000000 't'; printf '</note>%s' "$tail_xml"; } > text-100MB.xml

for manifest in whitespace-1GiB.xml attribute-100MB.xml text-100MB.xml; do
  rm -f out.p7
  start=$(date +%s.%N)
  set +e
  "$brevick" "$manifest" out.p7 Hostile > console.txt
  code=$?
  set -e
  seconds=$(echo "$(date +%s.%N) - $start" | bc -l)
  if [ ! -e out.p7 ]; then output="no file"
  elif [ "$(head -c 1 out.p7 | od -An -tx1 | tr -d ' ')" = 30 ]; then output="signed message, $(stat -c %s out.p7) bytes"
  else output="unsigned text, $(stat -c %s out.p7) bytes"; fi
  printf '%-22s exit %d  %6.2f s  output: %s\n    %s\n' "$manifest" "$code" "$seconds" "$output" \
    "$(tail -n 1 console.txt | cut -c1-160)"
done
