#!/usr/bin/env bash
# The files that the README's kymf examples name, made in the scratch folder
# before its blocks run: a game's assets (with an entry named by the bytes
# "caf\xe9"), files to add, a base and a patch archive for --path, an empty
# out/ to extract into, and a Windows module with resources.
set -euo pipefail
mkdir -p assets/levels assets/text more out mnt
printf 'dragon lair\n' > assets/levels/1.map
printf 'castle\n' > assets/levels/2.map
printf 'scratch\n' > assets/levels/2.tmp
printf 'Welcome.\n' > assets/text/intro.txt
printf 'accent\n' > "assets/$(printf 'caf\351')"
printf 'Read me.\n' > readme.txt
printf 'new\n' > new.txt
printf 'more\n' > more/m.txt
printf 'second\n' > v2.txt
mkdir -p base/levels patch/levels
printf 'base level\n' > base/levels/level1.map
printf 'patched level\n' > patch/levels/level1.map
kymf create -q base.kymf -C base .
kymf create -q patch.kymf -C patch .
cp "$MODULES/resources-x86_64.dll" module.dll
