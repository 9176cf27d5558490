#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vormelle --convert with --log naming what a log must never replace or wait for, logs that
# cannot be written, and names that are not UTF-8 or hold line breaks, on stdout and in the log.
#   batch-log.sh <program>
set -euo pipefail
program=$1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state TMPDIR=$scratch/tmp
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR" "$scratch/in" "$scratch/out"
unset DISPLAY WAYLAND_DISPLAY
fail() { echo "FAIL: $*" >&2; exit 1; }

{ printf 'P4\n16 16\n'; for _ in $(seq 8); do printf '\377\000'; done
  for _ in $(seq 8); do printf '\000\000'; done; } >"$scratch/page.pbm"
ppm2tiff -c g4 -R 100 "$scratch/page.pbm" "$scratch/in/a.tif"
ppm2tiff -c g4 -R 100 "$scratch/page.pbm" "$scratch/in/b.tif"

convert() {
    status=0
    timeout 20 "$program" --convert --encoder direct --output "$scratch/out" "$@" \
        >"$scratch/stdout" 2>"$scratch/stderr" || status=$?
}
expect() { # status, what
    [ "$status" -eq "$1" ] || fail "$2: status $status, not $1: $(cat "$scratch/stderr")"
}

# The glob's first TIFF taken as the log: refused, the TIFF untouched, nothing converted.
sum=$(md5sum <"$scratch/in/a.tif")
convert --log "$scratch"/in/*.tif
expect 2 "an input as the log"
grep -q "it is a TIFF file" "$scratch/stderr" || fail "reason: $(cat "$scratch/stderr")"
[ ! -s "$scratch/stdout" ] || fail "converted after a refused log"
# Named as the log and as an input, through another spelling.
convert --log "$scratch/in/./a.tif" "$scratch/in/a.tif"
expect 2 "an input as the log"
grep -q "it is an input of this run" "$scratch/stderr" || fail "reason: $(cat "$scratch/stderr")"
[ "$(md5sum <"$scratch/in/a.tif")" = "$sum" ] || fail "the input was written"

# A TIFF outside the run, and any other file, are no logs either.
cp "$scratch/in/a.tif" "$scratch/other.tif"
echo "my notes" >"$scratch/notes.txt"
for file in other.tif notes.txt; do
    before=$(md5sum <"$scratch/$file")
    convert --log "$scratch/$file" "$scratch/in/b.tif"
    expect 2 "$file as the log"
    [ "$(md5sum <"$scratch/$file")" = "$before" ] || fail "$file was written"
done
grep -q "it exists and is not a Vormelle log" "$scratch/stderr" || fail "$(cat "$scratch/stderr")"

# A log of an earlier run is added to.
convert --log "$scratch/run.log" "$scratch/in/a.tif"
expect 0 "a new log"
convert --log "$scratch/run.log" "$scratch/in/b.tif"
expect 0 "an earlier log"
[ "$(grep -c '^# Vormelle run of ' "$scratch/run.log")" -eq 2 ] &&
    grep -q $'\tconverted\t.*a.tif' "$scratch/run.log" &&
    grep -q $'\tconverted\t.*b.tif' "$scratch/run.log" || fail "not appended: $(cat "$scratch/run.log")"

# A FIFO nobody reads: refused at once, not waited on.
mkfifo "$scratch/fifo"
convert --log "$scratch/fifo" "$scratch/in/a.tif"
expect 2 "a FIFO nobody reads"
grep -q "FIFO that nobody reads" "$scratch/stderr" || fail "$(cat "$scratch/stderr")"
# Someone reading it gets the lines.
cat "$scratch/fifo" >"$scratch/fifo.read" &
reader=$!
convert --log "$scratch/fifo" "$scratch/in/a.tif"
wait "$reader"
expect 0 "a FIFO someone reads"
grep -q $'\tconverted\t' "$scratch/fifo.read" || fail "the reader got: $(cat "$scratch/fifo.read")"

# A folder, and a device that takes nothing: said, with a status that is not 0.
convert --log "$scratch/in" "$scratch/in/a.tif"
expect 2 "a folder as the log"
convert --log /dev/full "$scratch/in/a.tif"
expect 3 "/dev/full"
grep -q "No space left on device" "$scratch/stderr" || fail "/dev/full: $(cat "$scratch/stderr")"
convert --log /dev/null "$scratch/in/a.tif"
expect 0 "/dev/null"

# Names that are not UTF-8: the log gets exactly its name, an input's bytes show as \xHH.
odd=$(printf 'in\377put')
cp "$scratch/in/a.tif" "$scratch/in/$odd.tif"
convert --log "$scratch/$(printf 'log\351.txt')" "$scratch/in/$odd.tif"
expect 0 "names outside UTF-8"
[ -s "$scratch/$(printf 'log\351.txt')" ] || fail "the log has another name: $(ls "$scratch")"
grep -q 'in\\xffput.tif' "$scratch/$(printf 'log\351.txt')" || fail "input name in the log"

# A line break in a name: one escaped line on stdout; --print0 gives the bytes, NUL-ended.
nl=$'two\nlines'
cp "$scratch/in/a.tif" "$scratch/in/$nl.tif"
convert "$scratch/in/$nl.tif"
expect 0 "a line break in a name"
[ "$(cat "$scratch/stdout")" = "$scratch/out/two\\nlines.djvu" ] || fail "stdout: $(cat -A "$scratch/stdout")"
convert --print0 "$scratch/in/$nl.tif" "$scratch/in/a.tif"
expect 0 "--print0"
printf '%s\0%s\0' "$scratch/out/$nl.djvu" "$scratch/out/a.djvu" | cmp -s - "$scratch/stdout" ||
    printf '%s\0%s\0' "$scratch/out/a.djvu" "$scratch/out/$nl.djvu" | cmp -s - "$scratch/stdout" ||
    fail "--print0: $(cat -A "$scratch/stdout")"
echo "batch log: all checks passed"
