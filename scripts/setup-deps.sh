#!/usr/bin/env bash
# Installs every package needed to build and test Morvantile on Debian or
# Ubuntu. Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libcrypto++-dev      # block ciphers and hashes
  zlib1g-dev           # compression of plaintext before encryption
  libcli11-dev         # command-line parsing of morvantile-cli
  libgtest-dev libgmock-dev   # unit tests
  libbenchmark-dev     # throughput benchmarks under bench/
  qt6-base-dev         # the desktop program's widgets, tray icon and clipboard
  libqt6svg6           # draws the SVG tray and program icons
  libx11-dev           # X11: global hotkeys, windows, keyboard state
  libxtst-dev          # X11: synthetic keystrokes to the source window
  libwayland-dev libwayland-bin  # Wayland (wlroots): the client library and wayland-scanner
  libxkbcommon-dev     # Wayland: the keymap of the virtual keyboard
  fonts-dejavu-core    # a font for the widget tests on the offscreen platform
  # The end-to-end tests: a throw-away X11 desktop with a system tray, a real
  # editor as the other program, and tools that type, click and read the
  # clipboard like a person.
  xvfb openbox trayer xdotool xclip mousepad featherpad x11-utils x11-xkb-utils x11-xserver-utils imagemagick python3
  # The same on Wayland: a headless wlroots compositor, a virtual keyboard to
  # type with, the data-control clipboard, screenshots, and editors of both
  # toolkits running natively (Qt 5 and Qt 6 need their Wayland plugins).
  sway wtype wl-clipboard grim gedit qtwayland5 qt6-wayland
  # The portal end-to-end tests: a session bus of each scenario's own, and a
  # stand-in for the desktop portal service written in Python.
  dbus-daemon          # the private session bus
  dbus-bin             # dbus-send: the stand-in's shortcuts, pressed, tell it through sway
  python3-dbus         # the stand-in serves its interfaces over D-Bus
  python3-gi           # its GLib main loop
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
