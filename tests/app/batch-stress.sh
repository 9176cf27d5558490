#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Many short runs of vormelle --convert at once, each with eight tiny pages on eight workers, so
# that rows end together and the workers check their first results at the same moment. Busy
# loops keep the processor loaded. Fails when any run ends by a signal (a crash) or converts
# less than it should.
#   batch-stress.sh <program> [runs] [at once]
set -euo pipefail
program=$1
runs=${2:-${VORMELLE_STRESS_RUNS:-160}}
parallel=${3:-4}

scratch=$(mktemp -d)
busy=()
cleanup() {
    for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state TMPDIR=$scratch/tmp
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR" "$scratch/in"
unset DISPLAY WAYLAND_DISPLAY
fail() { echo "FAIL: $*" >&2; exit 1; }

# 16 x 16 pages, G4: each row takes a few milliseconds.
{ printf 'P4\n16 16\n'; for _ in $(seq 8); do printf '\377\000'; done
  for _ in $(seq 8); do printf '\000\000'; done; } >"$scratch/page.pbm"
names=()
for name in a b c d e f g h; do
    ppm2tiff -c g4 -R 100 "$scratch/page.pbm" "$scratch/in/$name.tif"
    names+=("$scratch/in/$name.tif")
done

for _ in 1 2; do
    (while :; do :; done) &
    busy+=($!)
done

one() {
    local n=$1 out=$scratch/out-$1 status=0
    mkdir -p "$out"
    "$program" --convert --encoder direct --jobs ${#names[@]} --log "$out/run.log" \
        --output "$out" "${names[@]}" >"$out/stdout" 2>"$out/stderr" || status=$?
    if [ "$status" -gt 128 ]; then
        echo "run $n: ended by signal $((status - 128)): $(tail -n 3 "$out/stderr")" >>"$scratch/crashes"
    elif [ "$status" -ne 0 ] || [ "$(wc -l <"$out/stdout")" -ne ${#names[@]} ]; then
        echo "run $n: status $status: $(tail -n 3 "$out/stderr")" >>"$scratch/failures"
    fi
    rm -rf "$out"
}

for ((n = 1; n <= runs; ++n)); do
    while [ "$(jobs -rp | wc -l)" -ge $((parallel + ${#busy[@]})) ]; do sleep 0.01; done
    one "$n" &
done
for pid in $(jobs -rp); do
    case " ${busy[*]} " in *" $pid "*) ;; *) wait "$pid" || true ;; esac
done

if [ -s "$scratch/crashes" ]; then
    fail "$(wc -l <"$scratch/crashes") of $runs runs crashed:
$(head -n 5 "$scratch/crashes")"
fi
[ ! -s "$scratch/failures" ] || fail "runs that failed: $(head -n 5 "$scratch/failures")"
[ -z "$(ls -A "$TMPDIR")" ] || fail "left in the temporary folder: $(ls -A "$TMPDIR")"
echo "batch stress: $runs runs, $parallel at once, no crash"
