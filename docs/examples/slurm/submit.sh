#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Submits the parts in parts/ as Slurm job arrays of convert.sbatch (docs/scaling.md), from the
# work folder. Slurm's MaxArraySize (1001 by default) caps an array's indices at 0-1000, so
# parts go out in arrays of ARRAY_SIZE (default 1000) with PART_OFFSET set for each.
#   submit.sh            every part
#   submit.sh --resume   only the parts without a good status (0 or 1) in status/ that are
#                        not still queued or running (squeue -r, which Debian 12's Slurm 22.05
#                        has; sacct --array it has not)
set -euo pipefail
here=$(dirname "$(realpath "$0")")
ARRAY_SIZE=${ARRAY_SIZE:-1000}
AT_ONCE=${AT_ONCE:-100}      # tasks of an array running at once
SBATCH=${SBATCH:-sbatch}
SQUEUE=${SQUEUE:-squeue}

resume=0
[ "${1:-}" = --resume ] && resume=1
count=$(find parts -maxdepth 1 -name 'part.*' | wc -l)
[ "$count" -gt 0 ] || { echo "submit.sh: no parts in $(pwd)/parts" >&2; exit 2; }

# Parts still queued or running, by the PART_OFFSET of their array and their index.
declare -A busy=()
if [ "$resume" -eq 1 ]; then
    while read -r offset index; do
        [[ $index =~ ^[0-9]+$ ]] && busy[$((offset + index))]=1
    done < <("$SQUEUE" -r -h -u "${USER:-$(id -un)}" -n vormelle -o '%k %K' 2>/dev/null |
        sed -n 's/^part_offset=\([0-9]*\) /\1 /p')
fi

for ((offset = 0; offset < count; offset += ARRAY_SIZE)); do
    indices=()
    for ((i = 0; i < ARRAY_SIZE && offset + i < count; i++)); do
        part=$((offset + i))
        if [ "$resume" -eq 1 ]; then
            status=$(cat "status/$part" 2>/dev/null || true)
            { [ "$status" = 0 ] || [ "$status" = 1 ] || [ -n "${busy[$part]:-}" ]; } && continue
        fi
        indices+=("$i")
    done
    [ ${#indices[@]} -gt 0 ] || continue
    list=$(IFS=,; echo "${indices[*]}")
    [ "$resume" -eq 1 ] || list="0-$((${#indices[@]} - 1))"
    # The comment carries the offset, so a later --resume can tell the arrays' tasks apart.
    "$SBATCH" --array="$list%$AT_ONCE" --comment="part_offset=$offset" \
        --export=ALL,PART_OFFSET="$offset" "$here/convert.sbatch"
done
