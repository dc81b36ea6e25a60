#!/usr/bin/env bats
# Volume sets end to end (docs/volumes.md): create --split writes NAME.kymf,
# NAME.2.kymf, ... that every reading command takes as one archive; add,
# delete and rename change the volume that holds a name. Small volumes (a few
# KiB) give several. The naming rule and the plan: VolumeSetTest; over the
# network: kymf_remote.bats. Run by ctest with KYMF set.

load kymf_helpers

setup() {
  cd "$BATS_TEST_TMPDIR"
  mkdir -p data/sub
  local i
  for i in 1 2 3 4 5 6 7 8 9 10 11 12; do
    head -c $((600 + i * 73)) /dev/urandom > "data/f$i.bin"
  done
  printf 'deep' > data/sub/deep.txt
  : > data/empty
}

# The volumes of s.kymf on disk, in order.
volumes() {
  local n=2
  [ -e s.kymf ] && echo s.kymf
  while [ -e "s.$n.kymf" ]; do
    echo "s.$n.kymf"
    n=$((n + 1))
  done
}

# kymf list of volume $1 alone, as an archive of its own: a copy under a
# name that begins no set (s.kymf itself would read the set); lines without
# the CR that kymf.exe ends them with.
list_alone() {
  mkdir -p solo
  cp "$1" solo/volume.kymf
  kymf list solo/volume.kymf | tr -d '\r'
}

# The volume that holds entry $1, said by each volume listed alone.
holder() {
  local volume
  for volume in $(volumes); do
    if list_alone "$volume" | grep -qx "$1"; then
      echo "$volume"
    fi
  done
}

@test "create --split writes volumes of at most SIZE, each whole, that read as one archive" {
  kymf create -q one.kymf data
  run kymf create --split 4K s.kymf data
  [[ $status -eq 0 && $output == "created 14 entries, "*" bytes" ]]
  [ "$(volumes | wc -l)" -ge 3 ]
  : > joined
  for volume in $(volumes); do
    [ "$(stat -c %s "$volume")" -le 4096 ]
    list_alone "$volume" >> joined  # an ordinary archive, opened alone
    kymf verify -q solo/volume.kymf
  done
  # No entry is split: each is in one volume, whole.
  kymf list one.kymf | tr -d '\r' > whole
  cmp whole joined
  while read -r name; do
    [ "$(holder "$name" | wc -l)" -eq 1 ]
    cp "$(holder "$name")" solo/volume.kymf
    kymf cat solo/volume.kymf "$name" | cmp - "$name"
  done < whole
  # The set reads as the one archive of the same files.
  for command in "list" "cat data/f3.bin data/f12.bin" "verify -q"; do
    read -ra words <<< "$command"
    kymf "${words[0]}" one.kymf "${words[@]:1}" > one.out
    kymf "${words[0]}" s.kymf "${words[@]:1}" > set.out
    echo "kymf $command"
    cmp one.out set.out
  done
  mkdir out-one out-set
  kymf extract -q one.kymf -C out-one
  kymf extract -q s.kymf -C out-set
  diff -r out-one out-set
  diff -r data out-set/data
  run kymf list s.kymf --path s.kymf
  kymf cat --path s.kymf data/f12.bin | cmp - data/f12.bin
  run kymf verify s.kymf
  [[ $status -eq 0 && ${lines[0]} == "s.kymf: OK, "* && ${lines[2]} == "s.3.kymf: OK, "* ]]
}

