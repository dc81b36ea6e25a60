#!/usr/bin/env bats
# kymf's reading commands on http(s) URLs of the local test servers: the same
# output, byte for byte, as for the archive on disk. Run by ctest with KYMF
# and SERVERS (the folder of tests/remote/servers.py) set.

load kymf_helpers

setup() {
  export no_proxy='*'
  field() { sed -E "s/.*\"$1\": \"?([^\",}]*).*/\1/" "$SERVERS/servers.json"; }
  www=$(field www)
  https="https://127.0.0.1:$(field https)"
  cacert=$(field ca)
  # WinHTTP adds no CA file (docs/windows.md): kymf.exe reads over HTTP.
  trusted=("--cacert" "$cacert")
  base=$https
  if [ "${KYMF_PLATFORM:-}" = windows ]; then
    trusted=()
    base="http://127.0.0.1:$(field http)"
  fi
  cd "$BATS_TEST_TMPDIR"
  mkdir -p in/levels in/sounds
  printf 'level one' > in/levels/1.map
  head -c 3000000 /dev/urandom > in/sounds/big.wav
  name="kymf-remote-$$-$RANDOM.kymf"
  (cd in && kymf -q create "$www/$name" .)
  url="$base/$name"
}

@test "list, cat, extract and verify of a URL say what they say of the file" {
  for command in "list -l" "list --json" "verify" "verify --json" "cat" "extract -C out"; do
    read -ra words <<< "$command"
    rm -rf out && mkdir out
    kymf "${words[@]}" "$www/$name" levels/1.map sounds/big.wav > disk.out 2> disk.err || true
    [ "${words[0]}" = extract ] && mv out disk-tree && mkdir out
    kymf "${words[@]}" "${trusted[@]}" "$url" levels/1.map sounds/big.wav > url.out 2> url.err ||
      true
    sed "s#$url#ARCHIVE#g" url.out > url.cut
    sed "s#$www/$name#ARCHIVE#g" disk.out > disk.cut
    echo "kymf $command"
    cmp disk.cut url.cut
    [ "${words[0]}" != extract ] || diff -r disk-tree out
    rm -rf disk-tree
  done
}

@test "--path takes a URL; failures name the URL with its credentials hidden" {
  run kymf cat "${trusted[@]}" --path "$url" levels/1.map
  [ "$status" -eq 0 ] && [ "$output" = "level one" ]
  run kymf list "${trusted[@]}" "${base/:\/\//://user:pw-secret@}/missing.kymf"
  [ "$status" -eq 1 ]
  [[ $output == *"://***@127.0.0.1:"*"/missing.kymf: not found on the server"* ]]
  [[ $output != *pw-secret* ]]
  run kymf list "$https/$name"
  [ "$status" -eq 1 ] && [[ $output == *"secure connection failed"* ]]
  run kymf list "${trusted[@]}" --path "$base/missing.kymf"
  [ "$status" -eq 1 ] && [[ $output == *"/missing.kymf: not found on the server"* ]]
  run kymf list --header "X-Other: 1" "$url"
  [ "$status" -eq 2 ]
}
