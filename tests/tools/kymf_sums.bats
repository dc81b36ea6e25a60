#!/usr/bin/env bats
# The sums file beside an archive (NAME.kymf.sha256): written by create --sums
# and sums, kept current by every writer, read by verify and by cat and
# extract --check; and what sha256sum makes of it.

load kymf_helpers

setup() {
  cd "$BATS_TEST_TMPDIR"
  mkdir -p tree/sub out
  printf 'alpha' > tree/a.txt
  printf 'beta!' > tree/sub/b.txt
  kymf create -q --sums g.kymf -C tree .
}

# Flips the byte at offset $2 of file $1 in place (the file stays the same file).
flip() {
  local byte
  byte=$(od -A n -t u1 -j "$2" -N 1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $(( byte ^ 32 )))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

@test "create --sums writes sha256sum's own file, which checks an extracted tree" {
  [ "$(cat g.kymf.sha256)" = "$(cd tree && sha256sum a.txt sub/b.txt)" ]
  kymf extract -q g.kymf -C out
  (cd out && sha256sum --strict -c ../g.kymf.sha256)
  run kymf verify g.kymf
  [ "$status" -eq 0 ]
  [ "$output" = "g.kymf: OK, 2 entries, every one's bytes match its sum" ]
}

@test "every flipped data byte is named by verify and refused by cat and extract --check" {
  cp g.kymf good.kymf
  size=$(stat -c %s g.kymf)
  for at in $(seq $(( 8 + 2 * 80 )) $(( size - 1 ))); do
    cp good.kymf g.kymf  # the same file, rewritten in place: damage, not a replacement
    flip g.kymf "$at"
    entry=a.txt
    [ "$at" -ge $(( 8 + 2 * 80 + 5 )) ] && entry=sub/b.txt
    run kymf verify g.kymf
    # Under Wine the creation time kymf.exe is told moves when a file is
    # rewritten in place, so there damage reads as stale sums; Windows and
    # POSIX keep a file's birth, and verify names the damaged entry.
    if [ "${KYMF_PLATFORM:-}" = windows ]; then
      [[ $status -eq 1 && $output == *"$entry"* ]] || { echo "byte $at: $output"; return 1; }
    else
      [[ $status -eq 1 && $output == *"g.kymf: $entry: damaged: its bytes do not match its sum"* ]] ||
        { echo "byte $at: $output"; return 1; }
    fi
    run kymf cat --check g.kymf "$entry"
    [[ $status -eq 1 && $output == "kymf: g.kymf: $entry: damaged"* ]] || { echo "cat, byte $at: $output"; return 1; }
    rm -rf out && mkdir out
    run kymf extract --check g.kymf -C out
    [[ $status -eq 1 && ! -e out/$entry ]] || { echo "extract, byte $at: $output"; return 1; }
  done
}

@test "verify names entries missing from or unlisted in the sums file, also in JSON" {
  sed -i '/a.txt/d' g.kymf.sha256
  printf '%s  gone.txt\n' "$(printf x | sha256sum | cut -c1-64)" >> g.kymf.sha256
  run kymf verify g.kymf
  [ "$status" -eq 1 ]
  [[ $output == *"g.kymf: a.txt: not in the sums file"* ]]
  [[ $output == *"g.kymf: gone.txt: in the sums file, not in the archive"* ]]
  run kymf verify --json g.kymf
  python3 -c 'import json,sys; d=json.loads(sys.argv[1])["sums"]; assert len(d["unlisted"])==1 and len(d["missing"])==1, d' "$output"
}

@test "an archive replaced by a tool that knows nothing of sums makes them stale, not damage" {
  touch -d '-1 minute' g.kymf.sha256
  printf 'changed' > tree/a.txt
  kymf create -q other.kymf -C tree .
  mv other.kymf g.kymf  # as another tool would put its archive in place
  run kymf verify g.kymf
  [ "$status" -eq 1 ]
  [[ $output == *"stale: g.kymf.sha256 does not describe this archive"* && $output != *damaged* ]]
  kymf sums g.kymf
  kymf verify g.kymf
}

@test "writers keep the sums current; without a sums file verify says data are not checked" {
  printf 'gamma' > c.txt
  kymf add -q g.kymf c.txt
  kymf rename -q g.kymf a.txt renamed.txt
  kymf delete -q g.kymf sub
  kymf verify g.kymf
  [ "$(cut -c67- g.kymf.sha256)" = "$(printf 'renamed.txt\nc.txt')" ]
  kymf create -q plain.kymf -C tree .
  [ ! -e plain.kymf.sha256 ]
  run kymf verify plain.kymf
  [[ $status -eq 0 && $output == *"data not checked: no sums file; kymf sums plain.kymf writes one"* ]]
  run kymf cat --check plain.kymf a.txt
  [[ $status -eq 1 && $output == *"--check: no sums file"* ]]
}

@test "sums and create --sums need an archive's file name" {
  run kymf create --sums - -C tree .
  [ "$status" -eq 2 ]
  run kymf sums -
  [ "$status" -eq 2 ]
  run kymf sums missing.kymf
  [[ $status -eq 1 && $output == *"missing.kymf: no such file"* ]]
}

@test "a link or a FIFO where the sums file goes is never followed nor waited on" {
  posix_only "links and FIFOs made by the host"
  rm g.kymf.sha256
  ln -s "$BATS_TEST_TMPDIR/elsewhere" g.kymf.sha256  # dangling: where a writer must not write
  kymf -q sums g.kymf
  [[ ! -L g.kymf.sha256 && -f g.kymf.sha256 && ! -e elsewhere ]]
  printf 'gamma' > c.txt
  ln -sf "$BATS_TEST_TMPDIR/elsewhere" g.kymf.sha256
  kymf -q create --sums g.kymf -C tree .
  [[ ! -L g.kymf.sha256 && ! -e elsewhere ]]
  kymf verify g.kymf
  rm g.kymf.sha256 && mkfifo g.kymf.sha256
  run timeout 10 "$KYMF" verify g.kymf
  [[ $status -eq 1 && $output == *"g.kymf.sha256: not a regular file"* ]]
}

@test "libcrypto is loaded by the first digest, and without it the sums are the same" {
  posix_only "libcrypto is loaded only by the POSIX builds"
  LD_DEBUG=libs kymf list g.kymf > /dev/null 2> list.debug
  LD_DEBUG=libs kymf verify g.kymf > /dev/null 2> verify.debug
  ! grep -q "libcrypto" list.debug
  grep -q "calling init: .*libcrypto" verify.debug
  # A libcrypto.so.3 that is not libcrypto: the portable digest takes over.
  mkdir fake
  lib=$(ldconfig -p | awk '/libz\.so\.1 / { print $NF; exit }')
  [ -n "$lib" ]
  cp "$lib" fake/libcrypto.so.3
  mv g.kymf.sha256 made-by-libcrypto
  LD_LIBRARY_PATH=$PWD/fake kymf sums g.kymf
  cmp g.kymf.sha256 made-by-libcrypto
  LD_LIBRARY_PATH=$PWD/fake run kymf verify g.kymf
  [[ $status -eq 0 && $output == "g.kymf: OK, 2 entries, every one's bytes match its sum" ]]
  flip g.kymf $(( 8 + 2 * 80 ))
  LD_LIBRARY_PATH=$PWD/fake run kymf verify g.kymf
  [[ $status -ne 0 && $output == *"a.txt"* ]]
}
