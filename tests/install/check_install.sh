#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop install needs: both
# programs, the menu entry (valid for desktop-file-validate), the icon at every size, the help
# page, the manual pages (rendered by man without a warning) and the bash completion of
# quellar-cli (sourced without error; offers every command and every option each command's
# --help lists).
# Usage: check_install.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/quellar bin/quellar-cli \
         share/applications/quellar.desktop \
         share/icons/hicolor/scalable/apps/quellar.svg \
         share/quellar/help/index.html share/quellar/js.js \
         share/man/man1/quellar.1 share/man/man1/quellar-cli.1 \
         share/bash-completion/completions/quellar-cli; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/quellar.png"
  if [ ! -f "$png" ]; then fail "missing icon ${size}x${size}"; continue; fi
  # The PNG header holds width and height as big-endian numbers at bytes 16 and 20.
  dims="$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')"
  [ "$dims" = "${size}x${size}" ] || fail "icon ${size}x${size} is $dims"
done

desktop="$prefix/share/applications/quellar.desktop"
if ! out="$(desktop-file-validate "$desktop" 2>&1)" || [ -n "$out" ]; then fail "desktop-file-validate: $out"; fi
grep -q '^Exec=quellar --user-workdir %F$' "$desktop" || fail "desktop entry does not start in the per-user working folder"
grep -q '^Categories=Office;Spreadsheet;$' "$desktop" || fail "desktop entry categories"
for mime in application/vnd.openxmlformats-officedocument.spreadsheetml.sheet application/vnd.ms-excel text/csv; do
  grep -q "^MimeType=.*$mime;" "$desktop" || fail "desktop entry lacks $mime"
done

for page in quellar quellar-cli; do
  file="$prefix/share/man/man1/$page.1"
  if ! text="$(LANG=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>"$prefix/man.err")"; then fail "man -l $page.1"; fi
  [ -s "$prefix/man.err" ] && fail "man -l $page.1 warns: $(cat "$prefix/man.err")"
  grep -q "$page" <<<"$text" || fail "man page $page.1 renders empty"
  grep -q '@PROJECT_VERSION@' "$file" && fail "man page $page.1 has no version"
done

[ "$("$prefix/bin/quellar-cli" --version)" = "quellar-cli $version" ] || fail "quellar-cli --version"
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/quellar" --version)" = "quellar $version" ] || fail "quellar --version needs no display"

# The completion, sourced in a clean bash with the installed program first on PATH.
completion="$prefix/share/bash-completion/completions/quellar-cli"
if ! PATH="$prefix/bin:$PATH" bash --norc --noprofile -c '
    set -u
    source "$1"
    complete -p quellar-cli >/dev/null
    offers() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quellar_cli; printf "%s\n" "${COMPREPLY[@]}"; }
    missing=0
    commands=$(quellar-cli --help | sed -n "s/^  \([a-z][a-z-]*\)  .*/\1/p")
    [ -n "$commands" ] || { echo "no commands in quellar-cli --help"; exit 1; }
    for command in $commands; do
      offers quellar-cli "" | grep -qx "$command" || { echo "command $command not offered"; missing=1; }
      for option in $(quellar-cli "$command" --help 2>/dev/null | grep -o -- "--[a-z0-9][a-z0-9-]*" | sort -u); do
        offers quellar-cli "$command" -- | grep -qx -- "$option" || { echo "$command $option not offered"; missing=1; }
      done
    done
    shopt -q extglob && { echo "completion left extglob switched on"; missing=1; }
    exit $missing' completion-test "$completion" 2>&1; then
  fail "bash completion"
fi

if [ "$failures" -ne 0 ]; then echo "$failures install check(s) failed" >&2; exit 1; fi
echo "install tree complete: $prefix"
