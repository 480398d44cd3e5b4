#!/usr/bin/env bash
# Installs the dependencies, builds the desktop program and starts it.
# Arguments are passed to morvantile (e.g. nosplash, config=FILENAME).
#   BUILD_DIR   build folder (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup-deps.sh

build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" --target morvantile -j"$(nproc)"
exec "$build_dir/src/shell/morvantile" "$@"
