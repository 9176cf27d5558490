#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# scripts/check-layers on small planted trees: a clean tree passes; an include that runs back
# up, one between two subsystems, one of the real dialogs from the shell, and a file in no layer
# each fail, naming the line.
#   check-layers.sh <scripts/check-layers>
set -euo pipefail
check=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A tree without git: the script then reads every file below the root.
plant() {
    rm -rf "$scratch/tree"
    mkdir -p "$scratch/tree"/{platform,app/paths,app/program,codec,engine,inputs,convert,resources,tests}
    printf '#pragma once\n' >"$scratch/tree/platform/dialogs.h"
    printf '#pragma once\n' >"$scratch/tree/platform/qtdialogs.h"
    printf '#include "platform/dialogs.h"\n' >"$scratch/tree/app/form1.h"
    printf '#include "app/form1.h"\n#include "resources/toolfiles.h"\n' >"$scratch/tree/convert/run.cpp"
    printf '#pragma once\n' >"$scratch/tree/resources/toolfiles.h"
    printf '#include "platform/dialogs.h"\n' >"$scratch/tree/codec/jb2.cpp"
    printf '#include "codec/jb2.h"\n#include "app/paths/paths.h"\n' >"$scratch/tree/engine/direct.cpp"
    printf '#include "convert/run.h"\n#include "platform/qtdialogs.h"\n' >"$scratch/tree/app/program/main.cpp"
    # Tests may include anything.
    printf '#include "app/program/main.h"\n' >"$scratch/tree/tests/tst_any.cpp"
}

# expect <status> <grep pattern or ""> <what>
expect() {
    status=0
    "$check" --root "$scratch/tree" 2>"$scratch/err" || status=$?
    [ "$status" -eq "$1" ] || { cat "$scratch/err" >&2; fail "$3: status $status, not $1"; }
    [ -z "$2" ] || grep -q "$2" "$scratch/err" || { cat "$scratch/err" >&2; fail "$3: no line $2"; }
}

plant
expect 0 "" "a clean tree"

plant
printf '\n#include "app/form1.h"\n' >>"$scratch/tree/platform/dialogs.h"
expect 1 '^check-layers: platform/dialogs.h:3: includes "app/form1.h"' "platform over the shell"

plant
printf '#include "inputs/addall.h"\n' >"$scratch/tree/app/paths/paths.cpp"
expect 1 '^check-layers: app/paths/paths.cpp:1: ' "the path routines over a subsystem"

plant
printf '#include "app/program/startup.h"\n' >"$scratch/tree/inputs/addall.cpp"
expect 1 '^check-layers: inputs/addall.cpp:1: .* may not include program' "a subsystem over the program"

plant
printf '#include "convert/run.h"\n' >"$scratch/tree/inputs/addall.cpp"
expect 1 '^check-layers: inputs/addall.cpp:1: .* inputs/ and convert/ are both subsystems' "one subsystem in another"

plant
printf '#include "platform/qtdialogs.h"\n' >"$scratch/tree/app/startupenv.cpp"
expect 1 '^check-layers: app/startupenv.cpp:1: includes "platform/qtdialogs.h"' "the real dialogs in the shell"

# The coders know only the platform; the engine knows no window.
for above in app/paths/paths.h resources/toolfiles.h engine/direct.h app/form1.h; do
    plant
    printf '#include "%s"\n' "$above" >>"$scratch/tree/codec/jb2.cpp"
    expect 1 "^check-layers: codec/jb2.cpp:2: includes \"$above\"" "the coders over $above"
done
plant
printf '#include "app/form1.h"\n' >>"$scratch/tree/engine/direct.cpp"
expect 1 '^check-layers: engine/direct.cpp:3: includes "app/form1.h": engine' "the engine over the shell"

plant
mkdir -p "$scratch/tree/gadgets"
printf '#pragma once\n' >"$scratch/tree/gadgets/thing.h"
expect 2 '^check-layers: gadgets/thing.h: in no layer' "a folder in no layer"

plant
printf '#include "gadgets/thing.h"\n' >"$scratch/tree/convert/more.cpp"
expect 2 'convert/more.cpp:1: includes "gadgets/thing.h", in no layer' "an include in no layer"

echo "check-layers: all planted trees judged as expected"
