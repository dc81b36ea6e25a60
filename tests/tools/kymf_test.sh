#!/usr/bin/env bash
# End-to-end tests of the kymf tool: every command against the built binary,
# in a temporary folder. Usage: kymf_test.sh [EMULATOR] KYMF MODULE_DIR
# (EMULATOR runs a Windows kymf.exe, whose output lines end in CR LF).
set -u
kymf=("${@:1:$#-1}")
modules=${!#}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0

check() {  # check DESCRIPTION EXPECTED_EXIT COMMAND...
  local description=$1 expected=$2
  shift 2
  "$@" >out.txt 2>err.txt
  local status=$?
  # Text from a Windows program ends its lines in CR LF; KEEP_CR=1 keeps bytes.
  [ -n "${KEEP_CR:-}" ] || sed -i 's/\r$//' out.txt err.txt
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL: $description: exit $status, expected $expected"; cat out.txt err.txt
    failures=$((failures + 1))
  fi
}
expect() {  # expect DESCRIPTION CONDITION...
  if ! eval "$2"; then
    echo "FAIL: $1"; failures=$((failures + 1))
  fi
}

mkdir -p tree/sub
printf 'abc' > tree/a.txt
printf '12345' > tree/sub/b.bin
head -c 70000 /dev/urandom > tree/sub/random.dat

check "help" 0 "${kymf[@]}" --help
expect "help names the commands" "grep -q extract out.txt && grep -q verify out.txt"
check "version" 0 "${kymf[@]}" --version
check "usage error" 2 "${kymf[@]}" frobnicate
check "missing argument" 2 "${kymf[@]}" list

check "create" 0 "${kymf[@]}" create t.kymf tree
check "list" 0 "${kymf[@]}" list t.kymf
expect "list names" "[ \"\$(cat out.txt)\" = \"\$(printf 'a.txt\nsub/b.bin\nsub/random.dat')\" ]"
check "list -l" 0 "${kymf[@]}" list -l t.kymf
expect "list -l offsets" "grep -Eq '^ +3 +248 +250  a.txt$' out.txt"
check "list --json" 0 "${kymf[@]}" list --json t.kymf
expect "json parses" "/usr/bin/python3 -c 'import json,sys; d=json.load(open(\"out.txt\")); sys.exit(0 if [e[\"name\"] for e in d]==[\"a.txt\",\"sub/b.bin\",\"sub/random.dat\"] and d[0][\"size\"]==3 else 1)'"
check "verify clean" 0 "${kymf[@]}" verify t.kymf

# create and add (one file through InsertFile, several in one pass) give the
# same bytes as each other.
check "create in one pass" 0 "${kymf[@]}" create all.kymf tree/a.txt tree/sub/b.bin tree/sub/random.dat
check "create one" 0 "${kymf[@]}" create one.kymf tree/a.txt
check "add one" 0 "${kymf[@]}" add one.kymf tree/sub/b.bin
check "add one more" 0 "${kymf[@]}" add one.kymf tree/sub/random.dat
check "create another" 0 "${kymf[@]}" create many.kymf tree/a.txt
check "add several" 0 "${kymf[@]}" add many.kymf tree/sub/b.bin tree/sub/random.dat
expect "same bytes every way" "cmp -s all.kymf one.kymf && cmp -s all.kymf many.kymf"

check "add" 0 "${kymf[@]}" add t.kymf tree/a.txt --as copy/a.txt
check "add existing name" 1 "${kymf[@]}" add t.kymf tree/a.txt --as COPY/A.TXT
expect "duplicate is named" "grep -q 'already exists' err.txt"
KEEP_CR=1 check "cat" 0 "${kymf[@]}" cat t.kymf SUB/RANDOM.DAT
expect "cat is binary-safe" "cmp -s out.txt tree/sub/random.dat"
check "cat missing" 1 "${kymf[@]}" cat t.kymf nothing

check "extract all" 0 "${kymf[@]}" extract t.kymf -C x
expect "extracted files match" "cmp -s x/a.txt tree/a.txt && cmp -s x/sub/random.dat tree/sub/random.dat && cmp -s x/copy/a.txt tree/a.txt"
check "no overwrite" 1 "${kymf[@]}" extract t.kymf a.txt -C x
expect "says why" "grep -q -- '--force' err.txt"
check "overwrite with --force" 0 "${kymf[@]}" extract t.kymf a.txt -C x --force

check "not an archive" 1 "${kymf[@]}" list tree/a.txt
expect "message names the file" "grep -q 'kymf: tree/a.txt: not a KYMF archive' err.txt"

# Hostile entry names are refused and nothing is written outside -C.
/usr/bin/python3 - <<'PY'
import struct
names = [b"../evil", b"/abs", b"C:\\x", b"a/../../b", b"..\\x", b"fine.txt"]
count = len(names)
data_start = 8 + 80 * count
records, data = b"", b""
for i, name in enumerate(names):
    start = data_start + i
    records += name.ljust(70, b"\0") + b"\0\0" + struct.pack("<ii", start, start)
    data += b"X"
open("evil.kymf", "wb").write(b"KYMF" + struct.pack("<i", count) + records + data)
PY
mkdir -p safe/inner
check "hostile names" 1 "${kymf[@]}" extract evil.kymf -C safe/inner
expect "safe entry extracted" "[ -f safe/inner/fine.txt ]"
expect "nothing outside" "[ \"\$(find safe -type f)\" = safe/inner/fine.txt ] && [ ! -e evil ] && [ ! -e /abs ] && [ ! -e b ]"
expect "each refusal reported" "[ \$(grep -c 'refused' err.txt) -eq 5 ]"

# verify finds what a reader relies on.
/usr/bin/python3 - <<'PY'
import struct
def archive(records, data=b"", count=None):
    body = b"".join(n.ljust(70, b"\0") + b"\0\0" + struct.pack("<ii", s, e) for n, s, e in records)
    return b"KYMF" + struct.pack("<i", len(records) if count is None else count) + body + data
open("gap.kymf", "wb").write(archive([(b"a", 88 + 80, 88 + 81), (b"b", 88 + 85, 88 + 85)], b"x" * 10))
open("dup.kymf", "wb").write(archive([(b"Read.me", 168, 168), (b"READ.ME", 169, 169)], b"xy"))
open("neg.kymf", "wb").write(archive([(b"n", 88, 50)]))
open("past.kymf", "wb").write(archive([(b"p", 88, 5000)], b"x"))
open("count.kymf", "wb").write(archive([], count=1000))
PY
check "verify gap" 1 "${kymf[@]}" verify gap.kymf
expect "gap found" "grep -q 'expected' out.txt"
check "verify collision" 1 "${kymf[@]}" verify dup.kymf
expect "collision found" "grep -q 'collides' out.txt"
check "verify negative size" 1 "${kymf[@]}" verify neg.kymf
expect "negative found" "grep -q 'negative size' out.txt"
check "verify past end" 1 "${kymf[@]}" verify past.kymf
expect "outside found" "grep -q 'outside the file' out.txt"
check "verify count" 1 "${kymf[@]}" verify count.kymf
expect "count found" "grep -q 'entryCount 1000' out.txt"

# Module resources.
check "resources list" 0 "${kymf[@]}" resources "$modules/resources-x86_64.dll"
expect "lists the archive resource" "grep -Eq '^#10 +ARCHIVE +0x409 +176$' out.txt"
check "resources extract" 0 "${kymf[@]}" resources "$modules/resources-i686.dll" ARCHIVE '#10' -o archive.kymf
check "extracted resource is an archive" 0 "${kymf[@]}" list archive.kymf
expect "with its two entries" "[ \"\$(cat out.txt)\" = \"\$(printf 'a.txt\nb')\" ]"
check "missing resource" 1 "${kymf[@]}" resources "$modules/resources-i686.dll" NOPE '#10'
check "not a module" 1 "${kymf[@]}" resources tree/a.txt

# A module whose two types share one name directory: our reader lists the
# resource once; Windows would walk it once per type, so there the listing is
# refused with a message.
/usr/bin/python3 - <<'PY'
import struct
def directory(entries):
    return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(entries)) + b"".join(
        struct.pack("<II", i, t) for i, t in entries)
