#!/usr/bin/env bats
# kymf list and cat over a search path (--path): folders and archives in one
# namespace, the last --path searched first. How each kind of source (modules
# too) answers a name, and which names reach nothing: SearchPathTest.
# Run by ctest with KYMF and MODULES set.

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
  printf 'KYMF\001\000\000\000' > cut.kymf  # one entry claimed, no record
}

@test "each name comes from the last --path that has it, list merges every source, a failure names its cause" {
  kymf_rows <<'ROWS'
0|patched 1|cat --path base.kymf --path patch.kymf levels/level1.map
0|base 2|cat --path base.kymf --path patch.kymf levels/level2.map
0|base 1|cat --path patch.kymf --path base.kymf levels/level1.map
0|base 2|cat --path base.kymf levels/level2.map --path patch.kymf
0|levels/level3.map|list --path loose levels
0|levels/level1.map\nlevels/level2.map\nlevels/level3.map|list --path base.kymf --path patch.kymf --path loose
0|*"name": "levels/level3.map", "name_hex": "6c6576656c732f6c6576656c332e6d6170", "size": 7*|list --json --path loose levels
1|*kymf: levels/nope.map: not found in the search path*|cat --path base.kymf levels/nope.map
1|*nothing/here*|list --path base.kymf nothing/here
1|*kymf: missing.kymf: no such file*|list --path missing.kymf
1|*kymf: loose/levels/level3.map: cannot be mounted (not a folder, a KYMF archive or a Windows module)*|list --path loose/levels/level3.map
1|*kymf: cut.kymf: *entry count 1 needs 88 bytes*|list --path cut.kymf
ROWS
}

@test "an entry whose bytes are not its own gets one answer from cat, extract and cat --path" {
  raw_archive head.kymf 0 h 0 3
  raw_archive past.kymf 1 p 88 5000
  raw_archive neg.kymf 0 n 88 50
  raw_archive before.kymf 2 n -5 -4
  local archive name reason
  while IFS='|' read -r archive name reason; do
    for command in "cat $archive $name" "cat --path $archive $name" "extract $archive -C out"; do
      mkdir -p out
      run kymf $command
      [[ $status -eq 1 && $output == *"kymf: $archive: $name: $reason"* ]] ||
        { echo "$command: $output"; false; }
      [[ -z $(ls -A out) ]]
    done
  done <<'CASES'
head.kymf|h|data inside the header: data start at byte 0 inside the header and directory (88 bytes)
past.kymf|p|truncated at byte 89
neg.kymf|n|data end at byte 50 before the start at byte 88
before.kymf|n|data start at byte -5 before the start of the file
CASES
}
