#!/usr/bin/env bats
# kymf mount end to end: an archive or a search path mounted through FUSE,
# compared with what kymf extract writes; hostile archives, many readers, an
# archive replaced while mounted, unmounting while a file is open. Which names
# the tree shows, and how they are numbered: MountTreeTest.
# Run by ctest with KYMF set. Every case skips, saying why, where kymf cannot
# mount (no FUSE in the build, no /dev/fuse, Windows).

load kymf_helpers

# Skips the case with kymf's own reason when it cannot mount here.
need_fuse() {
  posix_only "Windows has no FUSE"
  run kymf mount "$BATS_TEST_TMPDIR/none.kymf" "$BATS_TEST_TMPDIR/none"
  if [[ $output == *"mounting is not available here"* ]]; then
    skip "${output#kymf: }"
  fi
}

setup() {
  cd "$BATS_TEST_TMPDIR"
  need_fuse
  mkdir -p mnt out tree/levels/deep tree/Docs
  printf 'one' > tree/levels/One.map
  printf '' > tree/levels/empty.dat
  head -c 300000 /dev/urandom > tree/levels/deep/big.bin
  printf 'read me' > tree/Docs/readme.txt
  (cd tree && kymf -q create ../t.kymf .)
  server=
}

# Never leaves a mount behind: a plain unmount, a lazy one when busy; then
# waits for a foreground server to end.
teardown() {
  local point
  for point in "$BATS_TEST_TMPDIR"/mnt*; do
    if mountpoint -q "$point"; then
      fusermount3 -u "$point" 2> /dev/null || fusermount3 -u -z "$point"
    fi
  done
  if [ -n "$server" ]; then
    wait "$server" || true
  fi
}

# mounted DIR: waits (5 s at most) until DIR is a mount point.
mounted() {
  local tries=100
  until mountpoint -q "$1"; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || return 1
    sleep 0.05
  done
}

# serve ARGUMENTS...: kymf mount -f in the background, its pid in $server,
# its messages in served.err; returns once mounted. fd 3 is closed, or bats
# would wait for the server.
serve() {
  "$KYMF" mount -f "$@" 3>&- 2> served.err &
  server=$!
  mounted "${@: -1}"
}

@test "an archive mounted holds what extract writes, read-only, found in any letter case" {
  run kymf mount t.kymf mnt 3>&-
  [[ $status -eq 0 && -z $output ]]
  kymf -q extract t.kymf -C out
  diff -r out mnt
  [[ $(cat mnt/LEVELS/one.MAP) == one && $(cat mnt/docs/README.TXT) == 'read me' ]]
  [[ $(stat -c '%a %u' mnt/levels/One.map mnt/levels) == "444 $(id -u)"$'\n'"555 $(id -u)" ]]
  [[ $(stat -c %Y mnt/levels/One.map) == $(stat -c %Y t.kymf) ]]
  [[ $(stat -c %i mnt/levels/One.map) == $(stat -c %i mnt/levels/One.map) ]]
  ! touch mnt/levels/One.map 2> /dev/null
  ! mkdir mnt/new 2> /dev/null
  [[ $(stat -f -c '%c %l' mnt) == "8 255" ]]  # the root, 3 folders, 4 files
  fusermount3 -u mnt
  ! mountpoint -q mnt
}

@test "a search path mounted takes each name from the last --path that has it" {
  mkdir -p patch/levels patch/extra
  printf 'patched' > patch/levels/One.map
  printf 'new' > patch/extra/new.txt
  serve --path t.kymf --path patch mnt
  kymf -q extract t.kymf -C out
  cp -r patch/. out/
  diff -r out mnt
  [[ $(cat mnt/levels/one.map) == patched ]]
}

@test "hostile archives: no name leads outside the mount, short entries fail to read, nothing crashes" {
  packed_archive evil.kymf ../evil /abs/evil 'C:\\x' 'a\\..\\..\\b' '' . 'ctl\001' '../bad\351' \
    fine.txt 'dir/x' 'dir' 'DIR/y'
  serve evil.kymf mnt
  [[ $(cd mnt && find . | sort | tr '\n' ' ') == '. ./DIR ./DIR/x ./DIR/y ./fine.txt ' ]]
  [[ $(cat served.err) == *'evil.kymf: 8 names not shown: no safe paths'* ]]
  [[ $(grep -c 'not shown' served.err) -eq 2 ]]  # once each: unsafe, and dir the file
  [[ $(cat mnt/fine.txt) == x ]]
  fusermount3 -u mnt
  wait "$server"
  # Offsets past the end, before the start, an end before the start, and
  # data inside the header: shown, but refused at open (EIO) with the
  # archive's reason in the log, naming the archive and the entry. The empty
  # one, which no read would refuse, keeps every open at the server.
  raw_archive cut.kymf 10 beyond 500 600 before -40 -30 backwards 300 100 head 0 3 whole 408 417
  serve cut.kymf mnt
  local name
  for name in beyond before backwards head; do
    run cat "mnt/$name"
    [[ $status -ne 0 && $output == *"Input/output error"* ]]
  done
  [[ $(stat -c %s mnt/backwards) -eq 0 && $(stat -c %s mnt/head) -eq 4 ]]
  [[ $(cat mnt/whole) == xxxxxxxxxx ]]
  ls mnt > /dev/null
  grep -q 'kymf: cut.kymf: beyond: truncated at byte 418' served.err
  grep -q 'kymf: cut.kymf: backwards: data end at byte 100 before the start at byte 300' served.err
  grep -q 'kymf: cut.kymf: head: data inside the header: data start at byte 0' served.err
}

