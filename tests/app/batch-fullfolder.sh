#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A full temporary folder on the direct route is said as such ("no space left in the temporary
# folder"), whether an encoder or the program's own document writer meets it. The disk is made
# full by a preloaded library (fullfolder.cpp), so no mount is needed.
#   batch-fullfolder.sh <program> <fullfolder library>
set -euo pipefail
program=$1
library=$2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
scratch=$(realpath "$scratch")
export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state TMPDIR=$scratch/tmp
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR" "$scratch/in" "$scratch/out"
unset DISPLAY WAYLAND_DISPLAY
# The library is built without the sanitizers; a sanitized program takes it after its runtime.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
fail() { echo "FAIL: $*" >&2; exit 1; }

# A grey page in one layer, so that an outside encoder (c44) writes it.
{ printf 'P5\n16 16\n255\n'; for _ in $(seq 128); do printf '\100\300'; done; } >"$scratch/page.pgm"
ppm2tiff -c lzw -R 100 "$scratch/page.pgm" "$scratch/in/one.tif"
tiffcp "$scratch/in/one.tif" "$scratch/in/one.tif" "$scratch/in/two.tif"

# Runs the program with writes into the rows' folders below TMPDIR failing in program $1 (the
# program's own converter still fits); the row of file $2 must fail for want of space.
full() {
    local who=$1 file=$2 status=0
    rm -f "$scratch/out/"*
    LD_PRELOAD=$library VORMELLE_FULL_FOLDER=$TMPDIR VORMELLE_FULL_PROGRAM=$who VORMELLE_FULL_MATCH=/row- \
        "$program" --convert --encoder direct --colour-pages layer --output "$scratch/out" \
        "$scratch/in/$file.tif" >"$scratch/stdout" 2>"$scratch/err" || status=$?
    [ "$status" -eq 1 ] || { cat "$scratch/err" >&2; fail "$who full: status $status, not 1"; }
    grep -q "^vormelle: $scratch/in/$file.tif: no space left in the temporary folder $TMPDIR\$" \
        "$scratch/err" || fail "$who full: $(cat "$scratch/err")"
    [ ! -e "$scratch/out/$file.djvu" ] || fail "$who full: a result was written"
    [ -z "$(ls -A "$TMPDIR")" ] || fail "$who full: left in TMPDIR: $(ls -A "$TMPDIR")"
}

full c44 one      # the encoder cannot write the page
full vormelle two # the document writer cannot write the bundle

# Without the fault the same files convert.
"$program" --convert --encoder direct --output "$scratch/out" "$scratch/in/one.tif" \
    "$scratch/in/two.tif" >/dev/null 2>"$scratch/err" || fail "no fault: $(cat "$scratch/err")"
echo "batch-fullfolder: passed"
