#!/usr/bin/env bats
# kymf's writers: one at a time per archive, never through a link they did
# not make, keeping what the archive was, and leaving nothing behind.
# Run by ctest with KYMF set.

load kymf_helpers

setup() {
  cd "$BATS_TEST_TMPDIR"
  printf 'seed' > seed
  kymf create -q game.kymf seed
}

# The names in the folder that are neither inputs nor archives.
leftovers() {
  ls -A | grep -Ev '^(seed|r[0-9].*|game\.kymf(\.lock)?|ok|important\.txt|link\.kymf|big|big\.kymf|out|staging|listed)$' || true
}

@test "writers at once: every entry of every writer that succeeded is in the archive" {
  for round in 1 2 3 4 5 6 7 8; do
    for writer in 1 2 3 4; do
      head -c 20000 /dev/urandom > "r$round-$writer-a"
      printf '%s' "$round$writer" > "r$round-$writer-b"
    done
  done
  : > ok
  for round in 1 2 3 4 5 6 7 8; do
    for writer in 1 2 3 4; do
      (kymf add -q game.kymf "r$round-$writer-a" "r$round-$writer-b" &&
        echo "add r$round-$writer-a r$round-$writer-b" >> ok) &
    done
    if [ "$round" -gt 1 ]; then  # changes to the previous round's entries, at the same time
      (kymf delete -q game.kymf "r$((round - 1))-1-a" && echo "delete r$((round - 1))-1-a" >> ok) &
      (kymf rename -q game.kymf "r$((round - 1))-2-b" "moved$round" &&
        echo "rename r$((round - 1))-2-b moved$round" >> ok) &
    fi
    wait
  done
  # Each one waited its turn, none failed; on Windows a writer fails cleanly
  # when another command holds the archive open to read it.
  if [ "${KYMF_PLATFORM:-}" != windows ]; then
    [ "$(wc -l < ok)" -eq $((8 * 4 + 7 * 2)) ]
  fi
  run kymf verify game.kymf
  [ "$status" -eq 0 ]
  expected=$(
    {
      echo seed
      awk '$1 == "add" { print $2; print $3 }' ok
      awk '$1 == "rename" { print $3 }' ok
    } | grep -vxF -f <(awk '$1 == "delete" { print $2 } $1 == "rename" { print $2 }' ok) | sort
  )
  [ "$(kymf list game.kymf | tr -d '\r' | sort)" = "$expected" ]
  # A writer that failed cleanly (Windows, above) added nothing to read.
  if grep -qx "add r8-4-a r8-4-b" ok; then
    kymf cat game.kymf r8-4-b | grep -qx 84
  fi
  [ -z "$(leftovers)" ]
}

@test "--no-wait refuses an archive another writer holds; by default the wait is said" {
  posix_only "flock(1) holds the lock from outside"
  command -v flock > /dev/null || skip "no flock(1)"
  touch hold
  flock game.kymf sh -c 'while [ -e hold ]; do sleep 0.05; done' &
  eventually '! flock -n game.kymf true'  # held from now until hold goes
  run kymf add --no-wait game.kymf seed --as other
  [[ $status -eq 1 && $output == "kymf: game.kymf: locked by another writer" ]]
  kymf add game.kymf seed --as other > waited 2>&1 &
  writer=$!
  eventually 'grep -q "kymf: waiting for the lock on game.kymf" waited'
  rm hold
  wait "$writer"
  [[ $(cat waited) == *"added 1 entry"* ]]
  wait
}

@test "the temporary file is never one someone else made" {
  posix_only "symbolic links made by the host"
  echo precious > game.kymf.tmp
  kymf create -q game.kymf seed
  kymf add -q game.kymf seed --as two
  [ "$(cat game.kymf.tmp)" = precious ]
  rm game.kymf.tmp
  echo important > important.txt
  ln -s important.txt game.kymf.tmp
  kymf add -q game.kymf seed --as three
  [ "$(cat important.txt)" = important ]
  [ -L game.kymf.tmp ]
  [ -f game.kymf ]
  [ ! -L game.kymf ]
}