@test "where no empty file is damaged the kernel opens files itself, and damaged files still fail their reads" {
  # Data past the end and inside the header, then a sound file: every
  # damaged file has bytes to read, so a read can refuse them.
  raw_archive cut.kymf 10 beyond 500 600 head 0 3 whole 248 257
  serve -o debug cut.kymf mnt
  local name
  for name in beyond head; do
    run cat "mnt/$name"
    [[ $status -ne 0 && $output == *"Input/output error"* ]]
  done
  [[ $(cat mnt/whole) == xxxxxxxxxx && $(cat mnt/whole) == xxxxxxxxxx ]]
  ls mnt > /dev/null
  ls mnt > /dev/null
  fusermount3 -u mnt
  wait "$server"
  grep -q 'kymf: cut.kymf: beyond: truncated at byte 258' served.err
  grep -q 'kymf: cut.kymf: head: data inside the header' served.err
  # The first open of a file and of a folder reached the server, answered
  # "not implemented"; no other open, and no release.
  [[ $(grep -c 'opcode: OPEN ' served.err) -eq 1 && $(grep -c 'opcode: OPENDIR ' served.err) -le 1 ]]
  ! grep -q 'opcode: RELEASE ' served.err
}

@test "many readers at once read the same bytes as one" {
  for i in $(seq 1 40); do head -c $((i * 5000)) /dev/urandom > "tree/levels/f$i"; done
  (cd tree && kymf -q create ../many.kymf .)
  kymf -q extract many.kymf -C out
  (cd out && find . -type f | sort | xargs md5sum) > expected
  run kymf mount many.kymf mnt 3>&-
  for i in 1 2 3 4 5 6 7 8; do
    (cd mnt && find . -type f | sort | xargs md5sum) > "sum$i" &
  done
  wait
  for i in 1 2 3 4 5 6 7 8; do cmp expected "sum$i"; done
}

@test "an archive replaced while mounted keeps serving the mounted one" {
  kymf -q extract t.kymf -C out
  serve t.kymf mnt
  printf 'other' > tree/levels/One.map
  head -c 300000 /dev/zero > tree/levels/deep/big.bin
  (cd tree && kymf -q create ../new.kymf .)
  mv new.kymf t.kymf
  diff -r out mnt
}

# The open archive cut short in place (no writer of ours does that, another
# program may): a read past the cut is an error, never zeros or a short file.
@test "an archive cut short in place while a file is open fails that file's reads (EIO)" {
  serve t.kymf mnt
  exec 4< mnt/levels/deep/big.bin
  truncate -s 1000 t.kymf
  ! dd bs=4096 skip=10 count=1 <&4 status=none > /dev/null 2> dd.err
  grep -q "Input/output error" dd.err
  exec 4<&-
  grep -q "big.bin" served.err
}

# The cut inside a large read, which the server would splice from the
# archive's file: the bytes before the cut never pass for the whole read.
@test "an archive cut inside a large read fails the read (EIO), not a short one" {
  serve t.kymf mnt
  start=$(kymf list -l --no-header t.kymf | awk '$4 == "levels/deep/big.bin" { print $2 }')
  [[ -n $start ]]
  exec 4< mnt/levels/deep/big.bin
  truncate -s $((start + 200000)) t.kymf
  ! dd bs=131072 skip=1 count=1 iflag=direct <&4 status=none > got.bin 2> dd.err
  grep -q "Input/output error" dd.err
  exec 4<&-
}

@test "unmounting while a reader is inside a file is clean, and so is SIGTERM" {
  serve t.kymf mnt
  exec 4< mnt/levels/deep/big.bin
  dd bs=1000 count=1 <&4 status=none > /dev/null
  ! fusermount3 -u mnt 2> /dev/null  # busy
  fusermount3 -u -z mnt
  [[ $(cat <&4 | wc -c) -eq 299000 ]]
  exec 4<&-
  wait "$server"
  server=
  [[ ! -s served.err ]]
  serve t.kymf mnt
  kill -TERM "$server"
  wait "$server"
  server=
  ! mountpoint -q mnt
}

