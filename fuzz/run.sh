#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (plus AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a while; CI runs each for
# 30 s. Exits non-zero when any target crashed, leaked, hung, ran out of
# memory or got a sanitizer report; the input is kept under
# build-fuzz/artifacts/TARGET/.
#   ./fuzz/run.sh [SECONDS]
#   FUZZ_SECONDS  run time per target (default 60; the argument wins)
#   FUZZ_TARGETS  which targets (default: all)
#   FUZZ_BUILD    build folder (default: build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets="base64_decode_fuzz decrypt_text_fuzz ini_reader_fuzz command_line_fuzz file_decrypt_fuzz rtf_reader_fuzz"
seconds=${1:-${FUZZ_SECONDS:-60}}
targets=${FUZZ_TARGETS:-$all_targets}
build=${FUZZ_BUILD:-build-fuzz}

# clang and its sanitizer and libFuzzer runtimes, which Debian and Ubuntu
# ship as libclang-rt-N-dev for clang N (older releases: in
# libclang-common-N-dev, which clang itself pulls in).
fuzzer_links() {
  local dir
  dir=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' > "$dir/t.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1
  local rc=$?
  rm -rf "$dir"
  return $rc
}
if ! command -v clang++ >/dev/null || ! fuzzer_links; then
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq clang
  major=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
  if apt-cache show "libclang-rt-$major-dev" >/dev/null 2>&1; then
    $sudo_cmd apt-get install -y -qq "libclang-rt-$major-dev"
  fi
  fuzzer_links || { echo "clang++ $major cannot link libFuzzer with ASan and UBSan" >&2; exit 1; }
fi
./scripts/setup-deps.sh

# Only the targets and the libraries they use; the desktop program is not
# configured (the RTF target compiles the reader itself).
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVANTILE_BUILD_TESTS=OFF -DMORVANTILE_BUILD_BENCH=OFF -DMORVANTILE_BUILD_DESKTOP=OFF \
  -DMORVANTILE_BUILD_FUZZ=ON >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" --target $targets

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for t in $targets; do
  name=${t%_fuzz}
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  args=(-max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$artifacts/")
  [ -f "fuzz/$name.dict" ] && args+=(-dict="fuzz/$name.dict")
  echo "== $t (${seconds}s)"
  rc=0
  "$build/fuzz/$t" "${args[@]}" "$corpus" "fuzz/seeds/$name" >"$log" 2>&1 || rc=$?
  # A sanitizer report that did not stop the run still fails it.
  if [ "$rc" -ne 0 ] || grep -qE '^SUMMARY: |ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
    failed+=("$t")
    grep -vE '^#[0-9]+' "$log" | tail -n 60
    echo "== $t FAILED (exit $rc); log: $log; input: $(ls -t "$artifacts" | head -n 1)"
  else
    grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|#[0-9]+[[:space:]]+DONE)' "$log"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "== fuzzing found a fault in: ${failed[*]}"
  exit 1
fi
echo "== no crash, leak, hang or sanitizer report"
