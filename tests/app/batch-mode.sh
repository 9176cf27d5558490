#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# vormelle --convert end to end with the real converters: which files a folder gives, exit
# statuses, what goes to stdout and stderr, the log, that stored window choices change nothing,
# --skip-existing, --join, the terminal's bar, and a stop by SIGINT or SIGTERM that leaves
# nothing behind.
#   batch-mode.sh <program>
set -euo pipefail
program=$1
samples=$(dirname "$program")/Samples

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state TMPDIR=$scratch/tmp
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR"
unset DISPLAY WAYLAND_DISPLAY
fail() { echo "FAIL: $*" >&2; exit 1; }
good=$(find "$samples" -name '*.tif' | sort | head -n 1)
[ -f "$good" ] || fail "no sample TIFF in $samples"

# Runs the program; status, stdout and stderr land in $status, $scratch/out, $scratch/err.
convert() {
    status=0
    "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
}
expect_status() {
    [ "$status" -eq "$1" ] || { cat "$scratch/err" >&2; fail "$2: status $status, not $1"; }
}

# A folder as the window's drop lists it, TIFFs only: any letter case, sub-folders, no hidden
# or "~" names, no other files; one bad TIFF among them.
in=$scratch/in
mkdir -p "$in/sub"
cp "$good" "$in/b.tif"
cp "$good" "$in/A.TIFF"
cp "$good" "$in/sub/c.Tif"
cp "$good" "$in/.hidden.tif"
cp "$good" "$in/~lock.tif"
cp "$good" "$in/notes.txt"
echo "not a TIFF" >"$in/bad.tif"
convert "$program" --convert --beside --jobs 1 --log "$scratch/run.log" "$in"
expect_status 1 "one bad file"
printf '%s\n' "$in/A.djvu" "$in/b.djvu" "$in/sub/c.djvu" >"$scratch/want"
# One at a time, they finish in the folder walk's order.
diff "$scratch/want" "$scratch/out" || fail "stdout is not the outputs, in order"
for f in "$in/A.djvu" "$in/b.djvu" "$in/sub/c.djvu"; do
    [ "$(djvused -e n "$f")" -ge 1 ] || fail "$f has no pages"
done
[ ! -e "$in/bad.djvu" ] && [ ! -e "$in/.hidden.djvu" ] && [ ! -e "$in/~lock.djvu" ] &&
    [ ! -e "$in/notes.djvu" ] || fail "a file outside the rule was converted"
grep -q "^vormelle: $in/bad.tif: ." "$scratch/err" || fail "no failure line for bad.tif"
[ "$(grep -c '^vormelle: ' "$scratch/err")" -eq 1 ] || fail "failure lines other than bad.tif"
for n in 1 2 3 4; do
    grep -q "^$n of 4: " "$scratch/err" || fail "no progress line $n of 4"
done
grep -q "^[0-9] of 4: bad.tif: failed: " "$scratch/err" || fail "no progress line for bad.tif"
[ "$(grep -c $'\tconverted\t' "$scratch/run.log")" -eq 3 ] &&
    [ "$(grep -c $'\tfailed\t.*bad.tif' "$scratch/run.log")" -eq 1 ] || fail "the log: $(cat "$scratch/run.log")"
[ -z "$(ls -A "$TMPDIR")" ] || fail "left in the temporary folder: $(ls -A "$TMPDIR")"

# Grey and colour pages smaller than Leptonica's page analysis takes (100 x 100) convert, and
# the console gets the progress line only, none of a library's own words.
mkdir -p "$scratch/small"
{ printf 'P6\n96 64\n255\n'; printf '\310\050\050%.0s' $(seq 6144); } >"$scratch/small/c.ppm"
{ printf 'P5\n64 96\n255\n'; printf '\200%.0s' $(seq 6144); } >"$scratch/small/g.pgm"
ppm2tiff -R 100 "$scratch/small/c.ppm" "$scratch/small/c.tif"
ppm2tiff -R 100 "$scratch/small/g.pgm" "$scratch/small/g.tif"
convert "$program" --convert --jobs 1 --output "$scratch/small" "$scratch/small/c.tif" "$scratch/small/g.tif"
expect_status 0 "small grey and colour pages"
printf '%s\n' "1 of 2: c.tif: converted" "2 of 2: g.tif: converted" | diff - "$scratch/err" ||
    fail "more than the progress lines on the console for small pages"

