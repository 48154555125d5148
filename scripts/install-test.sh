#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what a desktop needs:
# both programs, the launcher, the icon, and MIME types that map the
# project and G-code names.   install-test.sh <build dir>
set -eu
build="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/usr"
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
for f in bin/tessavo bin/tessavo-cli share/applications/tessavo.desktop \
         share/mime/packages/tessavo.xml share/icons/hicolor/256x256/apps/tessavo.png; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/tessavo" ] || fail "tessavo is not executable"

# The launcher hands one file to the program, which forwards it to a running window.
grep -qx 'Exec=tessavo %f' "$prefix/share/applications/tessavo.desktop" || fail "Exec line"
grep -q '^MimeType=.*application/x-tessavo-project;.*model/stl;' "$prefix/share/applications/tessavo.desktop" \
  || fail "MimeType line"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/tessavo.desktop" || fail "desktop file does not validate"
fi

# The MIME database built from the installed XML knows the file names.
if command -v update-mime-database >/dev/null; then
  [ -f /usr/share/mime/packages/freedesktop.org.xml ] && cp /usr/share/mime/packages/freedesktop.org.xml "$prefix/share/mime/packages/"
  update-mime-database "$prefix/share/mime" || fail "update-mime-database"
  for pair in 'application/x-tessavo-project:\*.tvprj' 'application/x-tessavo-preset:\*.tvsp' \
              'text/x.gcode:\*.zcode' 'text/x.gcode:\*.gco'; do
    grep -q ":$pair\$" "$prefix/share/mime/globs2" || fail "no glob $pair"
  done
fi

# The installed program answers without a display.
out="$(env -u DISPLAY "$prefix/bin/tessavo" --version)"
[[ "$out" == "Tessavo 1.08 beta #10213" ]] || fail "--version said: $out"
env -u DISPLAY "$prefix/bin/tessavo" --help | grep -q '^Usage: tessavo' || fail "--help"
out="$("$prefix/bin/tessavo-cli" --version)"
[[ "$out" == "Tessavo 1.08 beta #10213" ]] || fail "tessavo-cli --version said: $out"
# Both find their start-up library: the OpenMP runtime starts passive, once.
for p in tessavo tessavo-cli; do
  spins="$(env -u DISPLAY -u OMP_WAIT_POLICY -u GOMP_SPINCOUNT OMP_DISPLAY_ENV=VERBOSE "$prefix/bin/$p" --version 2>&1 | grep SPINCOUNT)"
  [[ "$(printf '%s\n' "$spins" | wc -l)" == 1 && "$spins" == *"GOMP_SPINCOUNT = '0'" ]] \
    || fail "$p: OpenMP runtime not started passive once: $spins"
done
echo "install ok"
