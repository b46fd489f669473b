#!/usr/bin/env bash
# The docs stage of the test command: runs the shell examples of the documents
# as a reader would, so that what README.md and the man page tell people to
# type keeps working. Each fenced `sh` block of README.md, and each example
# block of the man page's EXAMPLES section, runs in its own `bash -e`, in
# order, with the given brevick first on PATH, in a scratch HOME and
# XDG_DATA_HOME that start empty: README's blocks in a copy of this source
# tree, the man page's in a copy of examples/ (what the package installs
# under /usr/share/doc/brevick/examples).
#
# A block that cannot run here opts out with a marker on the line before it:
#   README.md:           <!-- docs: skip (needs a smart card) -->
#   doc/brevick.1.scd:   ; docs: skip (needs a smart card)
# The reason is printed, so a skipped block stays visible.
#
# Usage: scripts/docs_check.sh [BREVICK]   (default build/ci/app/brevick)
# DOCS_VERBOSE=1 prints the output of every block, not only of failed ones.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

brevick=$(realpath "${1:-build/ci/app/brevick}")
[ -x "$brevick" ] || { echo "docs: no brevick at $brevick (build the ci preset first)" >&2; exit 2; }

work=$(mktemp -d)
block_pid=""
# `timeout` gives a block a process group of its own: end it with the stage.
trap '[ -z "$block_pid" ] || kill -- -"$block_pid" 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP
mkdir -p "$work/bin"
ln -s "$brevick" "$work/bin/brevick"

ran=0 skipped=0 failed=0

# Writes the blocks of a document to $2/NNN.sh and, per block, one line
# "NNN<TAB>line<TAB>skip reason" to $2/index. $3: "readme" or "man".
extract_blocks() {
  local document=$1 into=$2 kind=$3
  mkdir -p "$into"
  awk -v into="$into" -v kind="$kind" '
    function marker(line) {
      if (kind == "readme" && line ~ /^<!-- docs: skip \(.*\) -->[ \t]*$/) {
        sub(/^<!-- docs: skip \(/, "", line); sub(/\) -->[ \t]*$/, "", line); return line
      }
      if (kind == "man" && line ~ /^; docs: skip \(.*\)[ \t]*$/) {
        sub(/^; docs: skip \(/, "", line); sub(/\)[ \t]*$/, "", line); return line
      }
      return ""
    }
    BEGIN { inside = 0; count = 0; pending = ""; section = (kind == "readme") }
    kind == "man" && /^# / { section = ($0 == "# EXAMPLES"); next }
    inside && /^```[ \t]*$/ { inside = 0; close(file); next }
    inside {
      line = $0
      # scdoc escapes a backslash in the source; the page shows one.
      if (kind == "man") gsub(/\\\\/, "\\", line)
      print line > file
      next
    }
    section && ((kind == "readme" && /^```sh[ \t]*$/) || (kind == "man" && /^```[ \t]*$/)) {
      inside = 1; count++
      file = sprintf("%s/%03d.sh", into, count)
      printf "" > file
      printf "%03d\t%d\t%s\n", count, NR, pending > (into "/index")
      pending = ""
      next
    }
    /^[ \t]*$/ { next }
    { pending = marker($0) }
    END { if (inside) { print "docs: unterminated block in " FILENAME > "/dev/stderr"; exit 1 } }
  ' "$document"
  touch "$into/index"
}

# Runs the blocks of one document in `cwd`, each in a fresh bash -e with a
# scratch HOME and XDG_DATA_HOME shared by the document's blocks.
run_document() {
  local document=$1 kind=$2 cwd=$3
  local blocks="$work/blocks-$kind" scratch="$work/scratch-$kind"
  extract_blocks "$root/$document" "$blocks" "$kind"
  mkdir -p "$scratch/home"
  echo "docs: $document"
  local number line reason first status
  while IFS=$'\t' read -r number line reason; do
    first=$(grep -m1 -v '^[[:space:]]*\(#.*\)\?$' "$blocks/$number.sh" | cut -c1-64 || true)
    if [ -n "$reason" ]; then
      printf '  skipped  line %-4s %s  (%s)\n' "$line" "$first" "$reason"
      skipped=$((skipped + 1))
      continue
    fi
    # The tests reach no network beyond this machine: a block that names
    # another host must opt out.
    if grep -Eo 'https?://[^/[:space:]"'"'"']+' "$blocks/$number.sh" |
      grep -Eqv '^https?://(localhost|127\.0\.0\.1)(:[0-9]+)?$'; then
      printf '  FAILED   line %-4s %s  (names a remote host: mark it skipped)\n' "$line" "$first"
      failed=$((failed + 1))
      continue
    fi
    status=0
    (
      cd "$cwd"
      # What a new user has: no token configuration, no PIN, no p11-kit
      # server, no stores but the ones the blocks make.
      unset SOFTHSM2_CONF BREVICK_PKCS11_PIN P11_KIT_SERVER_ADDRESS P11_KIT_SERVER_PID \
        XDG_CONFIG_HOME XDG_RUNTIME_DIR
      export HOME="$scratch/home" XDG_DATA_HOME="$scratch/data" PATH="$work/bin:$PATH"
      # scripts/demo.sh signs with this brevick instead of building its own.
      export BREVICK="$brevick"
      exec timeout 600 bash -e "$blocks/$number.sh"
    ) >"$blocks/$number.log" 2>&1 </dev/null &
    block_pid=$!
    wait "$block_pid" || status=$?
    block_pid=""
    ran=$((ran + 1))
    if [ "$status" -eq 0 ]; then
      printf '  ok       line %-4s %s\n' "$line" "$first"
      [ -z "${DOCS_VERBOSE:-}" ] || sed 's/^/      | /' "$blocks/$number.log"
    else
      printf '  FAILED   line %-4s %s  (exit %s)\n' "$line" "$first" "$status"
      sed 's/^/      | /' "$blocks/$number.log"
      failed=$((failed + 1))
    fi
  done <"$blocks/index"
}

# README's blocks run in a copy of the source tree (tracked files and new
# ones, no build trees), so that nothing they write lands in the checkout.
mkdir -p "$work/tree"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$root" ls-files -co --exclude-standard -z |
    tar --null --no-recursion --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$work/tree"
else
  tar --exclude=./build -cf - . | tar -xf - -C "$work/tree"
fi
run_document README.md readme "$work/tree"

mkdir -p "$work/examples"
cp -r "$root/examples/." "$work/examples/"
run_document doc/brevick.1.scd man "$work/examples"

echo "docs: $ran blocks ran, $skipped skipped, $failed failed"
[ "$failed" -eq 0 ]
