# Bash completion for brevick(1).
# The options of the mode already on the line (--verify's after --verify, none
# after --help), every mode and the signing options on an empty line; store
# names after -S and --trust-store (the sub-directories of the stores
# directory); digest names after --digest and --timestamp-digest; file names
# elsewhere.

_brevick_stores() {
  local root="${XDG_DATA_HOME:-$HOME/.local/share}/brevick/certstores"
  [ -d "$root" ] || return 0
  local dir
  for dir in "$root"/*/; do
    [ -d "$dir" ] || continue
    dir="${dir%/}"
    printf '%s\n' "${dir##*/}"
  done
}

# The mode that the words before the cursor select: verify, timestamp
# (--add-timestamp), certificates, list (-L, -LS), info (--help, --version),
# sign (anything else), or any (no word yet). Option values are skipped, so a
# file named "-L" stays a value.
_brevick_mode() {
  local i word
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    case "$word" in
      --verify) echo verify; return ;;
      --add-timestamp) echo timestamp; return ;;
      --certificates) echo certificates; return ;;
      -L | -LS) echo list; return ;;
      --help | --version) echo info; return ;;
      -S | -R | --digest | --thumbprint | --confine | --jobs | --package | --trust | \
        --trust-store | --signer | --extract | --json | --timestamp | --timestamp-digest | \
        --timestamp-retries | --timestamp-wait | --timestamp-timeout | --text | --tsa-trust | \
        --tsa-trust-store | --crl | --crl-check | --crl-retries | --crl-wait | --crl-timeout) ((i++)) ;;
    esac
  done
  if ((COMP_CWORD > 1)); then echo sign; else echo any; fi
}

# The options of one mode.
_brevick_options() {
  local timestamp="--timestamp --timestamp-digest --timestamp-retries --timestamp-wait
    --timestamp-timeout"
  local sign="-P -D -S -R --digest --thumbprint --strict --confine --jobs --progress
    --no-progress --dry-run --print --text --quiet $timestamp"
  case "$1" in
    verify) echo "--package --trust --trust-store --signer --extract --json --strict --jobs
      --tsa-trust --tsa-trust-store --require-timestamp --crl --crl-check --crl-fetch
      --crl-retries --crl-wait --crl-timeout" ;;
    timestamp) echo "$timestamp" ;;
    certificates) echo "-S --probe" ;;
    list) echo "-S --quiet" ;;
    info) ;;
    sign) echo "$sign" ;;
    *) echo "$sign -L -LS --certificates --verify --add-timestamp --help --version" ;;
  esac
}

_brevick() {
  local cur prev
  COMPREPLY=()
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD - 1]}"

  case "$prev" in
    -S | --trust-store)
      local IFS=$'\n' store
      for store in $(compgen -W "$(_brevick_stores)" -- "$cur"); do
        # Quoted, so that a store name with blanks stays one word.
        COMPREPLY+=("$(printf '%q' "$store")")
      done
      return 0
      ;;
    --digest)
      COMPREPLY=($(compgen -W "md2 sha256 sha384 sha512" -- "$cur"))
      return 0
      ;;
    --timestamp-digest)
      COMPREPLY=($(compgen -W "sha256 sha384 sha512" -- "$cur"))
      return 0
      ;;
    --text)
      local IFS=$'\n'
      COMPREPLY=($(compgen -f -- "$cur"))
      compopt -o filenames 2>/dev/null
      return 0
      ;;
    -R | --confine | --package)
      local IFS=$'\n'
      COMPREPLY=($(compgen -d -- "$cur"))
      compopt -o filenames 2>/dev/null
      return 0
      ;;
    --thumbprint | --signer | --jobs | --timestamp | --timestamp-retries | --timestamp-wait | \
      --timestamp-timeout)
      return 0  # a value only the user knows
      ;;
  esac

  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$(_brevick_options "$(_brevick_mode)")" -- "$cur"))
    return 0
  fi
  local IFS=$'\n'
  COMPREPLY=($(compgen -f -- "$cur"))
  compopt -o filenames 2>/dev/null
  return 0
}

complete -F _brevick brevick
