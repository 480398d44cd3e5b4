#!/usr/bin/env bash
# Runs a command inside a throw-away Wayland desktop: a headless sway (a
# wlroots compositor) with one 1280x800 output, for end-to-end tests.
#   wayland-session.sh [--morvantile BIN] [--tray] COMMAND [ARGS...]
#   --morvantile BIN  the program the compositor's key bindings start:
#                     Ctrl+Shift+F12 runs `BIN encrypt`, Ctrl+Shift+F11
#                     `BIN decrypt`
#   --tray            a swaybar with a system tray at the top, and a session
#                     bus of the session's own for it (else there is no tray)
#   E2E_USER          the unprivileged user it runs as (default morvantile-e2e)
#   SWAY_DEBUG=1      sway logs in detail (to SWAY_LOG)
#
# sway refuses to run as root, so as root the script makes that user once
# and runs sway and the command as it, with a private XDG_RUNTIME_DIR and
# HOME. An argument naming a file that user cannot read is copied to a
# folder it can and passed as the copy (the build tree may be in a folder
# of root's); relative paths are made absolute. The command sees
# WAYLAND_DISPLAY, SWAYSOCK, XDG_RUNTIME_DIR, HOME and SWAY_LOG (what the
# compositor and the programs it started print); everything started here
# ends with it.
# Exit status: the command's, or 77 when this machine cannot run sway.
set -euo pipefail

morvantile=""
tray=0
while [ $# -gt 0 ]; do
  case $1 in
    --morvantile) morvantile=$2; shift 2 ;;
    --tray) tray=1; shift ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--morvantile BIN] [--tray] COMMAND [ARGS...]" >&2; exit 2; }

skip() { echo "SKIPPED: $*" >&2; exit 77; }
command -v sway >/dev/null || skip "sway is not installed (scripts/setup-deps.sh)"

user=${E2E_USER:-morvantile-e2e}
as_user=()
[ "$(id -u)" -eq 0 ] || user=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  if ! id -u "$user" >/dev/null 2>&1; then
    useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" 2>/dev/null ||
      id -u "$user" >/dev/null 2>&1 || skip "cannot create the user $user"
  fi
  as_user=(runuser -u "$user" --)
fi

session=$(mktemp -d /tmp/morvantile-wlsession-XXXXXX)
chmod 0755 "$session"
runtime="$session/run"
home="$session/home"
stage="$session/bin"
mkdir -m 0700 "$runtime" "$home"
mkdir -m 0755 "$stage"
if [ ${#as_user[@]} -gt 0 ]; then chown "$user:" "$runtime" "$home"; fi

sway_pid=""
cleanup() {
  if [ -n "$sway_pid" ]; then
    kill "$sway_pid" 2>/dev/null || true
    wait "$sway_pid" 2>/dev/null || true
  fi
  # What the session started and outlived the compositor: the processes
  # whose environment names this session's run-time folder.
  local f p
  for f in $(grep -lzx "XDG_RUNTIME_DIR=$runtime" /proc/[0-9]*/environ 2>/dev/null); do
    p=${f#/proc/}
    kill -KILL "${p%/environ}" 2>/dev/null || true
  done
  rm -rf "$session"
}
trap cleanup EXIT
# A test runner's timeout or ^C ends the session too.
trap 'exit 143' TERM INT HUP

# A file the user cannot read (or run, if it is a program) goes in as a copy.
reachable() {
  local f=$1
  if [ -x "$f" ]; then "${as_user[@]}" test -r "$f" -a -x "$f"; else "${as_user[@]}" test -r "$f"; fi
}
staged() {
  local f=$1
  # The command runs in the session's folder: a relative path is made whole.
  if [[ $f == */* && -e $f ]]; then f=$(realpath "$f"); fi
  if [ ${#as_user[@]} -eq 0 ] || [ ! -f "$f" ] || reachable "$f"; then
    printf '%s' "$f"
    return
  fi
  local copy
  copy="$stage/$(printf '%s' "$f" | md5sum | cut -c1-8)-$(basename "$f")"
  cp "$f" "$copy"
  chmod a+r "$copy"
  printf '%s' "$copy"
}
args=()
for a in "$@"; do args+=("$(staged "$a")"); done
if [ -n "$morvantile" ]; then morvantile=$(staged "$morvantile"); fi

config="$session/sway.conf"
{
  echo "output HEADLESS-1 resolution 1280x800"
  echo "xwayland disable"
  echo "default_border normal"
  if [ "$tray" = 1 ]; then
    printf 'bar {\n  position top\n  tray_output *\n}\n'
  fi
  if [ -n "$morvantile" ]; then
    echo "bindsym Ctrl+Shift+F12 exec $morvantile encrypt"
    echo "bindsym Ctrl+Shift+F11 exec $morvantile decrypt"
  fi
} >"$config"
chmod a+r "$config"

# One environment for sway and the command: nothing of the caller's own
# desktop, and no X11 to fall back on.
env_args=(env -i "PATH=$PATH" "HOME=$home" "USER=$user" "LOGNAME=$user" "LANG=C.UTF-8" "LC_ALL=C.UTF-8"
  "XDG_RUNTIME_DIR=$runtime" "XDG_CONFIG_HOME=$home/.config" "XDG_SESSION_TYPE=wayland"
  "GSETTINGS_BACKEND=memory" "NO_AT_BRIDGE=1" "GTK_A11Y=none")
for v in CI MORVANTILE_BACKEND ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS E2E_KEEP; do
  if [ -n "${!v:-}" ]; then env_args+=("$v=${!v}"); fi
done

cd "$session"
sway_log="$session/sway.log"
if [ "$tray" = 1 ]; then
  # The tray's items and host meet on the session bus.
  command -v dbus-daemon >/dev/null || skip "dbus-daemon is not installed"
  "${as_user[@]}" "${env_args[@]}" dbus-daemon --session --fork --address="unix:path=$runtime/bus"
  env_args+=("DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/bus")
fi
"${as_user[@]}" "${env_args[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  sway ${SWAY_DEBUG:+-d} -c "$config" >"$sway_log" 2>&1 &
sway_pid=$!

socket=""
for _ in $(seq 200); do
  if ! kill -0 "$sway_pid" 2>/dev/null; then break; fi
  socket=$(find "$runtime" -maxdepth 1 -name 'sway-ipc.*.sock' 2>/dev/null | head -n1)
  display=$(find "$runtime" -maxdepth 1 -name 'wayland-*' ! -name '*.lock' 2>/dev/null | head -n1)
  if [ -n "$socket" ] && [ -n "$display" ] &&
    "${as_user[@]}" env SWAYSOCK="$socket" swaymsg -t get_outputs >/dev/null 2>&1; then
    break
  fi
  socket=""
  sleep 0.05
done
if [ -z "$socket" ]; then
  echo "--- sway log:" >&2
  cat "$sway_log" >&2 || true
  skip "sway did not start here"
fi

# In the background, so that a signal to this script is handled at once.
"${as_user[@]}" "${env_args[@]}" "WAYLAND_DISPLAY=$(basename "$display")" "SWAYSOCK=$socket" \
  "SWAY_LOG=$sway_log" "${args[@]}" &
status=0
wait $! || status=$?
exit "$status"