@test "create over a larger set removes its higher-numbered volumes and their sums" {
  kymf create -q --sums --split 2K s.kymf data
  local before
  before=$(volumes | wc -l)
  [ -e "s.$before.kymf.sha256" ]
  cp s.kymf s.$((before + 2)).kymf  # after a gap: read by no one, still stale
  kymf create -q --split 8K s.kymf data
  [ "$(volumes | wc -l)" -lt "$before" ]
  [ "$(volumes | wc -l)" -ge 2 ]
  [ ! -e "s.$before.kymf" ] && [ ! -e "s.$before.kymf.sha256" ]
  [ ! -e "s.$((before + 2)).kymf" ]
  kymf list s.kymf | tr -d '\r' | sort > set
  (cd data && find . -type f | sed 's#^\./#data/#' | sort) > files
  cmp files set
  kymf create -q s.kymf data/f1.bin  # one archive: no volume left beside it
  [ "$(volumes)" = s.kymf ]
  # (On Windows a volume's lock file, s.N.kymf.lock, stays, as every lock
  # file does there: removing it would race with a writer opening it.)
  [ -z "$(ls s.[0-9]*.kymf s.[0-9]*.kymf.sha256 2> /dev/null)" ]
}

@test "add fills the last volume, then starts a new one; the name lives in one volume" {
  kymf create -q --split 4K s.kymf data
  local count last
  count=$(volumes | wc -l)
  last=s.$count.kymf
  head -c 100 /dev/urandom > small
  kymf add -q s.kymf small  # the format's limit: the last volume takes it
  [ "$(holder small)" = "$last" ] && [ "$(volumes | wc -l)" -eq "$count" ]
  head -c 3000 /dev/urandom > large
  kymf add -q --split 4K s.kymf large
  [ "$(holder large)" = "s.$((count + 1)).kymf" ]
  [ "$(stat -c %s "s.$((count + 1)).kymf")" -le 4096 ]
  # --replace: in the volume that holds the name when it fits there ...
  local home
  home=$(holder data/f1.bin)
  md5sum $(volumes | grep -vx "$home") > others
  kymf add -q --replace --split 4K --as data/f1.bin s.kymf small
  [ "$(holder data/f1.bin)" = "$home" ]
  md5sum -c --quiet others
  kymf cat s.kymf data/f1.bin | cmp - small
  # ... or moved to where new entries go, gone from its volume.
  kymf add -q --replace --split 4K --as data/f1.bin s.kymf large
  [ "$(holder data/f1.bin)" != "$home" ] && [ "$(holder data/f1.bin | wc -l)" -eq 1 ]
  kymf cat s.kymf data/f1.bin | cmp - large
  # Without --replace a name any volume holds is refused, nothing changed.
  md5sum $(volumes) > all
  kymf_expect 1 "kymf: $(holder data/f2.bin): entry name \"data/f2.bin\" is already taken*" \
    add s.kymf small --as data/f2.bin
  md5sum -c --quiet all
  kymf verify -q s.kymf
}

@test "delete and rename change only the volume that holds the name" {
  kymf create -q --split 4K s.kymf data
  local home
  home=$(holder data/f7.bin)
  md5sum $(volumes | grep -vx "$home") > others
  run kymf delete s.kymf data/f7.bin
  [[ $status -eq 0 && $output == "deleted 1 entry, 1111 bytes" ]]
  md5sum -c --quiet others
  [ -z "$(holder data/f7.bin)" ]
  home=$(holder data/f9.bin)
  kymf rename -q s.kymf data/f9.bin renamed.bin
  [ "$(holder renamed.bin)" = "$home" ]
  kymf cat s.kymf renamed.bin | cmp - data/f9.bin
  kymf_expect 1 "kymf: $(holder data/f1.bin): entry name \"data/f1.bin\" is already taken*" \
    rename s.kymf renamed.bin data/f1.bin
  kymf_expect 1 "kymf: s.kymf: no entry nothing" rename s.kymf nothing other
  # Every entry of a volume deleted: the volume stays, empty, and the set goes on.
  for name in $(list_alone s.2.kymf); do
    kymf delete -q s.kymf "$name"
  done
  [ "$(list_alone s.2.kymf)" = "" ]
  kymf cat s.kymf data/sub/deep.txt | grep -qx deep
}

