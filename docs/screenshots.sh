#!/usr/bin/env bash
# Makes the README's screenshots in a throw-away X11 desktop: the tray menu,
# the password dialog, the options dialog and the viewer.
#   docs/screenshots.sh [BUILD_DIR]   (default: build; needs the targets
#                                      morvantile and morvantile-cli)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$(realpath "${1:-build}")
docs=$PWD/docs

shoot() {
  set -euo pipefail
  local home app
  home=$(mktemp -d)
  mkdir -p "$home/morvantile" && mkdir -m 700 "$home/run"
  export XDG_CONFIG_HOME="$home" XDG_RUNTIME_DIR="$home/run"
  cat > "$home/morvantile/morvantile.ini" <<'INI'
[misc]
DecryptView=1
ShowPasswordManager=1
Hints=0
AppendSeparator=1
INI
  xsetroot -solid '#3b4a5a'
  "$build_dir/src/shell/morvantile" nosplash >/dev/null 2>&1 &
  app=$!
  sleep 2
  # The tray icon is the program's window inside the tray's panel.
  local icon X Y WIDTH HEIGHT SCREEN WINDOW
  icon=$(xwininfo -root -tree | awk '/"panel"/{p=1} p && /"morvantile"/ && !found {print $1; found=1}')
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  local menu_x=$((X + 10)) menu_y=$((Y + 10))
  open_menu() { xdotool mousemove "$menu_x" "$menu_y" click 3; sleep 0.8; }
  crop() {  # crop WINDOW-NAME OUT: the window with a margin of desktop around it
    xdotool search --sync --onlyvisible --name "$1" >/dev/null
    sleep 1  # the window places itself once it is shown; it is the active one
    eval "$(xdotool getwindowgeometry --shell "$(xdotool getactivewindow)")"
    import -window root -crop "$((WIDTH + 60))x$((HEIGHT + 90))+$((X - 30))+$((Y - 60))" +repage "$2"
  }

  open_menu
  import -window root -crop 340x240+940+0 +repage "$docs/tray-menu.png"
  xdotool key Escape

  printf 'Dear Ann,\nthe keys are under the blue pot.\nSee you Friday!\n' | xclip -selection clipboard
  open_menu
  xdotool key Down Down Down Down Return  # Encrypt
  sleep 1
  xdotool type --delay 60 'correct horse'
  crop 'Morvantile: enter password' "$docs/password-dialog.png"
  xdotool key Return
  sleep 1.5

  open_menu
  xdotool key Down Down Down Down Down Down Return  # Options
  crop 'Morvantile: change settings' "$docs/options-dialog.png"
  xdotool key Escape
  sleep 0.5

  # Decrypt what Encrypt left on the clipboard, without its separator lines.
  xclip -selection clipboard -o | grep -v '^\[-' | xclip -selection clipboard
  open_menu
  xdotool key Down Down Down Down Down Return  # Decrypt
  sleep 1
  xdotool type --delay 30 'correct horse'
  xdotool key Return
  crop 'Morvantile: view decrypted text' "$docs/viewer.png"
  xdotool key Escape
  kill "$app"
  rm -rf "$home"
}
export -f shoot
export build_dir docs
exec ./scripts/desktop-session.sh bash -c shoot
