#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ./run's answer to a machine without a display: the demo must convert every sample for real
# and leave a screenshot of the running window.
set -euo pipefail
source_dir=$1
program=$2
# A real X window on a virtual display, whatever platform the caller asked Qt for.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
out=$("$source_dir/scripts/demo" "$program")
echo "$out"

mapfile -t results < <(echo "$out" | grep '\.djvu$')
[ "${#results[@]}" -eq 4 ] || { echo "expected 4 results, got ${#results[@]}" >&2; exit 1; }
for f in "${results[@]}"; do
    pages=$(djvused -e n "$f")
    [ "$pages" -ge 1 ] || { echo "$f has no pages" >&2; exit 1; }
done
shot=$(echo "$out" | sed -n 's/^Screenshot taken during the run: //p')
[ -s "$shot" ] || { echo "no screenshot" >&2; exit 1; }
# A real picture of the window, not an empty screen: many colours.
colours=$(identify -format '%k' "$shot")
[ "$colours" -gt 20 ] || { echo "the screenshot holds $colours colours" >&2; exit 1; }
rm -rf "$(dirname "$shot")"
