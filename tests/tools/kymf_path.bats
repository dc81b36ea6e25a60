#!/usr/bin/env bats
# kymf list and cat over a search path (--path): folders, archives and
# Windows modules in one namespace, the last --path searched first.
# Run by ctest with KYMF and MODULES set.

bats_require_minimum_version 1.5.0
load kymf_helpers

setup() {
  cd "$BATS_TEST_TMPDIR"
  mkdir -p base/levels patch/levels loose/levels
  printf 'base 1' > base/levels/level1.map
  printf 'base 2' > base/levels/level2.map
  printf 'patched 1' > patch/levels/level1.map
  printf 'loose 3' > loose/levels/level3.map
  (cd base && kymf -q create ../base.kymf .)
  (cd patch && kymf -q create ../patch.kymf .)
}

@test "a later --path overrides an earlier one, name by name" {
  run kymf cat --path base.kymf --path patch.kymf levels/level1.map
  [ "$status" -eq 0 ]
  [ "$output" = "patched 1" ]
  run kymf cat --path base.kymf --path patch.kymf levels/level2.map
  [ "$output" = "base 2" ]
  run kymf cat --path patch.kymf --path base.kymf levels/level1.map
  [ "$output" = "base 1" ]
}

@test "archive names fold ASCII case" {
  run kymf cat --path base.kymf LEVELS/Level2.MAP
  [ "$output" = "base 2" ]
}

@test "folder names match as the file system matches them" {
  posix_only "Windows file systems ignore letter case"
  run kymf cat --path loose LEVELS/level3.map
  [ "$status" -eq 1 ]
}

@test "list merges every source, each name once, folders and archives alike" {
  run kymf list --path base.kymf --path patch.kymf --path loose
  [ "$status" -eq 0 ]
  [ "${lines[*]}" = "levels/level1.map levels/level2.map levels/level3.map" ]
  run kymf list --json --path loose levels
  [[ "$output" == *'"name": "levels/level3.map", "size": 7'* ]]
}

@test "module resources are TYPE/NAME in the path" {
  run kymf cat --path "$MODULES/resources-x86_64.dll" RCDATA/MYDATA
  [ "$status" -eq 0 ]
  [ "$output" = 0123456789 ]
}

@test "a name the path does not have, or refuses, fails naming it" {
  run kymf cat --path base.kymf levels/nope.map
  [ "$status" -eq 1 ]
  [[ "$output" == *"kymf: levels/nope.map: not found in the search path"* ]]
  run kymf cat --path loose ../loose/levels/level3.map
  [ "$status" -eq 1 ]
  run kymf list --path base.kymf nothing/here
  [ "$status" -eq 1 ]
  [[ "$output" == *"nothing/here"* ]]
}

@test "a source that cannot be mounted is named, exit 1" {
  run kymf list --path missing.kymf
  [ "$status" -eq 1 ]
  [[ "$output" == *"kymf: missing.kymf: cannot be mounted"* ]]
}

@test "each --path takes one source, and names may follow it" {
  run kymf cat --path base.kymf levels/level2.map --path patch.kymf
  [ "$output" = "base 2" ]
  run kymf list --path loose levels
  [ "$output" = "levels/level3.map" ]
}
