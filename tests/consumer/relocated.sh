#!/usr/bin/env bash
# The installed package moved to another folder still works: a program built
# through pkg-config finds the headers and library where the package now lies,
# and the installed kymf starts without any library path set. A static
# package (libRXMFiles.a) is linked with what pkg-config --static names.
#   relocated.sh PREFIX WORK CXX [CXXFLAGS...]
set -euo pipefail
prefix=$1 work=$2 cxx=$3
shift 3
source_dir="$(cd "$(dirname "$0")" && pwd)"

rm -rf "$work"
mkdir -p "$work"
cp -a "$prefix" "$work/moved"
moved="$work/moved"

pc=$(find "$moved" -name rxmfiles.pc -print -quit)
[ -n "$pc" ] || { echo "no rxmfiles.pc under $moved" >&2; exit 1; }
export PKG_CONFIG_LIBDIR="$(dirname "$pc")" PKG_CONFIG_PATH=
libdir=$(pkg-config --variable=libdir rxmfiles)
static=()
[ -e "$libdir/libRXMFiles.a" ] && static=(--static)
cflags=$(pkg-config "${static[@]}" --cflags rxmfiles)
libs=$(pkg-config "${static[@]}" --libs rxmfiles)
includedir=$(pkg-config --variable=includedir rxmfiles)
for folder in "$includedir" "$libdir"; do
  case "$(realpath "$folder")/" in
    "$(realpath "$moved")"/*) ;;
    *) echo "rxmfiles.pc names $folder, outside the moved package $moved" >&2; exit 1 ;;
  esac
done
# The headers need C++17, which pkg-config leaves to the program (README).
# shellcheck disable=SC2086  # the flags are words
"$cxx" -std=c++17 "$@" $cflags "$source_dir/main.cpp" "$source_dir/modern.cpp" -o "$work/consumer" $libs "-Wl,-rpath,$libdir"
(cd "$work" && unset LD_LIBRARY_PATH && ./consumer consumer.dat)

unset LD_LIBRARY_PATH
"$moved/bin/kymf" --version
