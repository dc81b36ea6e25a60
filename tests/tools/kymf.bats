#!/usr/bin/env bats
# The kymf tool end to end: each command, each behaviour, each hostile input.
# Run by ctest with KYMF and MODULES set.

load kymf_helpers

setup() {
  cd "$BATS_TEST_TMPDIR"
  touch .start
  mkdir -p tree/sub tree/empty out elsewhere
  printf 'abc' > tree/a.txt
  printf '12345' > tree/sub/b.bin
  : > tree/sub/zero
  head -c 70000 /dev/urandom > tree/sub/random.dat
}

@test "a session: each command gives its exit code and its output" {
  mkdir -p one/sub
  printf old > one/a.txt
  printf old > one/sub/zero
  packed_archive sub.kymf sub
  kymf_rows <<'ROWS'
0|*Exit codes*Subcommands:*create*add*delete*rename*list*cat*extract*verify*resources*|--help
0||-q create q1.kymf -C tree .
0||create q2.kymf tree/ -q
0|tree/a.txt\ntree/sub/b.bin\ntree/sub/random.dat\ntree/sub/zero|list q2.kymf
0|*sub/b.bin*|create v.kymf -v tree
0|skipped empty folder tree/empty\na.txt\nsub/b.bin\nsub/random.dat\nsub/zero\ncreated 4 entries, 70008 bytes|-v create t.kymf -C tree .
0|a.txt\nsub/b.bin\nsub/random.dat\nsub/zero|list t.kymf
0|        size   dataStart     dataEnd  name\n           3         328         330  a.txt\n           5         331         335  sub/b.bin\n       70000         336       70335  sub/random.dat\n           0       70336       70335  sub/zero|list -l t.kymf
0|a.txt|list t.kymf *.txt
0|sub/random.dat|list t.kymf **/*.dat
0|sub/b.bin\nsub/random.dat\nsub/zero|list t.kymf SUB
0|sub/b.bin\nsub/random.dat\nsub/zero|list t.kymf su*/
1|kymf: t.kymf: su: no such entry|list t.kymf su
0|t.kymf: OK, 4 entries (data not checked: no sums file; kymf sums t.kymf writes one)|verify t.kymf
0|abc|cat t.kymf A.TXT
0|extracted 1 entry, 5 bytes|extract t.kymf SUB/B.BIN -C one
1|*kymf: one/a.txt: already exists (--force replaces it, -k keeps it)*|extract t.kymf a.txt -C one
0|extracted 0 entries, 0 bytes|extract t.kymf a.txt -C one -k
0|extracted 1 entry, 0 bytes|extract t.kymf sub/zero -C one --force
0|extracted 4 entries, 70008 bytes|extract t.kymf -C out
1|*kymf: out/sub: is a folder*|extract sub.kymf -C out --force
0|created 2 entries, 8 bytes|create ex.kymf -C tree . --exclude **/*.dat --exclude sub/zero
0|a.txt\nsub/b.bin|list ex.kymf
0|deleted 3 entries, 70005 bytes|delete t.kymf sub
0|renamed 1 entry, 0 bytes|rename t.kymf a.txt docs/a.txt
0|docs/a.txt|list t.kymf
0|abc|cat t.kymf docs/a.txt
ROWS
  [[ -f one/sub/b.bin && ! -e one/SUB && -f out/sub/zero && ! -s out/sub/zero ]]  # stored names
  [[ $(cat one/a.txt) == old && -f one/sub/zero && ! -s one/sub/zero ]]  # kept, replaced
  cmp out/sub/random.dat tree/sub/random.dat
  kymf cat q1.kymf SUB/RANDOM.DAT | cmp - tree/sub/random.dat
  run kymf list --json q1.kymf
  python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert [e["name"] for e in d][0]=="a.txt" and d[0]["size"]==3' "$output"
}

@test "create - and add in one pass write the bytes create writes; list - and extract - read standard input" {
  kymf create - -C tree . > piped.kymf
  kymf create direct.kymf -C tree .
  cmp piped.kymf direct.kymf
  # Straight into the pipe: no temporary copy (none can be made here; Wine
  # itself needs TMPDIR, so kymf.exe is shown the same pipe without that).
  if [ "${KYMF_PLATFORM:-}" = windows ]; then
    "$KYMF" create - -C tree . | cmp - direct.kymf
  else
    TMPDIR="$PWD/no-such-folder" "$KYMF" create - -C tree . | cmp - direct.kymf
  fi
  if [ "$(uname -s)" = Linux ] && [ "${KYMF_PLATFORM:-}" != windows ]; then
    # ... whose buffer it widens to 1 MiB (F_GETPIPE_SZ, read once all came).
    size=$("$KYMF" create - -C tree . |
      python3 -c 'import fcntl, sys; sys.stdin.buffer.read(); print(fcntl.fcntl(0, 1032))')
    [ "$size" -eq 1048576 ]
  fi
  run bash -c '"$KYMF" list - < piped.kymf'
  [ "${lines[0]}" = "a.txt" ]
  "$KYMF" extract - -C out < piped.kymf
  cmp out/sub/random.dat tree/sub/random.dat
  # A damaged archive from standard input is named -.
  run bash -c 'printf nonsense | "$KYMF" list -'
  [[ $status -eq 1 && $output == "kymf: -: not a KYMF archive" ]]
  kymf create all.kymf tree/a.txt tree/sub/b.bin tree/sub/random.dat
  kymf create some.kymf tree/a.txt
  kymf add some.kymf tree/sub/b.bin tree/sub/random.dat
  cmp all.kymf some.kymf
  kymf add some.kymf tree/sub/b.bin --as a.txt --replace  # replaces an entry
  [ "$(kymf cat some.kymf a.txt)" = 12345 ]
}

@test "a write to a full disk gives the system's reason, for each copy to standard output" {
  posix_only "/dev/full"
  kymf create t.kymf -C tree .
  for command in "cat t.kymf a.txt" "cat --path t.kymf sub/b.bin" "create - tree"; do
    echo "kymf $command > /dev/full"
    run bash -c "\"\$KYMF\" $command > /dev/full"
    [[ $status -eq 1 && $output == "kymf: -: no space left on device" ]]
  done
}

@test "create names each input by its own name, reads from -C, and skips links (unless -h), other files and its own archive, saying so" {
  posix_only "symbolic links, FIFOs and inode numbers made by the host"
  mkdir -p cxx/12 self loop/a long
  printf a > cxx/12/a.txt
  printf s > self/s.txt
  printf l > loop/a/l.txt
  ln -s .. loop/a/up
  ln -s /etc/passwd tree/passwd-link
  ln -s sub tree/sub-link
  ln -s nowhere tree/dangling
  mkfifo tree/fifo
  long=long/$(head -c 66 /dev/zero | tr '\0' x)
  printf 1 > "$long"
  printf 2 > long/ok
  kymf create self/self.kymf self
  kymf_rows <<'ROWS'
0|created 1 entry, 1 bytes|create x.kymf cxx
0|cxx/12/a.txt|list x.kymf
0|created 1 entry, 1 bytes|create c.kymf -C cxx .
0|12/a.txt|list c.kymf
0|created 1 entry, 1 bytes|create c.kymf -C cxx/12 a.txt
0|a.txt|list c.kymf
0|kymf: self/self.kymf: is the archive being written; skipped\ncreated 1 entry, 1 bytes|create self/self.kymf self
0|self/s.txt|list self/self.kymf
0|kymf: loop/a/up: link to a folder it is in (a loop); not followed\ncreated 1 entry, 1 bytes|create -h l.kymf loop
ROWS
  # The archive reached by another name (a hard link) is the same file.
  ln self/self.kymf self/same.kymf
  kymf_expect 0 "*kymf: self/same.kymf: is the archive being written; skipped*created 1 entry, 1 bytes" create self/self.kymf self
  kymf_expect 1 "kymf: $long: name longer than 69 bytes" create k.kymf long
  [ ! -e k.kymf ]
  kymf_expect 1 "kymf: $long: name longer than 69 bytes; skipped*created 1 entry, 1 bytes" create -k k.kymf long
  [ "$(kymf list k.kymf)" = long/ok ]
  # Without -h: the three links and the FIFO, each said; with -h the dangling link and the FIFO.
  for run in "4 " "2 -h"; do
    read -r said dereference <<< "$run"
    run kymf create $dereference links.kymf -C tree .
    [[ $status -eq 0 && $(grep -c '^kymf: tree/' <<< "$output") -eq $said ]]
    grep -Fxq 'kymf: tree/fifo: a FIFO; skipped' <<< "$output"
  done
  [[ $output == *'kymf: tree/dangling: symbolic link to nothing; skipped'* ]]
  [ "$(kymf list links.kymf | tr '\n' ' ')" = "a.txt passwd-link sub-link/b.bin sub-link/random.dat sub-link/zero sub/b.bin sub/random.dat sub/zero " ]
  run kymf create links.kymf -C tree .
  [[ $output == *'kymf: tree/passwd-link: symbolic link not followed; skipped (-h follows links)'* ]]
  [ "$(kymf list links.kymf | tr '\n' ' ')" = "a.txt sub/b.bin sub/random.dat sub/zero " ]
}

@test "create refuses a file whose name holds a backslash" {
  posix_only "file names holding a backslash"
  mkdir -p 'odd/a\b'
  printf x > 'odd/a\b/f'
  kymf_expect 1 '*holds a backslash*' create odd.kymf odd
}

@test "extract never writes through a link: to a folder, or named like an entry" {
  posix_only "symbolic and hard links made by the host"
  packed_archive t.kymf a/b/x x
  ln -s "$PWD/elsewhere" out/a
  kymf_expect 1 '*out/a: is a link*' extract t.kymf -C out --force
  [ -z "$(ls -A elsewhere)" ]
  rm out/a
  printf victim > elsewhere/victim
  for link in "--symbolic symbolic" "--physical hard"; do
    read -r option kind <<< "$link"
    ln --force "$option" "$PWD/elsewhere/victim" out/x
    kymf_expect 1 "*out/x: already exists, as a $kind link*" extract t.kymf -C out
    kymf extract t.kymf -C out --force
    [[ ! -L out/x && $(cat out/x) == x && $(cat elsewhere/victim) == victim ]]
  done
  # resources -o writes as extract does.
  ln -s "$PWD/elsewhere/victim" out/r
  kymf_expect 1 "*out/r: already exists, as a symbolic link*" \
    resources "$MODULES/resources-x86_64.dll" LANGS1 RCDATA -o out/r
  kymf resources "$MODULES/resources-x86_64.dll" LANGS1 RCDATA -o out/r --force
  [[ ! -L out/r && $(cat out/r) == neutral && $(cat elsewhere/victim) == victim ]]
}

@test "hostile names are each refused, verify reports each as an error, list escapes them" {
  mkdir -p out/inner
  packed_archive evil.kymf ../evil /abs/evil 'C:\\x' 'a\\..\\..\\b' '' . 'ctl\001' '../bad\351' fine.txt
  run kymf extract evil.kymf -C out/inner
  [[ $status -eq 1 && $(grep -c 'name refused' <<< "$output") -eq 8 ]]
  [[ $(find out -type f) == out/inner/fine.txt && -z $(files_outside) && ! -e /abs/evil ]]
  run kymf verify evil.kymf
  [[ $status -eq 1 && $(grep -c '^evil.kymf: entry [0-7] (.*): error' <<< "$output") -eq 8 ]]
  [[ $output != *fine.txt* ]]
  # A control character and invalid UTF-8; JSON escapes every byte.
  run kymf list evil.kymf
  [[ $(grep -Fxc -e 'ctl\001' -e '../bad\351' <<< "$output") -eq 2 ]]
  run kymf list --json evil.kymf
  [[ $output == *'"ctl\u0001"'* && $output == *'"../bad\u00e9"'* ]]
  python3 -c 'import json,sys; json.loads(sys.argv[1])' "$output"
}

@test "a name that is not UTF-8 keeps every byte in JSON's name_hex, which cat and extract take with --hex" {
  raw_archive latin.kymf 3 'caf\351' 168 168 'caf\303\251' 169 170
  kymf_rows <<'ROWS'
0|x|cat --hex latin.kymf 636166e9
0|xx|cat --hex latin.kymf 636166C3A9
2|kymf: --hex: not hexadecimal digits: caf (kymf --help tells more)|cat --hex latin.kymf caf
1|kymf: latin.kymf: caf?351x: no such entry|cat --hex latin.kymf 636166e978
0|extracted 1 entry, 1 bytes|extract --hex latin.kymf 636166e9 -C out
ROWS
  if [ "${KYMF_PLATFORM:-}" != windows ]; then  # file names and arguments are bytes on POSIX only
    [[ $(kymf cat latin.kymf café) == xx && $(ls out | od -An -c | tr -d ' \n') == 'caf351\n' ]]
  fi
  run kymf list --json latin.kymf
  python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert [bytes.fromhex(e["name_hex"]) for e in d]==[b"caf\xe9", "café".encode()] and d[0]["name"]==d[1]["name"]=="caf\u00e9"' "$output"
}

@test "verify finds each fault, in text or JSON; warnings fail only with --strict; a truncated or damaged entry is neither shown nor written; extract writes what a lookup finds" {
  packed_archive clash.kymf x x/y
  raw_archive dup.kymf 3 Read.me 168 168 READ.ME 169 170
  raw_archive overlap.kymf 4 a 168 170 b 169 171
  raw_archive gap.kymf 10 a 168 169 b 173 173
  raw_archive neg.kymf 0 n 88 50
  raw_archive before.kymf 2 n -5 -4
  packed_archive one.kymf a
  raw_archive past.kymf 1 p 88 5000
  raw_archive head.kymf 0 h 0 3
  raw_archive dir.kymf 8 d 87 90
  { printf KYMF; le32 1000; } > count.kymf
  kymf_rows <<'ROWS'
1|*entry 0 (x): error*|verify clash.kymf
0|*warning: overlapping data*|verify overlap.kymf
1|*warning: overlapping data*|verify --strict overlap.kymf
1|*warning: layout break*|verify --strict gap.kymf
1|*warning: shadowed name*|verify --strict dup.kymf
1|*entry 0 (n): error*|verify neg.kymf
1|*entry 0 (p): error*|verify past.kymf
1|kymf: count.kymf: *|verify count.kymf
1|kymf: past.kymf: p: truncated at byte 89|cat past.kymf p
1|kymf: neg.kymf: n: data end at byte 50 before the start at byte 88|cat neg.kymf n
1|kymf: before.kymf: n: data start at byte -5 before the start of the file|cat before.kymf n
1|*kymf: neg.kymf: n: data end at byte 50 before the start at byte 88*|extract neg.kymf -C out
0|one.kymf: OK, 1 entry (data not checked: no sums file; kymf sums one.kymf writes one)|verify one.kymf
1|*kymf: past.kymf: p: truncated at byte 89*|extract past.kymf -C out
1|*entry 0 (h): error: data inside the header*|verify head.kymf
1|kymf: head.kymf: h: data inside the header: data start at byte 0 inside the header and directory (88 bytes)|cat head.kymf h
1|*kymf: head.kymf: h: data inside the header*|extract head.kymf -C out
1|*kymf: dir.kymf: d: data inside the header: data start at byte 87*|cat dir.kymf d
ROWS
  [[ -z $(kymf cat past.kymf p 2> /dev/null) && -z $(kymf cat head.kymf h 2> /dev/null) ]]
  [[ -z $(ls -A out) ]]
  run bash -c '"$KYMF" cat - p < past.kymf'  # named as given, not by its staged copy
  [[ $status -eq 1 && $output == "kymf: -: p: truncated at byte 89" ]]
  kymf_expect 1 '*' verify --json clash.kymf
  python3 -c 'import json,sys; d=json.loads(sys.argv[1]); f=d["findings"]; assert not d["ok"] and f[0]["name"]=="x" and f[0]["other"]==1' "$output"
  # Of names equal but for case, the last (the one a lookup finds), naming
  # the one it shadows; an entry beside a folder of its name fails alone.
  kymf_expect 0 '*kymf: dup.kymf: READ.ME: shadows Read.me (record 0); the last record of a name wins*' \
    extract dup.kymf -C out
  kymf_expect 1 '*' extract clash.kymf -C out
  [[ $(ls out) == $'READ.ME\nx' && $(cat out/READ.ME) == xx && -f out/x && -z $(files_outside) ]]
}

@test "verify of an archive claiming many damaged records shows the first 100 findings and a count; --all shows every one" {
  { printf KYMF; le32 50000; } > sparse.kymf
  truncate -s $((8 + 80 * 50000)) sparse.kymf
  run kymf verify sparse.kymf
  [[ $status -eq 1 && ${#lines[@]} -eq 101 ]]
  [[ ${lines[100]} =~ ^sparse\.kymf:\ ([0-9]+)\ more\ findings\ not\ shown\ \(--all\ shows\ every\ one\)$ ]]
  more=${BASH_REMATCH[1]}
  [ "$(kymf verify --all sparse.kymf | wc -l)" -eq $((more + 100)) ]
  run kymf verify --json sparse.kymf
  python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert len(d["findings"])==100 and d["findings_total"]==int(sys.argv[2])+100 and not d["ok"]' "$output" "$more"
}

# One line for one cause (where the pattern has no *), and no failing
# command may change the archive it names.
@test "each failure is named, with its exit code, and changes nothing" {
  kymf create t.kymf -C tree .
  cp t.kymf before.kymf
  head -c 300 "$MODULES/resources-x86_64.dll" > cut.dll
  kymf_rows <<'ROWS'
2|kymf: unknown command 'bogus' (kymf --help tells more)|bogus x
2|kymf: list needs an ARCHIVE, or --path (kymf --help tells more)|list
2|kymf: the following argument was not expected: --bogus (kymf --help tells more)|list t.kymf --bogus
2|*|add - tree/a.txt
2|*|delete - a.txt
2|*|rename - a.txt b
1|*kymf: nope: no such file*|create new.kymf tree nope
1|*kymf: nope: no such file*|add t.kymf tree/sub/b.bin nope
1|*A.TXT*|add t.kymf tree/sub/b.bin --as A.TXT
1|kymf: ../evil: name refused: has a ".." component|add t.kymf tree/sub/b.bin --as ../evil
1|kymf: /abs: name refused: is absolute|rename t.kymf a.txt /abs
1|kymf: xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx: name longer than 69 bytes|rename t.kymf a.txt xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx
1|*|rename t.kymf a.txt SUB/B.BIN
1|*nothing-here: no such entry*|delete t.kymf a.txt nothing-here
1|*kymf: t.kymf: nothing\*: no such entry*|list t.kymf nothing*
1|*missing.kymf: no such file*|list missing.kymf x
1|*missing.kymf: no such file*|cat missing.kymf x
1|*missing.kymf: no such file*|extract missing.kymf x
1|*missing.kymf: no such file*|verify missing.kymf
1|*missing.kymf: no such file*|add missing.kymf tree/a.txt
1|*missing.kymf: no such file*|delete missing.kymf x
1|*kymf: tree: is a folder*|list tree
1|*kymf: tree/a.txt: not a KYMF archive*|list tree/a.txt
1|kymf: /proc/nope: no such file|extract t.kymf -C /proc/nope
1|*kymf: cut.dll: *|resources cut.dll
1|*kymf: missing.dll: no such file*|resources missing.dll
1|*kymf: tree: is a folder*|resources tree
1|*kymf: tree/a.txt: not a Windows module*|resources tree/a.txt
ROWS
  cmp t.kymf before.kymf
  [ ! -e new.kymf ]
}

@test "resources lists, filters and extracts by type name, #ID or number" {
  cp "$MODULES/resources-x86_64.dll" m64.dll
  cp "$MODULES/resources-i686.dll" m32.dll
  kymf_rows <<'ROWS'
0|*\nRCDATA           ARCHIVE                     0x409        176\n*|resources m64.dll
0|TYPE             NAME                     LANGUAGE       SIZE\nRCDATA           LANGS1                      0x407          2\nRCDATA           LANGS2                      0x407          2\nRCDATA           LANGS3                      0x407          2\nRCDATA           LANGS4                      0x407          2|resources --lang 0x407 m64.dll
0||resources m32.dll ARCHIVE RCDATA -o by-name.kymf
0|a.txt\nb|list by-name.kymf
0||resources m32.dll ARCHIVE #10 -o by-id.kymf
0|a.txt\nb|list by-id.kymf
0||resources m32.dll ARCHIVE 10 -o by-number.kymf
0|a.txt\nb|list by-number.kymf
0|neutral|resources m64.dll LANGS1 RCDATA
0|de|resources m64.dll LANGS1 RCDATA --lang 0x407
0|us|resources m64.dll langs1 rcdata --lang 1033
1|kymf: m64.dll: LANGS1 (RCDATA), language 0x7: no such resource|resources m64.dll LANGS1 RCDATA --lang 0x7
1|kymf: by-id.kymf: already exists (--force replaces it, -k keeps it)|resources m32.dll LANGS1 RCDATA -o by-id.kymf
0||resources m32.dll LANGS1 RCDATA -o by-id.kymf -k
0|a.txt\nb|list by-id.kymf
0||resources m32.dll LANGS1 RCDATA --lang 0x409 -o by-id.kymf --force
ROWS
  [ "$(cat by-id.kymf)" = us ]
  run kymf resources --json m64.dll
  python3 -c 'import json,sys; d=json.loads(sys.argv[1]); assert any(r["name"]=="ARCHIVE" and r["type"]=="RCDATA" for r in d)' "$output"
  kymf resources --all -C out m64.dll
  [ "$(cat out/RCDATA/MYDATA)" = 0123456789 ]
  [ -z "$(files_outside)" ]
}
