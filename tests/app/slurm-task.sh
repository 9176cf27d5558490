#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Slurm recipe's scripts (docs/examples/slurm) with stubs for vormelle, sbatch and squeue:
# a task's status is vormelle's own (no xargs between), names reach vormelle intact, the status
# file is written, and a resume submits exactly the parts not done and not still queued, in
# arrays that keep to MaxArraySize.
#   slurm-task.sh <source folder>
set -euo pipefail
examples=$1/docs/examples/slurm
fail() { echo "FAIL: $*" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
work=$scratch/work
mkdir -p "$work/parts" "$scratch/bin"
cd "$work"

# vormelle: records its arguments one per line (NUL-separated) and exits with the status that
# the first name asks for ("exit-N ...").
cat >"$scratch/bin/vormelle" <<'STUB'
#!/bin/bash
printf '%s\0' "$@" >"$STUB_ARGS"
for a in "$@"; do
    name=${a##*/}
    case $name in exit-*) s=${name#exit-}; exit "${s%% *}" ;; esac
done
exit 0
STUB
chmod +x "$scratch/bin/vormelle"
export VORMELLE=$scratch/bin/vormelle STUB_ARGS=$scratch/args

# What a task ends with, and what status/<part> says, for each status of vormelle.
for case in 0:0 1:0 2:2 3:3 130:130 143:143; do
    want_vormelle=${case%:*}
    want_task=${case#*:}
    printf '%s\0' "/scans/exit-$want_vormelle a.tif" $'/scans/line\nbreak.tif' "/scans/-x.tif" \
        >parts/part.00007
    status=0
    SLURM_ARRAY_TASK_ID=7 SLURM_CPUS_PER_TASK=3 bash "$examples/convert.sbatch" || status=$?
    [ "$status" -eq "$want_task" ] || fail "vormelle $want_vormelle: the task ended $status"
    [ "$(cat status/7)" = "$want_vormelle" ] || fail "status/7 says $(cat status/7)"
    [ ! -e status/7.new ] || fail "a half-written status"
done
mapfile -d '' args <"$scratch/args"
want=(--convert --beside --skip-existing --jobs 3 --log logs/7.log -- "/scans/exit-143 a.tif"
    $'/scans/line\nbreak.tif' /scans/-x.tif)
[ "${args[*]@Q}" = "${want[*]@Q}" ] || fail "vormelle got ${args[*]@Q}"

# The offset of a later array.
printf '%s\0' /scans/exit-0 >parts/part.01003
PART_OFFSET=1000 SLURM_ARRAY_TASK_ID=3 bash "$examples/convert.sbatch" || fail "offset task"
[ "$(cat status/1003)" = 0 ] || fail "offset: no status/1003"
status=0
SLURM_ARRAY_TASK_ID=999 bash "$examples/convert.sbatch" 2>/dev/null || status=$?
[ "$status" -eq 2 ] || fail "a task without its part ended $status"

# Submitting: 2,500 parts go out as three arrays, none beyond index 999.
rm -rf parts status
mkdir parts status
for ((p = 0; p < 2500; p++)); do : >"parts/$(printf 'part.%05d' "$p")"; done
cat >"$scratch/bin/sbatch" <<'STUB'
#!/bin/bash
echo "$*" >>"$SBATCH_CALLS"
STUB
cat >"$scratch/bin/squeue" <<'STUB'
#!/bin/bash
printf '%s\n' "$SQUEUE_OUT"
STUB
chmod +x "$scratch/bin/sbatch" "$scratch/bin/squeue"
export SBATCH=$scratch/bin/sbatch SQUEUE=$scratch/bin/squeue SBATCH_CALLS=$scratch/calls
SQUEUE_OUT="" bash "$examples/submit.sh"
script=$(realpath "$examples/convert.sbatch")
cat >"$scratch/want" <<WANT
--array=0-999%100 --comment=part_offset=0 --export=ALL,PART_OFFSET=0 $script
--array=0-999%100 --comment=part_offset=1000 --export=ALL,PART_OFFSET=1000 $script
--array=0-499%100 --comment=part_offset=2000 --export=ALL,PART_OFFSET=2000 $script
WANT
diff "$scratch/want" "$scratch/calls" || fail "the arrays submitted"

# Resuming: done parts (0, 1) are left, failed ones (2, 3, 130) and those without a status go
# again unless squeue still has them.
for ((p = 0; p < 2500; p++)); do echo 0 >"status/$p"; done
echo 1 >status/5
echo 3 >status/6
echo 130 >status/1001
echo 143 >status/2499
rm status/2000 status/1500
: >"$scratch/calls"
SQUEUE_OUT=$'part_offset=1000 500\npart_offset=0 7\nother 9' bash "$examples/submit.sh" --resume
cat >"$scratch/want" <<WANT
--array=6%100 --comment=part_offset=0 --export=ALL,PART_OFFSET=0 $script
--array=1%100 --comment=part_offset=1000 --export=ALL,PART_OFFSET=1000 $script
--array=0,499%100 --comment=part_offset=2000 --export=ALL,PART_OFFSET=2000 $script
WANT
diff "$scratch/want" "$scratch/calls" || fail "the resumed arrays"
echo "slurm task scripts: all checks passed"
