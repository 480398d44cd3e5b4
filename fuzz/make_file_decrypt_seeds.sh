#!/usr/bin/env bash
# Makes the seeds of file_decrypt_fuzz: real encrypted files, password
# "fuzz", each after the byte from which the target picks the file's suite
# (algorithm + 9 * hash + 54 * mode).
#   ./fuzz/make_file_decrypt_seeds.sh [path of morvantile-cli]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$(realpath "${1:-build/src/cli/morvantile-cli}")
out=fuzz/seeds/file_decrypt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MORVANTILE_PASSWORD=fuzz

: > "$work/empty"
printf 'Hello, world\n' > "$work/hello"
for i in $(seq 1 40); do printf 'Line %d of a note that repeats itself.\n' "$i"; done > "$work/note"
# Bytes that hardly compress, the same every time.
for i in $(seq 0 299); do printf "\\$(printf '%03o' $(((i * 167 + i * i * 13 + 41) % 256)))"; done > "$work/random"
printf 'caf\xc3\xa9 \xe2\x82\xac \x00\x01\x02\xff\r\n%.0s' $(seq 1 30) > "$work/mixed"

# name  plaintext  algorithm hash mode
seeds=(
  "rijndael_md5_cbc hello 4 0 0"
  "blowfish_sha256_cfb8 note 0 3 1"
  "idea_ripemd160_cfb empty 7 1 2"
  "3des_tiger_ofb random 8 5 3"
  "twofish_sha256_ctr note 6 3 4"
  "mars_sha1_cbc mixed 2 2 0"
  "serpent_sha512_cbc hello 5 4 0"
  "rc6_tiger_cfb mixed 3 5 2"
  "cast256_ripemd160_ofb random 1 1 3"
)
for s in "${seeds[@]}"; do
  read -r name plain a h m <<<"$s"
  "$cli" encrypt-file --suite "$a,$h,$m" "$work/$plain" "$work/$name.enc"
  printf "\\$(printf '%03o' $((a + 9 * h + 54 * m)))" > "$out/$name.bin"
  cat "$work/$name.enc" >> "$out/$name.bin"
done
# Bytes after the end of the compressed stream are no part of the file (in a
# mode without a partial last block to be decrypted differently).
cp "$out/twofish_sha256_ctr.bin" "$out/twofish_sha256_ctr_trailing.bin"
printf 'trailing bytes' >> "$out/twofish_sha256_ctr_trailing.bin"
ls -l "$out"
