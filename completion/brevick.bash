# Bash completion for brevick(1).
# Options; store names after -S and --trust-store (the sub-directories of the
# stores directory); digest names after --digest and --timestamp-digest; file
# names elsewhere.

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
    local options="-P -D -S -R -L -LS --digest --thumbprint --strict --confine --jobs
      --progress --no-progress --certificates --verify --package --trust --trust-store
      --signer --extract --json --timestamp --timestamp-digest --timestamp-retries
      --timestamp-wait --timestamp-timeout --add-timestamp --help --version"
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return 0
  fi
  local IFS=$'\n'
  COMPREPLY=($(compgen -f -- "$cur"))
  compopt -o filenames 2>/dev/null
  return 0
}

complete -F _brevick brevick
