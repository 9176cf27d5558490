#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vormelle --convert --encoder direct on a multi-page bitonal TIFF, as a user runs it: the pages
# share one shape dictionary (a FORM:DJVI with a Djbz that every page names in its INCL), and
# DjVuLibre's ddjvu gives back every page's pixels exactly, in order.
#   batch-direct-dictionary.sh <program>
set -euo pipefail
program=$1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state TMPDIR=$scratch/tmp
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR"
unset DISPLAY WAYLAND_DISPLAY
fail() { echo "FAIL: $*" >&2; exit 1; }

# Three pages of text in one font, set as ImageMagick's own text, and a blank page.
words="Every letter of these pages comes back as it was: the quick brown fox jumps over the lazy dog."
for n in 1 2 3; do
    convert -size 1100x700 xc:white -font DejaVu-Serif -pointsize 30 -fill black \
        -annotate +40+80 "$n. $words" -annotate +40+160 "Page $n of a small book, 0123456789." \
        -annotate +40+240 "$words" -monochrome "$scratch/p$n.pbm"
done
convert -size 1100x700 xc:white -monochrome "$scratch/p4.pbm"
convert "$scratch"/p1.pbm "$scratch"/p2.pbm "$scratch"/p4.pbm "$scratch"/p3.pbm \
    -density 300 -units PixelsPerInch -compress Group4 "$scratch/book.tif"

mkdir "$scratch/out"
"$program" --convert --encoder direct --jobs 1 --output "$scratch/out" "$scratch/book.tif" \
    >"$scratch/stdout" 2>"$scratch/stderr" || { cat "$scratch/stderr" >&2; fail "status $?"; }
djvu=$scratch/out/book.djvu
[ -s "$djvu" ] || fail "no result"
djvudump "$djvu" >"$scratch/dump"
grep -q "FORM:DJVI" "$scratch/dump" && grep -q "Djbz" "$scratch/dump" ||
    fail "no shared dictionary: $(cat "$scratch/dump")"
# The text pages include it; the blank page has nothing to take from it.
[ "$(grep -c "INCL" "$scratch/dump")" -eq 3 ] || fail "pages including it: $(cat "$scratch/dump")"
[ "$(djvused -e n "$djvu")" -eq 4 ] || fail "not four pages"
n=1
for want in p1 p2 p4 p3; do
    ddjvu -format=pbm -page=$n "$djvu" "$scratch/got$n.pbm"
    cmp -s <(convert "$scratch/$want.pbm" pbm:-) <(convert "$scratch/got$n.pbm" pbm:-) ||
        fail "page $n is not $want.pbm, pixel for pixel"
    n=$((n + 1))
done
[ -z "$(ls -A "$TMPDIR")" ] || fail "left in the temporary folder: $(ls -A "$TMPDIR")"
echo "ok"
