#!/usr/bin/env bash
# The main job on the example package: builds brevick, makes a throwaway RSA
# certificate in a temporary certificate store (the user's own stores are never
# touched), signs examples/package/manifest.xml, verifies the signed manifest
# as its receiver would, and shows what it holds.
# BREVICK=path/to/brevick runs the demo with that executable instead of
# building one (the test command's docs stage passes its ci build).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build demo
brevick=${BREVICK:-}
if [ -z "$brevick" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$(nproc)" --target brevick >/dev/null
  brevick=build/release/app/brevick
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data"
store="$XDG_DATA_HOME/brevick/certstores/My"
mkdir -p "$store"
openssl req -x509 -newkey rsa:2048 -nodes -days 7 -sha256 \
  -subj "/O=Example Release Engineering/CN=Brevick Demo Signer" \
  -keyout "$store/demo.key" -out "$store/demo.pem" 2>/dev/null

echo "### brevick -L: the stores and their certificates"
"$brevick" -L
echo
echo "### brevick -P: sign the example package"
out="$work/manifest.p7"
"$brevick" -P -R examples/package/src examples/package/manifest.xml "$out" "Demo Signer"

echo
echo "### The signed manifest: a DER PKCS #7 signed-data message of $(wc -c < "$out") bytes"
openssl pkcs7 -inform DER -in "$out" -print_certs -noout
echo
echo "### The receiving side: brevick --verify checks the signature and trusts the demo certificate"
"$brevick" --verify "$out" --trust "$store/demo.pem" --extract "$work/release.xml"
echo
echo "### Its signed content, the release manifest (extracted by --verify):"
cat "$work/release.xml"