@test "a writer of a set holds the first volume's lock throughout" {
  posix_only "flock(1) holds the lock from outside"
  command -v flock > /dev/null || skip "no flock(1)"
  kymf create -q --split 4K s.kymf data
  md5sum $(volumes) > all
  touch hold
  flock s.kymf sh -c 'while [ -e hold ]; do sleep 0.05; done' &
  eventually '! flock -n s.kymf true'
  for command in "add --split 4K s.kymf data/f1.bin --as new" "delete s.kymf data/f12.bin" \
    "rename s.kymf data/f12.bin x" "create --split 4K s.kymf data/f1.bin"; do
    read -ra words <<< "$command"
    run kymf "${words[0]}" --no-wait "${words[@]:1}"
    echo "kymf $command: $output"
    [[ $status -eq 1 && $output == "kymf: s.kymf: locked by another writer" ]]
  done
  md5sum -c --quiet all
  rm hold
  wait
}

@test "refusals: standard output, a bad SIZE, an entry past SIZE, inputs past the format" {
  kymf_rows << 'EOF'
2|kymf: create --split writes volumes beside the archive: standard output is never a set*|create --split 4K - data
2|kymf: --split 4X: a size in bytes*|create --split 4X s.kymf data
2|kymf: --split 0: a size in bytes*|create --split 0 s.kymf data
2|kymf: --split 2G: a size in bytes*|create --split 2G s.kymf data
2|kymf: --split 1.5M: a size in bytes*|add --split 1.5M s.kymf data
1|kymf: s.kymf: data/f10.bin: 1330 bytes do not fit a volume of 1024 bytes|create --split 1K s.kymf data
EOF
  [ ! -e s.kymf ]
  # Sparse files: past 2,147,483,647 bytes together, refused before a byte is written.
  mkdir huge
  truncate -s 1100M huge/a huge/b
  kymf_expect 1 "kymf: s.kymf: the archive would exceed 2,147,483,647 bytes, the most one archive \
holds: --split SIZE writes it as a set of volumes (docs/volumes.md)" create s.kymf huge
  [ "$(ls s.* 2> /dev/null)" = "" ]
  kymf create -q --split 2147483647 s.kymf data  # the format's largest is allowed
}

@test "verify of a set names a volume that is missing or no archive; writers refuse a gap" {
  kymf create -q --split 4K s.kymf data
  [ -e s.3.kymf ]
  mv s.2.kymf away.kymf
  run kymf verify s.kymf
  [[ $status -eq 1 && $output == *"s.kymf: error: volume s.2.kymf is missing: s.3.kymf after it is not read"* ]]
  run kymf verify --json s.kymf
  [[ $status -eq 1 && $output == *'"missing": "s.2.kymf", "ok": false}' ]]
  kymf_expect 1 "kymf: s.kymf: volume s.2.kymf is missing before s.3.kymf*" add s.kymf data/f1.bin --as x
  printf 'no archive' > s.2.kymf
  run kymf verify s.kymf
  [[ $status -eq 1 && $output == *"kymf: s.2.kymf: not a KYMF archive"* ]]
  [[ $output == *"s.3.kymf: OK, "* ]]
  kymf_expect 1 "kymf: s.2.kymf: not a KYMF archive*" list s.kymf
  mv away.kymf s.2.kymf
  kymf verify -q s.kymf
}

# Skips the case with kymf's own reason when it cannot mount here.
need_fuse() {
  posix_only "Windows has no FUSE"
  run kymf mount "$BATS_TEST_TMPDIR/none.kymf" "$BATS_TEST_TMPDIR/none"
  if [[ $output == *"mounting is not available here"* ]]; then
    skip "${output#kymf: }"
  fi
}

@test "a set mounted shows the files of every volume" {
  need_fuse
  kymf create -q --split 4K s.kymf data
  mkdir mnt
  kymf mount s.kymf mnt 3>&-
  diff -r data mnt/data
  fusermount3 -u mnt
}
