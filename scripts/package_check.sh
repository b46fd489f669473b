#!/usr/bin/env bash
# The package stage of the test command: builds the Debian package (a release
# build with Debian's hardening flags), unpacks it into a temporary directory
# and checks it from there: --version, a sign-then-verify of the example
# package with a throwaway certificate store, the man page, the completion,
# the file modes, and lintian.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build demo package
jobs=${BREVICK_JOBS:-$(nproc)}

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake --preset package \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build --preset package -j "$jobs" >/dev/null
rm -f build/package/brevick_*.deb
# A strict umask while packing: the package's modes must not depend on it.
(cd build/package && umask 077 && cpack -G DEB >/dev/null)
deb=$(ls build/package/brevick_*.deb)
echo "package: $deb"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package check failed: $*" >&2; exit 1; }

dpkg-deb -x "$deb" "$work/root"
brevick="$work/root/usr/bin/brevick"
version=$(sed -n 's/^project(brevick VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# Owner root, and no file or directory writable by anyone else.
if dpkg-deb -c "$deb" | awk '$2 != "root/root" || $1 !~ /^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x)$/' | grep .; then
  fail "entries with an unexpected owner or mode (above)"
fi

echo "== control fields and the changelog"
[ "$(dpkg-deb -f "$deb" Suggests)" = "softhsm2, opensc, p11-kit" ] ||
  fail "Suggests is '$(dpkg-deb -f "$deb" Suggests)'"
# libcurl is loaded at run time, out of dpkg-shlibdeps' sight: named by hand.
dpkg-deb -f "$deb" Depends | grep -q 'libcurl4 (>= 7.85.0)' ||
  fail "Depends lacks libcurl4: '$(dpkg-deb -f "$deb" Depends)'"
[ -f "$work/root/usr/share/doc/brevick/changelog.Debian.gz" ] || fail "the .deb has no changelog"
# A plain installation from the same tree is no Debian package: no Debian changelog.
DESTDIR="$work/plain" cmake --install build/package --prefix /usr/local >/dev/null
[ -x "$work/plain/usr/local/bin/brevick" ] || fail "cmake --install installed no brevick"
if find "$work/plain" -name 'changelog.Debian*' | grep .; then
  fail "cmake --install outside the package installs a Debian changelog"
fi

# libcurl and the thirty libraries it needs are for the network options only:
# loaded when one is used, never at every start.
if readelf -d "$brevick" | grep 'NEEDED.*libcurl'; then fail "brevick links libcurl"; fi

echo "== --version"
"$brevick" --version | tee "$work/version"
[ "$(head -n 1 "$work/version")" = "brevick $version" ] || fail "--version does not say brevick $version"
"$brevick" --help >/dev/null || fail "--help does not exit with 0"

echo "== sign the example package with a throwaway store"
export HOME="$work/home" XDG_DATA_HOME="$work/data"
store="$XDG_DATA_HOME/brevick/certstores/My"
mkdir -p "$HOME" "$store"
openssl req -x509 -newkey rsa:2048 -nodes -days 7 -sha256 \
  -subj "/O=Example Release Engineering/CN=Brevick Package Check" \
  -keyout "$store/check.key" -out "$store/check.pem" 2>/dev/null
cp -r "$work/root/usr/share/doc/brevick/examples/package" "$work/package"
signed="$work/manifest.p7"
"$brevick" -R "$work/package/src" "$work/package/manifest.xml" "$signed" "Package Check" |
  tail -n 1 | grep -qx Done || fail "signing the example package did not end with Done"

echo "== verify it"
# The verify mode prints no banner; where it is missing, --verify is a
# positional argument and the classic banner comes first.
"$brevick" --verify "$signed" >"$work/probe" 2>&1 || true
if ! head -n 1 "$work/probe" | grep -q '^TCHAR'; then
  "$brevick" --verify "$signed" --trust "$store/check.pem" --extract "$work/extracted.xml" ||
    fail "--verify of the signed example exits with $?"
  grep -q 'name="Harbour Tools"' "$work/extracted.xml" || fail "--extract lacks the manifest"
else
  # MD2 is beyond `openssl cms`: check that the output is a DER PKCS #7
  # message that OpenSSL reads, with the signer in it.
  [ "$(head -c 1 "$signed" | od -An -tx1 | tr -d ' ')" = 30 ] || fail "the output is no DER SEQUENCE"
  openssl pkcs7 -inform DER -in "$signed" -print_certs -noout | grep -q 'Brevick Package Check' ||
    fail "openssl pkcs7 does not read the signed message"
  echo "verified with openssl pkcs7 (this build has no --verify)"
fi

echo "== man page"
man_page="$work/root/usr/share/man/man1/brevick.1.gz"
MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$man_page" 2>"$work/man.warnings" >"$work/man.txt"
[ -s "$work/man.warnings" ] && { cat "$work/man.warnings"; fail "man reports problems in the page"; }
grep -q 'brevick - sign package manifests' "$work/man.txt" || fail "the man page has no NAME line"
head -n 12 "$work/man.txt"

echo "== completion"
bash -c 'source "$1" && complete -p brevick' _ "$work/root/usr/share/bash-completion/completions/brevick" ||
  fail "the completion does not register for brevick"

echo "== lintian"
# Accepted warnings, each with its reason:
# - initial-upload-closes-no-bugs: the package is not uploaded to the Debian
#   archive, so there is no ITP bug for its first changelog entry to close.
status=0
lintian --fail-on error,warning --suppress-tags initial-upload-closes-no-bugs "$deb" \
  >"$work/lintian" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings"
echo "package OK: $deb"
