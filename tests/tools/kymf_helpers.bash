# Helpers of kymf.bats: the tool under test, and hostile archives built byte
# by byte (the tool itself never writes records by hand).
#
# Environment: KYMF (the built kymf), MODULES (the folder of the test DLLs).

kymf() { "$KYMF" "$@"; }

# The four bytes of a little-endian 32-bit integer.
le32() {
  local v=$(( $1 & 0xFFFFFFFF ))
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $(((v >> 8) & 255)) \
    $(((v >> 16) & 255)) $(((v >> 24) & 255)))"
}

# One 80-byte record: NAME (printf %b escapes allowed), dataStart, dataEnd.
record() {
  { printf '%b' "$1"; head -c 72 /dev/zero; } | head -c 72
  le32 "$2"
  le32 "$3"
}

# raw_archive FILE DATA_BYTES [NAME START END]...: the header, the records as
# given, then DATA_BYTES bytes of "x".
raw_archive() {
  local file=$1 bytes=$2
  shift 2
  {
    printf 'KYMF'
    le32 $(($# / 3))
    while [ $# -gt 0 ]; do
      record "$1" "$2" "$3"
      shift 3
    done
    head -c "$bytes" /dev/zero | tr '\0' x
  } > "$file"
}

# packed_archive FILE NAME...: a well-laid-out archive, one byte "X" per entry.
packed_archive() {
  local file=$1
  shift
  local start=$((8 + 80 * $#)) i=0
  {
    printf 'KYMF'
    le32 $#
    for name in "$@"; do
      record "$name" $((start + i)) $((start + i))
      i=$((i + 1))
    done
    head -c $# /dev/zero | tr '\0' X
  } > "$file"
}

# Every file below the test's folder outside out/ and the inputs: none may
# appear there from an extraction.
files_outside() {
  find . -path ./out -prune -o -path ./tree -prune -o -type f -newer "$BATS_TEST_TMPDIR/.start" \
    -print | grep -v '\.kymf$' || true
}