@test "mount refuses a missing archive, a missing mount point and a bad command line" {
  ln -s gone dangling
  kymf_rows <<'ROWS'
1|kymf: missing.kymf: no such file|mount missing.kymf mnt
1|kymf: nowhere: the mount point cannot be used: no such file or directory|mount t.kymf nowhere
1|kymf: dangling: the mount point cannot be used: no such file or directory|mount t.kymf dangling
1|kymf: t.kymf: the mount point is not a folder|mount t.kymf t.kymf
1|kymf: missing: no such file|mount --path missing mnt
2|kymf: mount needs an archive and a MOUNTPOINT*|mount mnt
2|kymf: mount --path SOURCE... takes one MOUNTPOINT*|mount --path t.kymf t.kymf mnt
ROWS
  ! mountpoint -q mnt
}

@test "a folder named from a current folder that was removed is refused with the reason" {
  mkdir gone
  cd gone
  rmdir ../gone
  run kymf mount --path . "$BATS_TEST_TMPDIR/mnt"
  [[ $status -eq 1 && $output == "kymf: .: the current folder cannot be named (No such file or directory)" ]]
  # A mount point named from it cannot be resolved either.
  run kymf mount "$BATS_TEST_TMPDIR/t.kymf" ../mnt
  [[ $status -eq 1 && $output == "kymf: ../mnt: the mount point cannot be used: no such file or directory" ]]
  ! mountpoint -q "$BATS_TEST_TMPDIR/mnt"
}

@test "mount --check serves a damaged file as an error (EIO), never its wrong bytes" {
  kymf -q sums t.kymf
  start=$(kymf list -l --no-header t.kymf Docs/readme.txt | awk '{print $2}')
  printf 'R' | dd of=t.kymf bs=1 seek="$start" conv=notrunc 2>/dev/null  # damage in place
  kymf mount --check t.kymf mnt
  run cat mnt/Docs/readme.txt
  [[ $status -ne 0 && $output != *"ead me"* ]]
  cmp mnt/levels/deep/big.bin tree/levels/deep/big.bin
  fusermount3 -u mnt
  kymf mount t.kymf mnt  # without --check the bytes are served as stored
  [ "$(cat mnt/Docs/readme.txt)" = "Read me" ]
}

@test "a second mount on a kymf mount point is refused; kymf umount takes it off, and only it" {
  kymf mount t.kymf mnt 3>&-
  kymf_rows <<'ROWS'
1|kymf: mnt: is already the mount point of a kymf mount (of t.kymf); kymf umount mnt first|mount t.kymf mnt
1|kymf: mnt/: is already the mount point of a kymf mount (of t.kymf); kymf umount mnt/ first|mount --path tree mnt/
ROWS
  [[ $(grep -c " $BATS_TEST_TMPDIR/mnt .* fuse.kymf " /proc/self/mountinfo) -eq 1 ]]
  mkdir -p mnt2 plain
  kymf_rows <<'ROWS'
1|kymf: plain: is not the mount point of a kymf mount; kymf umount unmounts only what kymf mount mounted|umount plain
1|kymf: nowhere: is not the mount point of a kymf mount; kymf umount unmounts only what kymf mount mounted|umount nowhere
0||umount mnt
1|kymf: mnt: is not the mount point of a kymf mount; kymf umount unmounts only what kymf mount mounted|umount mnt
2|*MOUNTPOINT is required*|umount
ROWS
  ! mountpoint -q mnt
  # A folder with spaces is found in the mount table (written there as \040).
  mkdir -p 'mnt two'
  kymf mount --path tree 'mnt two' 3>&-
  run kymf mount t.kymf 'mnt two'
  [[ $status -eq 1 && $output == *"already the mount point"* ]]
  kymf umount "$BATS_TEST_TMPDIR/mnt two/"
  ! mountpoint -q 'mnt two'
  # Mounted and unmounted through a link to the folder: the mount lies on
  # the folder, and the link finds it.
  ln -s mnt link
  kymf mount t.kymf link 3>&-
  mountpoint -q mnt
  kymf umount link
  ! mountpoint -q mnt
}

@test "mount -o passes options on to FUSE and refuses those that contradict kymf's own" {
  kymf mount -o allow_other,noatime -o default_permissions t.kymf mnt 3>&-
  line=$(grep " $BATS_TEST_TMPDIR/mnt " /proc/self/mountinfo)
  [[ $line == *" ro,"*noatime*" - fuse.kymf t.kymf "*allow_other* ]]
  kymf umount mnt
  kymf_rows <<'ROWS'
2|kymf: mount -o rw: kymf mounts read-only (kymf --help tells more)|mount -o rw t.kymf mnt
2|kymf: mount -o rw: kymf mounts read-only (kymf --help tells more)|mount -o allow_other,rw t.kymf mnt
2|kymf: mount -o fsname=x: kymf names its mounts itself (fsname: the source, subtype: kymf)*|mount -o fsname=x t.kymf mnt
2|kymf: mount -o subtype=y: kymf names its mounts itself*|mount -o noatime -o subtype=y t.kymf mnt
1|*kymf: *mnt: the FUSE session cannot be made*|mount -o no_such_option t.kymf mnt
ROWS
  ! mountpoint -q mnt
}
