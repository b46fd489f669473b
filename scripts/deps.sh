#!/usr/bin/env bash
# Installs the Debian packages that a build needs, and only those missing.
# Another apt-get or dpkg at work (unattended upgrades, a second build) holds
# the dpkg lock: apt-get waits up to ten minutes for it rather than failing.
# Usage: scripts/deps.sh [build|bench|fuzz|demo|valgrind|style|package|pkcs11]...   (build is always included)
set -euo pipefail

# python3: the tests read the JSON reports back with its json module.
packages=(cmake ninja-build g++ pkg-config libssl-dev libcurl4-openssl-dev libp11-kit-dev libgtest-dev libgmock-dev scdoc python3)
# The signing tests check their output with the openssl command.
packages+=(openssl)
for need in "$@"; do
  case "$need" in
    build) ;;
    bench) packages+=(libbenchmark-dev libxml2-dev libxml2-utils nettle-dev python3 bc curl) ;;
    fuzz) packages+=(clang libclang-rt-dev libxml2-dev) ;;
    demo) packages+=(openssl) ;;
    valgrind) packages+=(valgrind) ;;
    style) packages+=(clang-format clang-tidy) ;;
    package) packages+=(dpkg-dev lintian file man-db) ;;
    # The PKCS #11 header, SoftHSM with OpenSC's pkcs11-tool for the token
    # tests, and p11-kit's server and client module for signing remotely.
    pkcs11) packages+=(libp11-kit-dev softhsm2 opensc p11-kit p11-kit-modules) ;;
    *) echo "deps.sh: unknown set '$need'" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]} (waiting up to 10 minutes for the dpkg lock if another apt-get holds it)"
lock=(-o DPkg::Lock::Timeout=600)
$sudo apt-get "${lock[@]}" update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get "${lock[@]}" install -y -qq "${missing[@]}" >/dev/null
