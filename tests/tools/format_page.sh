#!/usr/bin/env bash
# docs/format.md stays true: the commands of its worked example (the "$ "
# lines of the block after the "worked-example" marker) are run again in an
# empty folder, kymf standing for the built tool, and what they print must be
# exactly the block's other lines.
#   format_page.sh KYMF PAGE
set -euo pipefail
kymf_binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") page=$2

block=$(awk '/<!-- worked-example -->/ { armed = 1; next }
             armed && /^```/ { if (inside) exit; inside = 1; next }
             inside { print }' "$page")
[ -n "$block" ] || { echo "$page: no worked example after <!-- worked-example -->" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
commands="$work/commands.sh"
{
  echo 'kymf() { "$KYMF_BINARY" "$@"; }'
  echo 'cd "$WORK"'
  sed -n 's/^\$ //p' <<<"$block"
} >"$commands"
mkdir "$work/folder"
actual=$(KYMF_BINARY=$kymf_binary WORK=$work/folder bash -euo pipefail "$commands")
expected=$(grep -v '^\$ ' <<<"$block")
if [ "$actual" != "$expected" ]; then
  echo "$page: the worked example prints otherwise now:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
