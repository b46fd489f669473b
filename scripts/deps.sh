#!/usr/bin/env bash
# Installs the Debian packages that a build needs, and only those missing.
# Usage: scripts/deps.sh [build|bench|fuzz|demo|valgrind|style|package|pkcs11]...   (build is always included)
set -euo pipefail

# python3: the tests read the JSON reports back with its json module.
packages=(cmake ninja-build g++ pkg-config libssl-dev libcurl4-openssl-dev libp11-kit-dev libgtest-dev libgmock-dev scdoc python3)
# The signing tests check their output with the openssl command.
packages+=(openssl)
for need in "$@"; do
  case "$need" in
    build) ;;
    bench) packages+=(libbenchmark-dev libxml2-dev libxml2-utils nettle-dev python3 bc) ;;
    fuzz) packages+=(clang libclang-rt-dev libxml2-dev) ;;
    demo) packages+=(openssl) ;;
    valgrind) packages+=(valgrind) ;;
    style) packages+=(clang-format clang-tidy) ;;
    package) packages+=(dpkg-dev lintian file man-db) ;;
    # The PKCS #11 header, and SoftHSM with OpenSC's pkcs11-tool for the token tests.
    pkcs11) packages+=(libp11-kit-dev softhsm2 opensc) ;;
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
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
