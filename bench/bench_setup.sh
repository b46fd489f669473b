# Sourced by the whole-run benchmarks: builds the release brevick, and makes a
# scratch directory (removed at exit) with a throwaway signing certificate in
# its own store and `count` random module files of `kib` KiB in pkg/files.
# Usage: bench_setup NAME COUNT KIB   -> sets brevick, work, store
bench_setup() {
  local name=$1 count=$2 kib=$3
  bash scripts/deps.sh bench demo
  cmake --preset release >/dev/null
  cmake --build --preset release -j2 --target brevick >/dev/null
  brevick=$PWD/build/release/app/brevick
  work=$(mktemp -d "/tmp/brevick-$name-bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  export XDG_DATA_HOME="$work/data"
  store="$XDG_DATA_HOME/brevick/certstores/My"
  mkdir -p "$store" "$work/pkg/files"
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Bench Signer" \
    -keyout "$store/bench.key" -out "$store/bench.pem" 2>/dev/null
  echo "generating $count files of $kib KiB in $work"
  head -c $((count * kib * 1024)) /dev/urandom |
    split -a 5 -d -b $((kib * 1024)) - "$work/pkg/files/m"
}
