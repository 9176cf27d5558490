#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The files the desktop reads about Vormelle, checked with the desktop's own validators and
# against the program:
#   desktop-files.sh <what> <source folder> <app id> <program>
# <what>: entry (desktop-file-validate), metainfo (appstreamcli), icon, or manual (groff).
set -euo pipefail
what=$1
resources=$2/resources
id=$3
program=$4
fail() { echo "FAIL: $*" >&2; exit 1; }

case $what in
entry)
    entry=$resources/$id.desktop
    desktop-file-validate "$entry" || fail "$entry does not validate"
    # "Open with" hands over the files; the menu and the window find the icon by the id.
    grep -qx 'Exec=vormelle %F' "$entry" || fail "Exec does not take files"
    grep -qx 'MimeType=image/tiff;' "$entry" || fail "no TIFF in MimeType"
    grep -qx "Icon=$id" "$entry" || fail "the icon is not $id"
    ;;
metainfo)
    metainfo=$resources/$id.metainfo.xml
    # Screenshots and home page are on the web; the check stays on this machine.
    appstreamcli validate --no-net "$metainfo" || fail "$metainfo does not validate"
    for element in "<id>$id</id>" \
        "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
        "<icon type=\"stock\">$id</icon>" "<binary>vormelle</binary>" \
        "<mediatype>image/tiff</mediatype>" "<content_rating type=\"oars-1.1\""; do
        grep -qF "$element" "$metainfo" || fail "the metainfo lacks $element"
    done
    # The newest release named is the version the program reports.
    version=$("$program" --version | awk '{ print $2 }')
    release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -1 | cut -d'"' -f2)
    [ "$release" = "$version" ] || fail "newest release $release, program $version"
    ;;
icon)
    svg=$resources/icons/vormelle.svg
    xmllint --noout "$svg" || fail "$svg is not well-formed"
    grep -q 'viewBox="0 0 256 256"' "$svg" || fail "$svg is not square"
    # Drawn by hand: nothing outside the file.
    ! grep -Eq '(xlink:)?href="[^#]' "$svg" || fail "$svg refers to other files"
    ;;
manual)
    page=$resources/vormelle.1
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "groff: $warnings"
    # Every option the program knows is documented, and no other.
    help=$("$program" --help)
    options=$(grep -oE -- '--[a-z]+(-[a-z]+)*' <<<"$help" | sort -u)
    documented=$(grep -oE -- '\\-\\-[a-z]+(\\-[a-z]+)*' "$page" | sed 's/\\-/-/g' | sort -u)
    [ "$options" = "$documented" ] ||
        fail "options differ: help has $(echo $options), the page $(echo $documented)"
    for status in 0 1 2 3 130 143; do
        grep -qE "^\.B $status\$" "$page" || fail "exit status $status is not documented"
    done
    ;;
*)
    fail "unknown check $what"
    ;;
esac
echo "$what: fine"
