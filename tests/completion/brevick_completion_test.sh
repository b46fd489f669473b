#!/usr/bin/env bash
# Sources the bash completion and checks what it offers in a few positions.
# Usage: brevick_completion_test.sh path/to/brevick.bash
set -uo pipefail

script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# Completes the words of `line` (the cursor after its last word; a trailing
# blank starts an empty word) and compares COMPREPLY, sorted, with `expected`
# (one candidate per line).
check() {
  local name=$1 line=$2 expected=$3
  read -r -a COMP_WORDS <<<"$line"
  [[ "$line" == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _brevick brevick "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort)
  [ ${#COMPREPLY[@]} -eq 0 ] && got=""
  if [ "$got" != "$expected" ]; then
    printf 'FAIL %s: "%s"\n  expected: %q\n  got:      %q\n' "$name" "$line" "$expected" "$got"
    failures=$((failures + 1))
  else
    printf 'ok   %s\n' "$name"
  fi
}

# shellcheck source=/dev/null
source "$script"
complete -p brevick >/dev/null || { echo "FAIL: no completion registered for brevick"; exit 1; }

export HOME="$work/home"
export XDG_DATA_HOME="$work/data"
mkdir -p "$HOME" "$XDG_DATA_HOME/brevick/certstores/"{My,Root,"Release Team"}
touch "$XDG_DATA_HOME/brevick/certstores/not-a-store.pem"
mkdir -p "$work/pkg/src"
touch "$work/pkg/manifest.xml" "$work/pkg/manual.txt"
cd "$work/pkg" || exit 1

check "only verify options after --verify" "brevick --verify m.p7 -" \
  $'--crl\n--crl-check\n--crl-fetch\n--crl-retries\n--crl-timeout\n--crl-wait\n--extract\n--jobs\n--json\n--package\n--require-timestamp\n--signer\n--strict\n--trust\n--trust-store\n--tsa-trust\n--tsa-trust-store'
check "only timestamp options after --add-timestamp" "brevick --add-timestamp m.p7 -" \
  $'--timestamp\n--timestamp-digest\n--timestamp-retries\n--timestamp-timeout\n--timestamp-wait'
check "only -S and --quiet beside a listing" "brevick -L -" $'--quiet\n-S'
check "only -S and --probe beside --certificates" "brevick -S My --certificates -" $'--probe\n-S'

check "nothing beside --help" "brevick --help -" ""
check "no other mode once signing options stand" "brevick -P --c" "--confine"
check "every mode on an empty line" "brevick --c" $'--certificates\n--confine'
check "an option's value selects no mode" "brevick -R -L --c" "--confine"
check "digest names" "brevick --digest sha" $'sha256\nsha384\nsha512'
check "every store after -S, blanks quoted" "brevick -L -S " $'My\nRelease\\ Team\nRoot'
check "stores by prefix after --trust-store" "brevick --verify m.p7 --trust-store R" \
  $'Release\\ Team\nRoot'
check "files among the positionals" "brevick -P man" $'manifest.xml\nmanual.txt'
check "directories after -R" "brevick -R s" "src"

unset XDG_DATA_HOME
mkdir -p "$HOME/.local/share/brevick/certstores/Home Store"
check "stores under HOME without XDG_DATA_HOME" "brevick -S " 'Home\ Store'
rm -rf "$HOME/.local/share/brevick"
check "no stores directory" "brevick -S " ""

[ "$failures" -eq 0 ] || { echo "$failures completion check(s) failed"; exit 1; }
