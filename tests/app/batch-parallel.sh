#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the GNU parallel recipe of docs/scaling.md on this machine ("--sshlogin :" stands in for
# the remote hosts): one batch fails as a lost machine would, the same command resumes, and
# every result is there; then the report recipe counts them.
#   batch-parallel.sh <source folder> <program>
set -euo pipefail
source_dir=$1
program=$2
samples=$(dirname "$program")/Samples
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v parallel >/dev/null || fail "GNU parallel is not installed (scripts/install-deps)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state TMPDIR=$scratch/tmp
export HOME=$scratch/home # parallel keeps its state (and the citation notice) under ~/.parallel
mkdir -p "$XDG_CONFIG_HOME" "$TMPDIR" "$HOME/.parallel"
touch "$HOME/.parallel/will-cite"
unset DISPLAY WAYLAND_DISPLAY

# The block of docs/scaling.md that starts with "# recipe: NAME".
recipe() {
    awk -v mark="# recipe: $1" '
        $0 == mark { on = 1; next }
        on && /^```/ { exit }
        on { print }' "$source_dir/docs/scaling.md"
}
recipe parallel >"$scratch/parallel.sh"
recipe report >"$scratch/report.sh"
[ -s "$scratch/parallel.sh" ] && [ -s "$scratch/report.sh" ] || fail "no recipe in docs/scaling.md"

export WORK=$scratch/work TIFFS=$scratch/scans
mkdir -p "$WORK" "$TIFFS/a b" "$TIFFS/c"
good=$(find "$samples" -name '*.tif' | sort | head -n 1)
for i in 1 2 3 4 5 6 7; do cp "$good" "$TIFFS/a b/page $i.tif"; done
for i in 8 9 10; do cp "$good" "$TIFFS/c/p$i.TIFF"; done
echo "not a TIFF" >"$TIFFS/c/broken.tif"
find "$TIFFS" -type f \( -iname '*.tif' -o -iname '*.tiff' \) ! -name '.*' ! -name '~*' \
    -print0 | sort -z >"$WORK/tiffs.list0"

# A machine that is down while $scratch/down exists: batches holding p9 find no converter.
cat >"$scratch/vormelle" <<SCRIPT
#!/bin/sh
for a; do case \$a in *p9.TIFF) [ -e "$scratch/down" ] && exit 3;; esac; done
exec "$program" "\$@"
SCRIPT
chmod +x "$scratch/vormelle"
export VORMELLE=$scratch/vormelle HOSTS=: BATCH=3

touch "$scratch/down"
status=0
bash "$scratch/parallel.sh" >"$scratch/first.out" 2>&1 || status=$?
[ "$status" -ne 0 ] || fail "the lost batch did not count as failed"
[ ! -e "$TIFFS/c/p9.djvu" ] || fail "p9 converted while its machine was down"
[ -e "$TIFFS/a b/page 1.djvu" ] || fail "the other batches did not run: $(cat "$scratch/first.out")"
before=$(find "$TIFFS" -name '*.djvu' -printf '%i %p\n' | sort)

rm "$scratch/down"
bash "$scratch/parallel.sh" >"$scratch/second.out" 2>&1 ||
    fail "the resumed run failed: $(cat "$scratch/second.out")"
while IFS= read -r -d '' tiff; do
    [ "$tiff" = "$TIFFS/c/broken.tif" ] && continue
    [ "$(djvused -e n "${tiff%.*}.djvu")" -ge 1 ] || fail "no result for $tiff"
done <"$WORK/tiffs.list0"
# Results of batches done the first time are the same files: those batches did not run again.
while read -r inode path; do
    case $path in */c/*) continue ;; esac
    [ "$(stat -c %i "$path")" = "$inode" ] || fail "$path was made again"
done <<<"$before"
[ "$(awk 'NR > 1' "$WORK/joblog" | wc -l)" -gt 4 ] || fail "no job was run again"
awk -F'\t' 'NR > 1 && $7 != 0 { bad = 1 } END { exit !bad }' "$WORK/joblog" ||
    fail "the first failure is not in the job log"

bash "$scratch/report.sh" >"$scratch/totals"
[ "$(wc -l <"$WORK/report.tsv")" -eq 11 ] || fail "report: $(cat "$WORK/report.tsv")"
grep -Eq '^ *10 converted$' "$scratch/totals" && grep -Eq '^ *1 failed$' "$scratch/totals" ||
    fail "totals: $(cat "$scratch/totals")"
grep -q "^$TIFFS/c/broken.tif	failed	" "$WORK/report.tsv" || fail "broken.tif not in the report"
echo "GNU parallel recipe: all checks passed"
