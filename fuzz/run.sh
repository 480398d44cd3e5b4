#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (plus AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a while. Not part of CI.
#   FUZZ_SECONDS  run time per target (default 60)
#   FUZZ_TARGETS  which targets (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."

if ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || ! command -v clang++ >/dev/null; then
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq clang libclang-rt-14-dev
fi
./scripts/setup-deps.sh

seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"base64_decode_fuzz decrypt_text_fuzz ini_reader_fuzz command_line_fuzz"}
build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVANTILE_BUILD_TESTS=OFF -DMORVANTILE_BUILD_BENCH=OFF -DMORVANTILE_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" --target $targets

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in $targets; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  echo "== $t (${seconds}s)"
  "$build/fuzz/$t" -max_total_time="$seconds" -max_len=16384 -timeout=10 -print_final_stats=1 \
    "$corpus" fuzz/seeds/"${t%_fuzz}" 2>&1 | tail -n 12
done
echo "== no crash, leak or sanitizer report"