# All good, into a folder: status 0; without --log the default log is written.
mkdir "$scratch/results"
convert "$program" --convert --output "$scratch/results" --encoder pdf --jobs 2 "$in/b.tif" "$in/A.TIFF"
expect_status 0 "all good"
[ "$(wc -l <"$scratch/out")" -eq 2 ] && [ -s "$scratch/results/b.djvu" ] &&
    [ -s "$scratch/results/A.djvu" ] || fail "outputs: $(cat "$scratch/out")"
ls "$XDG_STATE_HOME"/vormelle/run-*.log >/dev/null || fail "no default log"

# The window's stored choices do not reach a --convert run: its folder, route and jobs. Without
# --output, --beside or --join it is a usage error of one line and the pointer to --help.
mkdir -p "$scratch/stored"
printf '[Vormelle]\nOption1=True\nOption2=False\nText1=%s/stored/\nEncoder=PDF\nJobs=1\n' \
    "$scratch" >"$XDG_CONFIG_HOME/Quenlark.conf"
convert "$program" --convert "$in/b.tif"
expect_status 2 "no destination"
[ "$(wc -l <"$scratch/err")" -eq 2 ] &&
    [ "$(tail -n 1 "$scratch/err")" = "Try 'vormelle --help' for more information." ] ||
    fail "usage error: $(cat "$scratch/err")"
[ -z "$(ls -A "$scratch/stored")" ] || fail "written into the stored folder"
rm -f "$in/b.djvu"
convert "$program" --convert --beside --log "$scratch/route.log" "$in/b.tif"
expect_status 0 "stored choices"
[ "$(cat "$scratch/out")" = "$in/b.djvu" ] || fail "not beside: $(cat "$scratch/out")"
grep -q $'\tconverted\t[0-9.]*\t[0-9]*\tdirect\t' "$scratch/route.log" ||
    fail "the route is not direct: $(cat "$scratch/route.log")"
cores=$(nproc)
[ "$cores" -le 8 ] || cores=8
grep -q ", $cores job(s)," "$scratch/route.log" || fail "stored Jobs used: $(head -1 "$scratch/route.log")"
rm -f "$XDG_CONFIG_HOME/Quenlark.conf"

# Colour pages: a compound page (mask, foreground, background) unless --colour-pages layer asks
# for one picture layer; the stored "ColourPages" does not reach the command line. The log names
# each page's profile and its layers' bytes.
colour=$samples/page-colour.tif
mkdir -p "$scratch/colour"
printf '[Vormelle]\nColourPages=Layer\n' >"$XDG_CONFIG_HOME/Quenlark.conf"
convert "$program" --convert --output "$scratch/colour" --log "$scratch/colour.log" "$colour"
expect_status 0 "compound colour page"
chunks=$(djvudump "$scratch/colour/page-colour.djvu" | grep -oE 'Sjbz|FGbz|FG44|BG44' | uniq | tr '\n' ' ')
[ "$chunks" = "Sjbz FGbz BG44 " ] || fail "compound page chunks: $chunks"
grep -qE '^    page 1: (text|compound) .*mask [0-9]+ B, foreground [0-9]+ B, background [0-9]+ B$' \
    "$scratch/colour.log" || fail "no page profile in the log: $(cat "$scratch/colour.log")"