names, languages, data = 32, 56, 80
tree = (directory([(10, 0x80000000 | names), (11, 0x80000000 | names)]) +
        directory([(1, 0x80000000 | languages)]) + directory([(0, data)]) +
        struct.pack("<IIII", 0x1000 + 96, 4, 0, 0) + b"data")
section = tree.ljust(0x200, b"\0")
optional = bytearray(224)
struct.pack_into("<H", optional, 0, 0x10B)
struct.pack_into("<IIIHHHHHHIIIHH", optional, 28, 0x10000000, 0x1000, 0x200, 4, 0, 0, 0, 4, 0,
                 0, 0x2000, 0x200, 0, 2)
struct.pack_into("<I", optional, 92, 16)
struct.pack_into("<II", optional, 96 + 16, 0x1000, len(tree))
header = (b"MZ".ljust(0x3C, b"\0") + struct.pack("<I", 0x40) + b"PE\0\0" +
          struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 224, 0x2102) + bytes(optional) +
          struct.pack("<8sIIIIIIHHI", b".rsrc", len(tree), 0x1000, 0x200, 0x200, 0, 0, 0, 0,
                      0x40000040))
open("shared.dll", "wb").write(header.ljust(0x200, b"\0") + section)
PY
if [ ${#kymf[@]} -gt 1 ]; then  # a Windows kymf.exe
  check "shared directories refused" 1 "${kymf[@]}" resources shared.dll
  expect "says why" "grep -q 'resource tree leads outside the module' err.txt"
else
  check "shared directories listed once" 0 "${kymf[@]}" resources shared.dll
  expect "one resource" "[ \$(grep -c '^#1[01] ' out.txt) -eq 1 ]"
fi
check "a resource under shared directories" 0 "${kymf[@]}" resources shared.dll '#1' '#11' -o shared.bin
expect "is read" "[ \"\$(cat shared.bin)\" = data ]"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all kymf checks passed"
