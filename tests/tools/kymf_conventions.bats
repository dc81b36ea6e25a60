#!/usr/bin/env bats
# The conventions tar and 7z users expect of kymf: --exclude on every command
# that picks entries, one pattern rule everywhere (bracket classes too), -T
# name lists, list -l's header line, and the nearest command for a typo.

load kymf_helpers

# kymf list's lines, without the CR that kymf.exe ends each with.
names() { kymf list "$@" | tr -d '\r'; }

setup() {
  cd "$BATS_TEST_TMPDIR"
  mkdir -p tree/sub tree/keep out
  for n in 1 2 3 4; do printf "f$n" > "tree/f00$n.bin"; done
  printf 'abc' > tree/a.txt
  printf 'x' > tree/sub/skip.tmp
  printf 'y' > tree/keep/b.txt
}

@test "--exclude leaves out the same entries on create, add, list and extract" {
  kymf create all.kymf -C tree .
  kymf create made.kymf -C tree . --exclude 'F00[2-3].bin' --exclude '**/*.tmp'
  kymf create added.kymf -C tree a.txt
  kymf add added.kymf -C tree . --exclude 'a.txt' --exclude 'f00[2-3].bin' --exclude '**/*.tmp'
  expected=$'a.txt\nf001.bin\nf004.bin\nkeep/b.txt'
  [ "$(names made.kymf | sort)" = "$expected" ]
  [ "$(names added.kymf | sort)" = "$expected" ]
  [ "$(names all.kymf --exclude 'F00[2-3].bin' --exclude '**/*.tmp' | sort)" = "$expected" ]
  kymf extract all.kymf -C out --exclude 'F00[2-3].bin' --exclude '**/*.tmp'
  [ "$(cd out && find . -type f | sed 's|^\./||' | sort)" = "$expected" ]
  # A folder leaves out everything below it; PATTERN and --exclude together.
  [ "$(names all.kymf --exclude keep --exclude sub --exclude 'f*')" = "a.txt" ]
  [ "$(names all.kymf 'f*' --exclude '*[13].bin')" = $'f002.bin\nf004.bin' ]
  run kymf list --path all.kymf --exclude 'f00[!1]*' --exclude sub
  [ "$status" -eq 0 ] && [ "$output" = $'a.txt\nf001.bin\nkeep/b.txt' ]
}

@test "bracket classes select on every command; an unclosed [ is a plain character" {
  kymf create t.kymf -C tree .
  printf 'odd' > 'tree/a[1'
  kymf create odd.kymf -C tree 'a[1' a.txt
  kymf_rows <<'ROWS'
0|f001.bin\nf002.bin\nf003.bin|list t.kymf f00[1-3].bin
0|f004.bin|list t.kymf F00[!1-3].BIN
0|f2f3|cat t.kymf f00[23].bin
0|extracted 2 entries, 4 bytes|extract t.kymf -C out f00[13].bin
0|deleted 1 entry, 2 bytes|delete t.kymf f00[4].bin
0|a[1|list odd.kymf a[1
1|kymf: odd.kymf: a[: no such entry|list odd.kymf a[
ROWS
  [ -f out/f001.bin ] && [ -f out/f003.bin ] && [ ! -e out/f002.bin ]
  [ "$(names t.kymf 'f*')" = $'f001.bin\nf002.bin\nf003.bin' ]
}

@test "-T reads the inputs from a file, or from standard input with --null" {
  printf 'tree/a.txt\ntree/keep\r\n\n' > list.txt
  kymf create t.kymf -T list.txt
  [ "$(names t.kymf)" = $'a.txt\nkeep/b.txt' ]
  printf 'spaced' > 'tree/two words.txt'
  (cd tree && find . -name 'f00[12].bin' -print0 | sort -z && printf 'two words.txt\0') |
    kymf create n.kymf -C tree --null -T - --exclude 'f002.bin'
  [ "$(names n.kymf)" = $'f001.bin\ntwo words.txt' ]
  printf 'f003.bin' | kymf add t.kymf -C tree --files-from - sub
  [ "$(names t.kymf)" = $'a.txt\nkeep/b.txt\nsub/skip.tmp\nf003.bin' ]  # PATHs first
  : > empty.txt
  kymf create none.kymf -T empty.txt
  [ -z "$(names none.kymf)" ]
  kymf_rows <<'ROWS'
1|kymf: missing.txt: no such file or directory|create x.kymf -T missing.txt
1|*kymf: tree/nope: no such file*|create x.kymf -T list.txt tree/nope
2|kymf: give the files and folders to store: PATH..., or -T FILE (kymf --help tells more)|create x.kymf
ROWS
  [ ! -e x.kymf ]
}

@test "list -l names its columns; --no-header leaves the line out" {
  kymf create t.kymf -C tree a.txt
  kymf_rows <<'ROWS'
0|        size   dataStart     dataEnd  name\n           3          88          90  a.txt|list -l t.kymf
0|           3          88          90  a.txt|list -l --no-header t.kymf
0|a.txt|list --no-header t.kymf
ROWS
  run kymf list -l t.kymf --exclude a.txt
  [ "$output" = "        size   dataStart     dataEnd  name" ]
}

@test "a mistyped command is answered with the nearest one" {
  kymf_rows <<'ROWS'
2|kymf: unknown command 'lst' (did you mean 'list'?) (kymf --help tells more)|lst t.kymf
2|kymf: unknown command 'extarct' (did you mean 'extract'?) (kymf --help tells more)|extarct t.kymf
2|kymf: unknown command 'unmount' (did you mean 'umount'?) (kymf --help tells more)|unmount mnt
2|kymf: unknown command 'zzzzzz' (kymf --help tells more)|zzzzzz
ROWS
}
