# Helpers of kymf.bats: the tool under test, and hostile archives built byte
# by byte (the tool itself never writes records by hand).
#
# Environment: KYMF (the built kymf), MODULES (the folder of the test DLLs),
# KYMF_PLATFORM ("windows" for a kymf.exe run under Wine, else POSIX).

kymf() { "$KYMF" "$@"; }

# Skips a case that only a POSIX system has (symbolic and hard links made by
# the host, /proc, FIFOs, permission bits) when kymf is the Windows program.
posix_only() {
  if [ "${KYMF_PLATFORM:-}" = windows ]; then
    skip "$1"
  fi
}

# kymf.exe ends its text lines in CR LF. `run` captures text to compare, so
# there the CRs are dropped; binary output is only ever redirected to files
# and keeps every byte.
if [ "${KYMF_PLATFORM:-}" = windows ]; then
  eval "bats_run_keeping_cr() $(declare -f run | tail -n +2)"
  run() {
    bats_run_keeping_cr "$@"
    local kept=$?
    output=${output//$'\r'/}
    lines=("${lines[@]//$'\r'/}")
    return "$kept"
  }
fi

# kymf_expect CODE PATTERN ARGUMENT...: runs kymf ARGUMENTS and checks its
# exit code and that its output matches the glob PATTERN.
kymf_expect() {
  local code=$1 pattern=$2
  shift 2
  run kymf "$@" < /dev/null
  [[ $status -eq $code && $output == $pattern ]]
}

# Runs each row of standard input, "CODE|PATTERN|ARGUMENTS", through
# kymf_expect, ARGUMENTS split at spaces and \n in PATTERN a line feed. Each
# row is echoed first, so a failure names it.
kymf_rows() {
  local code pattern command arguments
  while IFS='|' read -r code pattern command; do
    echo "kymf $command"
    read -ra arguments <<< "$command"
    kymf_expect "$code" "$(printf '%b' "$pattern")" "${arguments[@]}"
  done
}

# The four bytes of a little-endian 32-bit integer.
le32() {
  local v=$(( $1 & 0xFFFFFFFF ))
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $(((v >> 8) & 255)) \
    $(((v >> 16) & 255)) $(((v >> 24) & 255)))"
}

# raw_archive FILE DATA_BYTES [NAME START END]...: the header, the 80-byte
# records as given (NAME with printf %b escapes), then DATA_BYTES bytes of "x".
raw_archive() {
  local file=$1 bytes=$2
  shift 2
  {
    printf 'KYMF'
    le32 $(($# / 3))
    while [ $# -gt 0 ]; do
      { printf '%b' "$1"; head -c 72 /dev/zero; } | head -c 72
      le32 "$2"
      le32 "$3"
      shift 3
    done
    head -c "$bytes" /dev/zero | tr '\0' x
  } > "$file"
}

# packed_archive FILE NAME...: a well-laid-out archive, one byte "x" per entry.
packed_archive() {
  local file=$1 start=$((8 + 80 * ($# - 1))) records=() name
  shift
  for name in "$@"; do
    records+=("$name" "$start" "$start")
    start=$((start + 1))
  done
  raw_archive "$file" $# "${records[@]}"
}

# Every file below the test's folder outside out/ and the inputs (tree/,
# archives, modules): none may appear there from an extraction.
files_outside() {
  find . -path ./out -prune -o -path ./tree -prune -o -type f -newer "$BATS_TEST_TMPDIR/.start" \
    -print | grep -Ev '\.(kymf|dll)$' || true
}

# Waits until the shell text `condition` holds, evaluated afresh every 50 ms,
# for at most 20 seconds; fails if it never does. Used instead of a fixed
# sleep wherever a test waits for another process to reach a point.
eventually() {
  local turn
  for ((turn = 0; turn < 400; turn++)); do
    eval "$1" && return 0
    sleep 0.05
  done
  echo "never came true: $1" >&2
  return 1
}
