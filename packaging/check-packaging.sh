#!/bin/sh
# Checks the packaging files against the program they describe, then
# installs the build into a scratch folder and checks what lands there.
#
#   check-packaging.sh SOURCE BUILD VERSION CLI KIND CMAKE
#
# KIND is "desktop" when the desktop program is built, else "cli".
set -u
src=$1 build=$2 version=$3 cli=$4 kind=$5 cmake=$6
sizes="16 22 24 32 48 64 128 256"
passed=0 failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

pass() { passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() { what=$1; shift; if "$@"; then pass; else fail "$what"; fi; }

# A man page as plain words: "\-" and "\e" are the page's own escapes.
unescaped() { sed -e 's/\\-/-/g' -e 's/\\e/\\/g' "$1"; }

# Width and height of a PNG, from its header.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d\n", $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }'
}

# --- Icons ------------------------------------------------------------------
hicolor=$src/packaging/icons/hicolor
check "scalable icon differs from src/shell/resources/icons/morvantile.svg (run packaging/render-icons.sh)" \
  cmp -s "$hicolor/scalable/apps/morvantile.svg" "$src/src/shell/resources/icons/morvantile.svg"
for n in $sizes; do
  png=$hicolor/${n}x${n}/apps/morvantile.png
  if [ -f "$png" ]; then
    check "$png is $(png_size "$png"), not ${n}x${n}" test "$(png_size "$png")" = "${n}x${n}"
  else
    fail "$png is missing (run packaging/render-icons.sh)"
  fi
done

# --- Man pages --------------------------------------------------------------
cli_page=$src/packaging/man/morvantile-cli.1
desktop_page=$src/packaging/man/morvantile.1
for page in "$cli_page" "$desktop_page"; do
  check "$page: the title line does not name version $version" \
    grep -q "^\.TH .*\"Morvantile $version\"" "$page"
  if command -v groff >/dev/null 2>&1; then
    warnings=$(groff -t -man -ww -z "$page" 2>&1)
    check "$page: groff warns: $warnings" test -z "$warnings"
  fi
done

# Every subcommand and every option that the tool's help lists is in its page.
documented=$scratch/morvantile-cli.txt
unescaped "$cli_page" >"$documented"
subcommands=$("$cli" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }')
check "no subcommands in morvantile-cli --help" test -n "$subcommands"
for sub in $subcommands; do
  check "morvantile-cli.1 does not describe the subcommand $sub" grep -qx -- ".B $sub" "$documented"
  for option in $("$cli" "$sub" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    check "morvantile-cli.1 lacks $option of $sub" grep -q -- "$option\([^a-z-]\|$\)" "$documented"
  done
done

# The separator lines shown in the page are the ones the tool writes.
block=$(printf x | MORVANTILE_PASSWORD=p "$cli" encrypt --separators | tr -d '\r')
for line in "$(printf '%s\n' "$block" | sed -n 1p)" "$(printf '%s\n' "$block" | sed -n '$p')"; do
  check "morvantile-cli.1 does not show the separator line $line" grep -qF -- "$line" "$documented"
done

# --- Desktop entries ---------------------------------------------------------
for entry in morvantile.desktop morvantile-autostart.desktop; do
  file=$src/packaging/$entry
  check "$entry does not start the program morvantile" grep -q '^Exec=morvantile\( \|$\)' "$file"
  check "$entry does not use the icon morvantile" grep -q '^Icon=morvantile$' "$file"
  if command -v desktop-file-validate >/dev/null 2>&1; then
    if report=$(desktop-file-validate "$file" 2>&1); then pass; else fail "$entry: $report"; fi
  fi
done
check "the autostart entry does not start without the splash" grep -q '^Exec=morvantile nosplash$' "$src/packaging/morvantile-autostart.desktop"

# --- Installation ------------------------------------------------------------
root=$scratch/root
if DESTDIR=$root "$cmake" --install "$build" --prefix /usr >"$scratch/install.log" 2>&1; then
  pass
  expected="usr/bin/morvantile-cli"
  manpages="morvantile-cli.1"
  if [ "$kind" = desktop ]; then
    expected="$expected usr/bin/morvantile usr/share/applications/morvantile.desktop
      usr/share/morvantile/autostart/morvantile.desktop usr/share/icons/hicolor/scalable/apps/morvantile.svg"
    for n in $sizes; do expected="$expected usr/share/icons/hicolor/${n}x${n}/apps/morvantile.png"; done
    manpages="$manpages morvantile.1"
  fi
  for f in $expected; do check "not installed: /$f" test -f "$root/$f"; done
  check "the autostart entry is enabled for everybody" test ! -e "$root/etc/xdg/autostart"
  for page in $manpages; do
    installed=$root/usr/share/man/man1/$page
    if [ -f "$installed.gz" ]; then
      # shellcheck disable=SC2016 # expanded by the inner shell
      check "/usr/share/man/man1/$page.gz is not packaging/man/$page" \
        sh -c 'gzip -dc "$1" | cmp -s - "$2"' - "$installed.gz" "$src/packaging/man/$page"
    else
      check "/usr/share/man/man1/$page is not packaging/man/$page" cmp -s "$installed" "$src/packaging/man/$page"
    fi
  done
  check "the installed morvantile-cli does not print version $version" \
    test "$("$root/usr/bin/morvantile-cli" --version)" = "Morvantile v.$version"
else
  fail "cmake --install: $(cat "$scratch/install.log")"
fi

echo "packaging: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
