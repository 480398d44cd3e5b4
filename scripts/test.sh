#!/usr/bin/env bash
# Installs the dependencies, builds Morvantile and runs every test.
#   BUILD_DIR   build folder (default: build)
#   SANITIZE=1  AddressSanitizer + UndefinedBehaviorSanitizer build
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup-deps.sh

build_dir=${BUILD_DIR:-build}
cmake_args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANTILE_BUILD_TESTS=ON)
if [ "${SANITIZE:-0}" = 1 ]; then
  cmake_args+=(-DMORVANTILE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi

cmake -S . -B "$build_dir" "${cmake_args[@]}"
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --no-tests=error --output-on-failure -j"$(nproc)" "$@"
