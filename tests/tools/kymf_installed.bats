#!/usr/bin/env bats
# What is installed with kymf for people: its manual page, made from its own
# --help, and its bash completion. PREFIX is the installed package.

setup() {
  kymf="$PREFIX/bin/kymf"
  page="$PREFIX/share/man/man1/kymf.1"
  completion="$PREFIX/share/bash-completion/completions/kymf"
  cd "$BATS_TEST_TMPDIR"
}

commands() {
  "$kymf" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z]*\) .*/\1/p'
}

@test "the manual page renders without a warning" {
  run groff -man -Tutf8 -ww -z "$page"
  [ "$status" -eq 0 ]
  [ -z "$output" ]
}

@test "the manual page has a section for every command and every option of each" {
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | col -b)
  [ "$(commands | wc -l)" -ge 8 ]
  for command in $(commands); do
    grep -q "^   $command\$" <<<"$text" || { echo "no section for $command"; return 1; }
    for option in $("$kymf" "$command" --help | sed -n 's/^  \(--[a-z][a-z-]*\).*/\1/p'); do
      grep -q -- "$option" <<<"$text" || { echo "no $option of $command"; return 1; }
    done
  done
}

# COMPREPLY for the words given, the last one being completed, as bash
# (with the bash-completion framework, as installed with it) asks for it.
complete_words() {
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$0"
           COMP_WORDS=("${@}"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
           COMP_LINE="${*}"; COMP_POINT=${#COMP_LINE}
           _kymf; printf "%s\n" "${COMPREPLY[@]}"' "$completion" "$@"
}

@test "completion offers the commands, a command's options and an archive's entries" {
  mkdir -p in/levels && echo x > in/levels/one.map && echo y > in/levels/two.map
  "$kymf" create -q game.kymf -C in .
  [ "$(complete_words "$kymf" ext)" = extract ]
  [ "$(complete_words "$kymf" list --js)" = --json ]
  [ "$(complete_words "$kymf" cat game.kymf levels/t)" = levels/two.map ]
  [ "$(complete_words "$kymf" extract game.kymf '' | sort | tr '\n' ' ')" = "levels/one.map levels/two.map " ]
  [ "$(complete_words "$kymf" create -C ga)" = game.kymf ]
}
