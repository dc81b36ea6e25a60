# bash completion for kymf.
#
# Commands and options come from kymf's own help (`kymf --help`, `kymf
# COMMAND --help`), so they are always the installed kymf's. After a command,
# a word that does not start with '-' completes as a file name, except the
# names after an archive for the commands that take entry names (cat,
# extract, delete, rename, list), which complete from the archive's listing.

# The commands that `kymf --help` lists under "Subcommands:".
_kymf_commands() {
  "$1" --help 2>/dev/null | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z]*\) .*/\1/p'
}

# The long and short options of `kymf [COMMAND] --help`.
_kymf_options() {
  "$1" ${2:+"$2"} --help 2>/dev/null |
    sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n' | sed -n 's/^\(--*[A-Za-z0-9-]*\).*/\1/p'
}

_kymf() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion || return
  else
    cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
  fi
  local kymf=${words[0]} command="" archive="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      -*) ;;
      *) if [[ -z $command ]]; then command=${words[i]}; elif [[ -z $archive ]]; then archive=${words[i]}; fi ;;
    esac
  done

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      mapfile -t COMPREPLY < <(compgen -W "$(_kymf_options "$kymf")" -- "$cur")
    else
      mapfile -t COMPREPLY < <(compgen -W "$(_kymf_commands "$kymf")" -- "$cur")
    fi
    return
  fi
  case $prev in
    -C | --directory | -T | --files-from | --cacert | --netrc-file | -o | --output)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_kymf_options "$kymf" "$command")" -- "$cur")
    return
  fi
  case $command in
    cat | extract | delete | rename | list)
      if [[ -n $archive && -f $archive ]]; then
        local IFS=$'\n'
        mapfile -t COMPREPLY < <(compgen -W "$("$kymf" list "$archive" 2>/dev/null)" -- "$cur")
        return
      fi
      ;;
  esac
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}

complete -o filenames -o bashdefault -F _kymf kymf
