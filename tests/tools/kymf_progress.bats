#!/usr/bin/env bats
# The progress line of long jobs: on a terminal once a job has run a second,
# never into a file or a pipe, never with -q; --progress asks for it anywhere.

load kymf_helpers

setup() {
  cd "$BATS_TEST_TMPDIR"
  mkdir -p tree out
  head -c 6291456 /dev/zero > tree/big.bin
  printf 'small' > tree/small.txt
  kymf create a.kymf -C tree .
}

# Standard error as text, each redraw on a line of its own.
lines_of() { tr '\r' '\n' < "$1" | sed 's/ *$//' | grep -v '^$' || true; }

@test "a job whose reader is slow shows its line on a terminal, and clears it" {
  posix_only "the terminal here is a pseudo-terminal, which Wine does not show kymf.exe as a console"
  # The reader waits 1.5 s, so cat runs past the second after which the line
  # appears; the bytes then go on to the end.
  python3 "$BATS_TEST_DIRNAME/on_terminal.py" \
    "'$KYMF' cat a.kymf big.bin | { sleep 1.5; cat > got.bin; }" > terminal.txt
  cmp got.bin tree/big.bin
  lines_of terminal.txt > shown.txt
  grep -q '^kymf: cat a.kymf: .* of 6.0 MiB (.*%), .*/s' shown.txt
  # Cleared at the end: the line overwritten with spaces, the cursor back at
  # its start.
  [ "$(tail -c 2 terminal.txt | od -An -tx1 | tr -d ' \n')" = '200d' ]
}

@test "a short job on a terminal, a file or a pipe, and -q show nothing" {
  posix_only "the terminal here is a pseudo-terminal, which Wine does not show kymf.exe as a console"
  python3 "$BATS_TEST_DIRNAME/on_terminal.py" "'$KYMF' extract a.kymf -C out > /dev/null" > terminal.txt
  [ ! -s terminal.txt ]
  kymf extract -f a.kymf -C out 2> err.txt
  [ ! -s err.txt ]
  python3 "$BATS_TEST_DIRNAME/on_terminal.py" \
    "'$KYMF' -q cat a.kymf big.bin | { sleep 1.5; cat > /dev/null; }" > terminal.txt
  [ ! -s terminal.txt ]
}

@test "--progress draws every job's line wherever standard error goes" {
  kymf create --progress b.kymf -C tree . 2> create.txt
  kymf add --progress b.kymf --as more.bin tree/big.bin 2> add.txt
  kymf extract --progress a.kymf -C out 2> extract.txt
  kymf sums a.kymf
  kymf verify --progress a.kymf 2> verify.txt
  kymf cat --progress a.kymf big.bin 2> cat.txt > /dev/null
  lines_of create.txt | grep -q '^kymf: write b.kymf: '
  lines_of add.txt | grep -q '^kymf: write b.kymf: '
  lines_of extract.txt | grep -q '^kymf: extract a.kymf: 0 B of 6.0 MiB (0%)$'
  lines_of verify.txt | grep -q '^kymf: verify a.kymf: 0 B of 6.0 MiB (0%)$'
  lines_of cat.txt | grep -q '^kymf: cat a.kymf: 0 B of 6.0 MiB (0%)$'
  # -q wins over --progress; the entries' bytes are never touched by it.
  kymf -q extract --progress -f a.kymf -C out 2> quiet.txt
  [ ! -s quiet.txt ]
  cmp out/big.bin tree/big.bin
}
