#!/usr/bin/env bash
# One archive from three builds: kymf of the Linux build and kymf.exe of the
# 64- and 32-bit Windows builds (each under its build's wine-run) make the
# same archives from the same files, byte for byte, with the same sums file
# beside them, and each reads what the others wrote (list, extract, verify
# against the sums, compare with the originals).
#   same_bytes.sh LINUX_KYMF WINDOWS_X86_64_BUILD WINDOWS_I686_BUILD
# Exits 77 (skipped) when a build is missing, 1 when anything differs.
set -u
# Absolute, since the work happens in a folder of its own.
linux_kymf=$(realpath -m "$1")
x86_64=$(realpath -m "$2")
i686=$(realpath -m "$3")
declare -A tool=([linux]="$linux_kymf"
                 [x86_64]="$x86_64/wine-run $x86_64/bin/kymf.exe"
                 [i686]="$i686/wine-run $i686/bin/kymf.exe")
# A Windows build made on a host that cannot run its programs (no wine-run:
# wine32 where 32-bit programs cannot start) is left out, saying so; the test
# is skipped only when fewer than two builds can take part.
builds=()
for build in linux x86_64 i686; do
  program=${tool[$build]##* }
  wrapper=${tool[$build]%% *}
  if [ ! -x "$program" ]; then
    echo "skipped: the $build build has no $program (build it and Wine first)"
    exit 77
  elif [ ! -x "$wrapper" ]; then
    echo "left out: the $build build, which this host cannot run (no $wrapper)"
  else
    builds+=("$build")
  fi
done
if [ ${#builds[@]} -lt 2 ]; then
  echo "skipped: fewer than two builds can run here"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
kymf() {  # kymf BUILD ARGS...: the build's kymf, output kept in BUILD.out
  local build=$1
  shift
  # shellcheck disable=SC2086  # the tool is a wrapper and a program
  if ! ${tool[$build]} "$@" >"$build.out" 2>&1; then
    fail "$build: kymf $*"
    sed 's/\r$//' "$build.out"
    return 1
  fi
  sed -i 's/\r$//' "$build.out"
}

# The inputs: a folder (packed by walking it) with names in subfolders, sizes
# from 1 byte to past 64 KiB and binary bytes, and two files added later.
mkdir -p in/text in/levels/deep more
printf 'a' >in/one.txt
printf 'settings=1\r\nname=x\r\n' >in/Settings.INI
head -c 4096 /dev/urandom >in/levels/level1.map
head -c 70001 /dev/urandom >in/levels/deep/big.bin
printf 'credits\n' >in/text/credits.txt
head -c 300 /dev/urandom >more/extra.dat
head -c 17 /dev/urandom >more/later.dat

# What every archive holds at the end, as files.
mkdir -p expected/later
cp -r in/. expected
cp more/later.dat expected/later/renamed.dat

for build in "${builds[@]}"; do
  mkdir -p "$build"
  kymf "$build" create --sums "$build/made.kymf" -C in .
  kymf "$build" add "$build/made.kymf" more/extra.dat
  kymf "$build" add "$build/made.kymf" more/later.dat --as later/renamed.dat
  kymf "$build" delete "$build/made.kymf" extra.dat
  kymf "$build" list -l "$build/made.kymf" && cp "$build.out" "$build/list.txt"
done
for build in "${builds[@]}"; do
  [ "$build" = linux ] && continue
  cmp "linux/made.kymf" "$build/made.kymf" || fail "the $build archive differs from Linux's"
  cmp "linux/list.txt" "$build/list.txt" || fail "the $build listing differs from Linux's"
  cmp "linux/made.kymf.sha256" "$build/made.kymf.sha256" ||
    fail "the $build sums file differs from Linux's"
done

# Every build reads every build's archive: the listing and the extracted files
# are the same as the Linux build's own, and the files are the originals.
for reader in "${builds[@]}"; do
  for writer in "${builds[@]}"; do
    out="read-$reader-$writer"
    kymf "$reader" list -l "$writer/made.kymf" || continue
    cmp -s "$reader.out" linux/list.txt || fail "$reader lists $writer's archive differently"
    mkdir -p "$out"  # kymf extract -C wants a folder that exists
    kymf "$reader" verify "$writer/made.kymf" || continue
    grep -q "every one's bytes match its sum" "$reader.out" ||
      fail "$reader does not check $writer's sums"
    kymf "$reader" extract "$writer/made.kymf" -C "$out" || continue
    diff -r expected "$out" || fail "$reader extracted $writer's archive differently"
  done
done

if [ "$failures" -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "one archive from the ${builds[*]} builds: the same bytes, and each reads the others'"