convert "$program" --convert --output "$scratch/colour" --colour-pages layer "$colour"
expect_status 0 "one layer"
chunks=$(djvudump "$scratch/colour/page-colour.djvu" | grep -oE 'Sjbz|FGbz|FG44|BG44' | uniq | tr '\n' ' ')
[ "$chunks" = "BG44 " ] || fail "--colour-pages layer chunks: $chunks"
convert "$program" --convert --output "$scratch/colour" --colour-pages photo "$colour"
expect_status 2 "--colour-pages photo"
rm -f "$XDG_CONFIG_HOME/Quenlark.conf"

# --skip-existing: a result that is there is left alone and named; the others convert.
rm -f "$scratch/results"/*.djvu
echo "kept" >"$scratch/results/b.djvu"
convert "$program" --convert --output "$scratch/results" --skip-existing "$in/b.tif" "$in/A.TIFF"
expect_status 0 "skip existing"
[ "$(cat "$scratch/results/b.djvu")" = kept ] || fail "an existing result was replaced"
grep -q "^vormelle: $in/b.tif: skipped: $scratch/results/b.djvu exists$" "$scratch/err" ||
    fail "no skip line: $(cat "$scratch/err")"
[ "$(cat "$scratch/out")" = "$scratch/results/A.djvu" ] || fail "skip: $(cat "$scratch/out")"
convert "$program" --convert --output "$scratch/results" --skip-existing "$in/b.tif" "$in/A.TIFF"
expect_status 0 "all skipped"
[ ! -s "$scratch/out" ] && [ "$(grep -c 'skipped: ' "$scratch/err")" -eq 2 ] ||
    fail "all skipped: $(cat "$scratch/err")"

# --join: one document, files in the order given, each file's pages together; a failed file
# leaves nothing unless --join-partial; the same bytes from the same files.
book=$scratch/book
pages=$scratch/pages
mkdir "$book" "$pages" "$pages/other"
cp "$samples/letter-bitonal-g4.tif" "$pages/p1.tif"
cp "$samples/document-3-pages.tif" "$pages/p2.tif"
cp "$samples/page-gray-8bit.tif" "$pages/other/p1.tif" # the same name from another folder
convert "$program" --convert --join "$book/all.djvu" "$pages/p1.tif" "$pages/p2.tif" \
    "$pages/other/p1.tif"
expect_status 0 "join"
[ "$(cat "$scratch/out")" = "$book/all.djvu" ] || fail "join stdout: $(cat "$scratch/out")"
[ "$(djvused -e n "$book/all.djvu")" -eq 5 ] || fail "joined pages: $(djvused -e n "$book/all.djvu")"
[ "$(grep -c '^vormelle: p1.tif: page 1$' "$scratch/err")" -eq 1 ] &&
    grep -q '^vormelle: p2.tif: pages 2-4$' "$scratch/err" &&
    grep -q '^vormelle: p1.tif: page 5$' "$scratch/err" || fail "join pages: $(cat "$scratch/err")"
# In list order: page 5 is the grey page, the size of its own TIFF.
size() { djvused -e "select $2; size" "$1" | sed 's/ rotate=.*//'; }
[ "$(size "$book/all.djvu" 5)" = "width=$(tiffinfo "$pages/other/p1.tif" |
    sed -n 's/.*Image Width: \([0-9]*\).*/\1/p' | head -1) height=$(tiffinfo "$pages/other/p1.tif" |
    sed -n 's/.*Image Length: \([0-9]*\).*/\1/p' | head -1)" ] || fail "page 5 is not other/p1.tif"
[ "$(ls -A "$book")" = all.djvu ] || fail "beside the document: $(ls -A "$book")"
cp "$book/all.djvu" "$scratch/first.djvu"
convert "$program" --convert --join "$book/all.djvu" "$pages/p1.tif" "$pages/p2.tif" \
    "$pages/other/p1.tif"
cmp "$book/all.djvu" "$scratch/first.djvu" || fail "a second join differs"
convert "$program" --convert --join "$book/bad.djvu" "$pages/p1.tif" "$in/bad.tif"
expect_status 1 "join with a bad file"
[ ! -e "$book/bad.djvu" ] || fail "a document although a file failed"
grep -q "bad.tif" "$scratch/err" && grep -q 'not written' "$scratch/err" ||
    fail "join refusal: $(cat "$scratch/err")"
