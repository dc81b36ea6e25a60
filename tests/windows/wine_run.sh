#!/usr/bin/env bash
# A program started through wine-run ends for its caller when it ends, even
# when it starts the Wine server that outlives it: the server and its
# services keep none of the caller's descriptors. A caller that reads the
# program's output through a pipe ($(...), bats, ctest) would otherwise wait
# for them, minutes after the program is gone.
# Usage: wine_run.sh WINE_RUN WINESERVER PROGRAM [ARGS...]
set -euo pipefail
wine_run=$1 wineserver=$2
shift 2
# A prefix of its own, so that this run starts the server (and stopping it
# disturbs no other test).
folder=$(mktemp -d)
export WINEPREFIX="$folder/prefix"
trap '"$wineserver" -k >/dev/null 2>&1 || true; rm -rf "$folder"' EXIT
# Making the prefix takes Wine 20-60 s, and more on a loaded machine: it is
# made first, and its server stopped, so that the timed run below only
# starts the server (a second or two) and a held pipe (300 s) stands out.
"$wine_run" "$@" >/dev/null
"$wineserver" -k >/dev/null 2>&1 || true
# Descriptors 3 and 12 are copies of the pipe that $(...) reads to its end.
started=$SECONDS
if ! output=$("$wine_run" "$@" 3>&1 12>&1); then
  echo "FAIL: $* under $wine_run failed"
  exit 1
fi
if ((SECONDS - started > 60)); then
  echo "FAIL: the pipe of $* stayed open $((SECONDS - started)) s: the server holds it"
  exit 1
fi
echo "$output" | head -n 3
if ! "$wineserver" -k >/dev/null 2>&1; then
  echo "FAIL: no Wine server was left running: nothing was tested"
  exit 1
fi
