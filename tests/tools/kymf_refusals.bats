#!/usr/bin/env bats
# What kymf refuses before it costs anything, and how it says why: standard
# input that is no archive, an archive name that is no regular file (a FIFO,
# a socket, a device, a folder), and failures of the system named with the
# system's reason. Every run that could wait is bounded by `timeout`, so a
# case that would hang fails instead. How the size limit of standard input
# is kept: KymfSupportTest (SpoolArchive); the reasons of refused creates
# and replaces under a FaultySystem: SystemReasonTest.

load kymf_helpers

setup() {
  cd "$BATS_TEST_TMPDIR"
  printf 'abc' > a.txt
  kymf -q create t.kymf a.txt
  mkdir -p staging
}

# bounded SECONDS ARGUMENT...: runs kymf ARGUMENTS under `timeout`, standard
# input from /dev/null unless redirected by the caller.
bounded() {
  local seconds=$1
  shift
  run timeout "$seconds" "$KYMF" "$@"
}

@test "standard input that is no archive is refused at its first bytes, however long it is" {
  posix_only "/dev/zero and TMPDIR"
  for command in "list -" "cat - a.txt" "extract - -C staging" "verify -"; do
    echo "kymf $command < /dev/zero"
    run env TMPDIR="$BATS_TEST_TMPDIR/staging" timeout 20 bash -c "\"\$KYMF\" $command < /dev/zero"
    [[ $status -eq 1 && $output == "kymf: -: not a KYMF archive" ]]
    # Nothing of it was kept: no copy, no temporary folder.
    [ -z "$(ls -A staging)" ]
  done
  run bash -c "head -c 3 /dev/zero | timeout 20 \"\$KYMF\" list -"
  [[ $status -eq 1 && $output == "kymf: -: not a KYMF archive" ]]
  # An archive on standard input is read as before.
  run bash -c "timeout 20 \"\$KYMF\" list - < t.kymf"
  [[ $status -eq 0 && $output == a.txt ]]
  # A temporary folder that is not there is named, with the system's reason.
  run env TMPDIR="$BATS_TEST_TMPDIR/missing" timeout 20 "$KYMF" list - < t.kymf
  [[ $status -eq 1 && $output == "kymf: temporary folder $BATS_TEST_TMPDIR/missing: "* ]]
}

@test "an archive that is a FIFO, a socket, a device or a folder is refused by every command, without waiting" {
  posix_only "FIFOs, sockets and devices"
  mkfifo fifo.kymf
  python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' socket.kymf
  mkdir folder.kymf
  ln -s folder.kymf folder-link.kymf
  for archive in fifo.kymf socket.kymf folder.kymf folder-link.kymf /dev/null; do
    local reason="not a regular file"
    [[ $archive == folder* ]] && reason="is a folder"
    local commands=("list $archive" "cat $archive a.txt" "extract $archive -C staging"
      "verify $archive")
    # Never a writer on /dev/null: without the refusal it would be replaced.
    if [ "$archive" != /dev/null ]; then
      commands+=("add $archive a.txt" "delete $archive a.txt" "rename $archive a.txt b.txt"
        "create $archive a.txt")
    fi
    for command in "${commands[@]}"; do
      echo "kymf $command"
      read -ra arguments <<< "$command"
      bounded 10 "${arguments[@]}" < /dev/null
      echo "$status: $output"
      [[ $status -eq 1 && $output == "kymf: $archive: $reason"* ]]
    done
  done
  # Each is still what it was, and nothing was left beside it.
  [ -p fifo.kymf ]
  [ -S socket.kymf ]
  [ -d folder.kymf ]
  [ -L folder-link.kymf ]
  [ -z "$(ls -A folder.kymf)" ]
  [ -z "$(ls -A staging)" ]
  [ "$(ls | grep -c tmp)" -eq 0 ]
}

@test "a new archive that cannot be made says the system's reason" {
  posix_only "symbolic links"
  ln -s nowhere/new.kymf dangling.kymf
  bounded 10 create dangling.kymf a.txt
  echo "$output"
  [[ $status -eq 1 && $output == "kymf: dangling.kymf: cannot create nowhere/new.kymf.tmp-XXXXXX: No such file or directory" ]]
  printf 'x' > plain
  bounded 10 create plain/new.kymf a.txt
  echo "$output"
  [[ $status -eq 1 && $output == "kymf: plain/new.kymf: "*"Not a directory" ]]
}
