#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Folder scan benchmarks: "Add All" against find(1) on a generated tree of 2,000 folders and
# 50,000 files, the longest pause in event processing during that scan, and 100,000 rows added
# by a drop and cleared, with the peak memory. Every figure is measured in this one run.
#   bench/folders.sh [build-dir]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build" -j2 --target vormelle-bench-folders >/dev/null
bench="$build/bench/folders/vormelle-bench-folders"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

"$bench" generate-tree "$work/tree"
"$bench" generate-flat "$work/flat" 100000
"$bench" addall "$work/tree"
"$bench" drop "$work/flat"
