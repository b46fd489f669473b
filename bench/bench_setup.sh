# Sourced by the whole-run benchmarks: builds the release brevick, and makes a
# scratch directory (removed at exit) with a throwaway signing certificate in
# its own store and `count` random module files of `kib` KiB in pkg/files.
# Usage: bench_setup NAME COUNT KIB   -> sets brevick, work, store
# Also defines the timing helpers the scripts share: seconds, least, best.
bench_setup() {
  local name=$1 count=$2 kib=$3
  bash scripts/deps.sh bench demo
  # BREVICK_BENCH_EXE times an executable built elsewhere (another commit, say).
  brevick=${BREVICK_BENCH_EXE:-$PWD/build/release/app/brevick}
  if [ -z "${BREVICK_BENCH_EXE:-}" ]; then
    cmake --preset release >/dev/null
    cmake --build --preset release -j2 --target brevick >/dev/null
  fi
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

# Seconds a command takes, its output thrown away.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

# The lesser of two times; the first may be empty.
least() { if [ -z "$1" ] || (( $(echo "$2 < $1" | bc -l) )); then echo "$2"; else echo "$1"; fi; }

# Seconds a command takes at best over $repeats runs (the least disturbed).
best() {
  local bestTime=""
  for _ in $(seq "$repeats"); do bestTime=$(least "$bestTime" "$(seconds "$@")"); done
  echo "$bestTime"
}
