#!/usr/bin/env bash
# Idle cost of the tray program: resident memory once the splash has gone,
# and CPU time over a minute of doing nothing, in a throw-away X11 desktop.
#   bench/idle.sh [BUILD_DIR]     (default: build)
#   IDLE_SECONDS  length of the idle period (default 60)
#   IDLE_ARGS     arguments for the program, e.g. nosplash
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
program="$PWD/$build_dir/src/shell/morvantile"
[ -x "$program" ] || { echo "no $program; build the target morvantile first" >&2; exit 2; }

measure() {
  local home
  home=$(mktemp -d)
  mkdir -m 700 "$home/run"
  XDG_CONFIG_HOME="$home" XDG_RUNTIME_DIR="$home/run" "$program" ${IDLE_ARGS:-} >/dev/null 2>&1 &
  local pid=$!
  sleep 8  # start-up and the five-second splash
  local hz ticks0 ticks1 seconds=${IDLE_SECONDS:-60}
  hz=$(getconf CLK_TCK)
  awk '/^VmRSS/{r=$2} /^RssAnon/{a=$2} /^RssFile/{f=$2}
       END{printf "resident after start: %.1f MiB (own heap and data %.1f MiB, pages of libraries and fonts %.1f MiB)\n",
           r/1024, a/1024, f/1024}' "/proc/$pid/status"
  awk '/^Pss:/{p+=$2} END{printf "proportional share: %.1f MiB\n", p/1024}' "/proc/$pid/smaps"
  ticks0=$(awk '{print $14+$15}' "/proc/$pid/stat")
  sleep "$seconds"
  ticks1=$(awk '{print $14+$15}' "/proc/$pid/stat")
  awk -v t=$((ticks1 - ticks0)) -v hz="$hz" -v s="$seconds" \
    'BEGIN{printf "CPU over %d s idle: %.2f s (%.3f %%)\n", s, t/hz, 100*t/hz/s}'
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  rm -rf "$home"
}
export -f measure
export program
exec ./scripts/desktop-session.sh bash -c measure
