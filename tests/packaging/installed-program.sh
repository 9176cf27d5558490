#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a scratch prefix, checks the layout, and starts the installed program
# headless through its launcher: it must still be running when it is stopped a moment later.
#   installed-program.sh <cmake> <build folder>
set -euo pipefail
cmake=$1
build=$2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }
# A PNG's width x height, read from its header.
pngsize() {
    [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || return 0
    od -An -j16 -N8 -tu1 "$1" |
        awk '{ print $1*16777216 + $2*65536 + $3*256 + $4 "x" $5*16777216 + $6*65536 + $7*256 + $8 }'
}

"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log" >&2; fail "cmake --install"; }

program=$prefix/lib/vormelle
[ -x "$program/vormelle" ] || fail "no program in $program"
[ -x "$program/vormelle-ocr" ] || fail "no text layer helper beside the program in $program"
for f in HAND-M.CUR drag.ico; do
    cmp -s "$program/$f" "$build/vormelle/$f" || fail "$f differs from the built one"
done
# The second converter comes along once the build lays it out.
if [ -e "$build/vormelle/pdf2djvu/pdf2djvu" ] || [ -L "$build/vormelle/pdf2djvu/pdf2djvu" ]; then
    "$program/pdf2djvu/pdf2djvu" --version >/dev/null 2>&1 ||
        fail "the installed pdf2djvu/pdf2djvu does not run"
fi
samples=$(find "$program/Samples" -name '*.tif' | wc -l)
[ "$samples" -ge 4 ] || fail "only $samples samples installed"

launcher=$prefix/bin/vormelle
[ -L "$launcher" ] || fail "no launcher link at $launcher"
[ "$(readlink -f "$launcher")" = "$(readlink -f "$program/vormelle")" ] ||
    fail "the launcher does not lead to the program"
# Relative, so the installed tree can be moved (or staged with DESTDIR).
case $(readlink "$launcher") in /*) fail "the launcher link is absolute";; esac

id=io.github.vormelle.Vormelle
share=$prefix/share
entry=$share/applications/$id.desktop
[ -f "$entry" ] || fail "no desktop entry"
desktop-file-validate "$entry" || fail "desktop entry does not validate"
grep -qx 'Exec=vormelle %F' "$entry" || fail "desktop entry does not start vormelle with files"
grep -qx "Icon=$id" "$entry" || fail "desktop entry names another icon"
for size in 48 256; do
    icon=$share/icons/hicolor/${size}x$size/apps/$id.png
    [ -f "$icon" ] || fail "no $size px icon"
    [ "$(pngsize "$icon")" = "${size}x$size" ] || fail "$icon is not a $size px PNG"
done
[ -f "$share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
[ -f "$share/metainfo/$id.metainfo.xml" ] || fail "no metainfo"
man -l "$share/man/man1/vormelle.1.gz" >/dev/null 2>&1 || fail "the manual page does not open"

# A file manager's "Open with": the entry is found for TIFF files once the database is made.
update-desktop-database "$share/applications" || fail "update-desktop-database"
grep -q "^image/tiff=.*$id.desktop" "$share/applications/mimeinfo.cache" ||
    fail "the entry is not listed for image/tiff"

# Start it as a user would, from PATH, with a private settings and home folder.
mkdir -p "$scratch/home" "$scratch/config"
status=0
env -i PATH="$prefix/bin:/usr/bin:/bin" HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" \
    QT_QPA_PLATFORM=offscreen ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} \
    ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
    timeout -s TERM 2 vormelle </dev/null >"$scratch/out.log" 2>&1 || status=$?
cat "$scratch/out.log"
# timeout's own 124: the program was still running when stopped. Anything else is an early
# end or a crash.
[ "$status" -eq 124 ] || fail "the installed program ended by itself with status $status"
echo "installed program runs"

# "Open with" from a file manager: gio opens a TIFF file with the default application for
# image/tiff, which the installed entry (first in XDG_DATA_DIRS) provides. The program must be
# started with the file as its argument and stay up.
mkdir -p "$scratch/scans" "$scratch/data"
tif="$scratch/scans/page one.tif"
cp "$program/Samples/page-colour.tif" "$tif"
env -i PATH="$prefix/bin:/usr/bin:/bin" HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" \
    XDG_DATA_HOME="$scratch/data" XDG_DATA_DIRS="$share:/usr/share" QT_QPA_PLATFORM=offscreen \
    ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} \
    gio open "$tif" >"$scratch/gio.log" 2>&1 || { cat "$scratch/gio.log"; fail "gio open"; }
# The started program is the one whose arguments are exactly this file (the scratch path is
# this run's own); it alone is stopped.
opened=
for _ in $(seq 50); do
    for pid in $(pgrep -x vormelle || true); do
        [ "$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | tail -n +2)" = "$tif" ] && opened=$pid
    done
    [ -n "$opened" ] && break
    sleep 0.1
done
[ -n "$opened" ] || { cat "$scratch/gio.log"; fail "gio open did not start vormelle with the file"; }
sleep 1
kill -0 "$opened" 2>/dev/null || fail "the program opened by gio ended by itself"
kill "$opened"
echo "gio open starts vormelle with the file"