@test "the replaced archive keeps its permissions and its link; a read-only one is refused" {
  posix_only "permission bits and symbolic links"
  chmod 0640 game.kymf
  kymf add -q game.kymf seed --as two
  [ "$(stat -c %a game.kymf)" = 640 ]
  ln -s game.kymf link.kymf
  kymf add -q link.kymf seed --as three
  [ -L link.kymf ]
  [ "$(readlink link.kymf)" = game.kymf ]
  [ "$(kymf list game.kymf | tr '\n' ' ')" = "seed two three " ]
  chmod 0444 game.kymf
  cp game.kymf before.kymf
  run kymf delete game.kymf two
  [[ $status -eq 1 && $output == "kymf: game.kymf: read-only; not changed (Permission denied)" ]]
  cmp game.kymf before.kymf
  rm before.kymf
  [ -z "$(leftovers)" ]
}

@test "a writer killed mid-write leaves a temporary file, which the next writer removes" {
  posix_only "kill -KILL of a running writer"
  head -c 150000000 /dev/zero > big
  stale=
  for attempt in 1 2 3 4 5; do
    # The program itself, not the kymf function: $! must be the writer, or the
    # kill would end a subshell and leave the writer to finish.
    "$KYMF" add -q game.kymf big --as "big$attempt" &
    writer=$!
    until compgen -G 'game.kymf.tmp-*' > /dev/null || ! kill -0 "$writer" 2> /dev/null; do
      sleep 0.01
    done
    kill -KILL "$writer" 2> /dev/null || true
    wait "$writer" || true
    stale=$(compgen -G 'game.kymf.tmp-*' || true)
    [ -n "$stale" ] && break
  done
  [ -n "$stale" ]  # some attempt was killed while writing
  kymf verify game.kymf
  kymf add -q game.kymf seed --as after
  [ ! -e "$stale" ]
  rm big
  [ -z "$(leftovers)" ]
}

# As a full disk: the write fails (EFBIG), kymf says so naming the file, and
# neither a partial file nor a temporary archive is left; an archive being
# added to stays as it was.
@test "a file-size limit stops extract, create and add with a message and leaves nothing behind" {
  posix_only "ulimit -f"
  head -c 3000000 /dev/urandom > big
  kymf create -q big.kymf big
  mkdir out
  run bash -c "ulimit -f 1000; '$KYMF' extract big.kymf -C out"
  [ "$status" -eq 1 ]
  [[ "$output" == *"out/big"*"File too large"* ]]
  [ -z "$(ls -A out)" ]
  mkdir made
  run bash -c "ulimit -f 1000; '$KYMF' create made/new.kymf big"
  [ "$status" -eq 1 ]
  [[ "$output" == *"new.kymf"*"File too large"* ]]
  [ -z "$(ls -A made)" ]
  cp game.kymf before.kymf
  run bash -c "ulimit -f 1000; '$KYMF' add game.kymf big"
  [ "$status" -eq 1 ]
  [[ "$output" == *"File too large"* ]]
  cmp game.kymf before.kymf
  rm -r made before.kymf
  [ -z "$(leftovers)" ]
}

@test "an archive read from - is staged privately and removed, also when a signal ends kymf" {
  posix_only "permission bits and signals"
  mkdir staging
  touch hold
  { while [ -e hold ]; do sleep 0.05; done; cat game.kymf; } |
    TMPDIR=$PWD/staging kymf list - > listed &
  eventually '[ -n "$(ls -A staging)" ]'
  [ "$(stat -c %a staging/*)" = 700 ]
  rm hold
  wait
  [ "$(cat listed)" = seed ]
  [ -z "$(ls -A staging)" ]
  sleep 30 | TMPDIR=$PWD/staging "$KYMF" list - &  # $! is kymf itself
  eventually '[ -n "$(ls -A staging)" ]'
  kill -TERM $!
  wait $! || true
  [ -z "$(ls -A staging)" ]
}
