#!/usr/bin/env bash
# The modern face's example (examples/modern) lists an archive packed from the
# sample files and prints an entry found with its name in another case; a
# missing entry ends it with status 3 and the library's reason.
#   modern.sh MODERN KYMF SAMPLE WORK
set -euo pipefail
modern=$1 kymf=$2 sample=$3 work=$4

rm -rf "$work"
mkdir -p "$work"
archive="$work/sample.kymf"
"$kymf" create "$archive" -C "$sample" .

# One line per entry, in the archive's order, with its size.
expected_listing=""
while IFS= read -r name; do
  expected_listing+="$name ($(wc -c < "$sample/$name") bytes)"$'\n'
done < <("$kymf" list "$archive")
diff <("$modern" "$archive") <(printf '%s' "$expected_listing")
diff <("$modern" "$archive" TEXT/README.TXT) \
  <(printf '%s' "$expected_listing"; cat "$sample/text/readme.txt")

status=0
"$modern" "$archive" nope.txt > /dev/null 2> "$work/stderr" || status=$?
[ "$status" -eq 3 ] || { echo "a missing entry gave status $status, not 3" >&2; exit 1; }
diff "$work/stderr" <(printf 'modern: %s: nope.txt: no such entry\n' "$archive")
