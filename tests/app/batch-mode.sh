#!/usr/bin/env bash
# vormelle --convert end to end with the real converters: which files a folder gives, exit
# statuses, what goes to stdout and stderr, the log, the stored output choice, the terminal's
# bar, and a stop by SIGINT or SIGTERM that leaves nothing behind.
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

# All good, into a folder: status 0; without --log the default log is written.
mkdir "$scratch/results"
convert "$program" --convert --output "$scratch/results" --encoder pdf --jobs 2 "$in/b.tif" "$in/A.TIFF"
expect_status 0 "all good"
[ "$(wc -l <"$scratch/out")" -eq 2 ] && [ -s "$scratch/results/b.djvu" ] &&
    [ -s "$scratch/results/A.djvu" ] || fail "outputs: $(cat "$scratch/out")"
ls "$XDG_STATE_HOME"/vormelle/run-*.log >/dev/null || fail "no default log"

# The window's stored choice: into its folder.
mkdir -p "$scratch/stored"
printf '[Vormelle]\nOption1=True\nOption2=False\nText1=%s/stored/\n' "$scratch" \
    >"$XDG_CONFIG_HOME/Quenlark.conf"
convert "$program" --convert "$in/b.tif"
expect_status 0 "stored choice"
[ "$(cat "$scratch/out")" = "$scratch/stored/b.djvu" ] || fail "stored folder: $(cat "$scratch/out")"

# Nothing can run: a missing output folder, no TIFFs, no pdf2djvu beside the program.
lonely=$scratch/lonely
mkdir "$lonely"
cp "$program" "$lonely/vormelle"
for args in "--output $scratch/missing $in/b.tif" "--beside $scratch/results" \
    "--beside $in/b.tif"; do
    bin=$program
    [ "$args" = "--beside $in/b.tif" ] && bin=$lonely/vormelle
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
    "$hang/vormelle" --convert --beside --jobs 1 "$in/b.tif" "$in/A.TIFF" \
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
