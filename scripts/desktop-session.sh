#!/usr/bin/env bash
# Runs a command inside a throw-away X11 desktop: Xvfb, the openbox window
# manager and a trayer system tray, for end-to-end tests and screenshots.
#   desktop-session.sh COMMAND [ARGS...]
#   SESSION_SIZE  screen size (default 1280x800)
# The command sees DISPLAY; everything started here ends with it.
set -euo pipefail

size=${SESSION_SIZE:-1280x800}
display_number=$((90 + RANDOM % 400))
while [ -e "/tmp/.X11-unix/X$display_number" ] || [ -e "/tmp/.X$display_number-lock" ]; do
  display_number=$((display_number + 1))
done
export DISPLAY=":$display_number"
# GTK programs would otherwise start a settings service of their own.
export GSETTINGS_BACKEND=memory
export NO_AT_BRIDGE=1

pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
trayer --edge top --align right --widthtype request --height 28 --tint 0x303030 --transparent true \
  --alpha 0 --expand true --SetDockType true >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

"$@"