convert "$program" --convert --join "$book/bad.djvu" --join-partial "$pages/p1.tif" "$in/bad.tif"
expect_status 1 "partial join"
[ "$(djvused -e n "$book/bad.djvu")" -eq 1 ] || fail "partial join pages"
[ -z "$(ls -A "$TMPDIR")" ] || fail "join left in the temporary folder: $(ls -A "$TMPDIR")"

# Nothing can run: a missing output folder, no TIFFs, no pdf2djvu beside the program.
lonely=$scratch/lonely
mkdir "$lonely"
cp "$program" "$lonely/vormelle"
for args in "--output $scratch/missing $in/b.tif" "--beside $scratch/results" \
    "--join $scratch/missing/book.djvu $in/b.tif" "--beside --encoder pdf $in/b.tif"; do
    bin=$program
    [ "$args" = "--beside --encoder pdf $in/b.tif" ] && bin=$lonely/vormelle
    # shellcheck disable=SC2086
    convert "$bin" --convert $args
    expect_status 3 "$bin --convert $args"
    [ ! -s "$scratch/out" ] || fail "stdout for $args: $(cat "$scratch/out")"
    grep -q '^vormelle: ' "$scratch/err" || fail "no reason for $args"
done
grep -q 'pdf2djvu was not found' "$scratch/err" || fail "missing pdf2djvu: $(cat "$scratch/err")"

# On a terminal: the bar.
rm -f "$in"/*.djvu
script -qec "'$program' --convert --beside '$in/b.tif'" /dev/null >"$scratch/tty" || true
grep -q '\[####################\] 1 of 1' "$scratch/tty" || fail "no bar: $(cat -v "$scratch/tty")"

# Stopped by a signal while pdf2djvu hangs: ends promptly, no result, no run folder, no child.
hang=$scratch/hang
mkdir -p "$hang/pdf2djvu"
cp "$program" "$hang/vormelle"
cat >"$hang/pdf2djvu/pdf2djvu" <<SCRIPT
#!/bin/sh
echo \$\$ >"$scratch/child.pid"
exec sleep 60
SCRIPT
chmod +x "$hang/pdf2djvu/pdf2djvu"
for signal in INT:130 TERM:143; do
    rm -f "$scratch/child.pid" "$in"/*.djvu
    set -m # its own job, so the shell does not make it ignore SIGINT
    "$hang/vormelle" --convert --beside --encoder pdf --jobs 1 "$in/b.tif" "$in/A.TIFF" \
        >"$scratch/out" 2>"$scratch/err" &
    pid=$!
    set +m
    for _ in $(seq 100); do [ -s "$scratch/child.pid" ] && break; sleep 0.1; done
    [ -s "$scratch/child.pid" ] || fail "the fake pdf2djvu never started"
    kill -s "${signal%:*}" "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$pid" 2>/dev/null; then kill -9 "$pid"; fail "SIG${signal%:*} did not stop it"; fi
    status=0
    wait "$pid" || status=$?
    expect_status "${signal#*:}" "SIG${signal%:*}"
    grep -q '^vormelle: stopped: 0 converted, 2 not converted$' "$scratch/err" ||
        fail "SIG${signal%:*}: $(cat "$scratch/err")"
    [ ! -s "$scratch/out" ] || fail "stdout after a stop: $(cat "$scratch/out")"
    ! kill -0 "$(cat "$scratch/child.pid")" 2>/dev/null || fail "pdf2djvu still runs"
    [ ! -e "$in/b.djvu" ] && [ ! -e "$in/A.djvu" ] || fail "a result after a stop"
    [ -z "$(ls -A "$TMPDIR")" ] || fail "left in the temporary folder: $(ls -A "$TMPDIR")"
done
echo "batch mode: all checks passed"
