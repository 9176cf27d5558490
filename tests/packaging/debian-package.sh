#!/usr/bin/env bash
# Builds the Debian package with CPack, looks at its dependencies and contents, unpacks it into
# a scratch folder and runs the program from there.
#   debian-package.sh <cpack> <build folder> <app id>
set -euo pipefail
cpack=$1
build=$2
id=$3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB"; }
debs=("$scratch"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb"
deb=${debs[0]}

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The converters and DjVuLibre's tools run as programs; the libraries come from the linked ones.
for package in pdf2djvu djvulibre-bin libtiff6 libdjvulibre21 libqt6widgets6 libqt6gui6 \
    libqt6core6 libc6; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package"
done
# tiff2pdf travels inside the program.
! grep -q libtiff-tools <<<"$depends" || fail "Depends names libtiff-tools"

dpkg-deb -c "$deb" >"$scratch/contents"
! awk '{ print $2 }' "$scratch/contents" | grep -qv '^root/root$' || fail "files not owned by root"
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root/usr
for file in lib/vormelle/vormelle lib/vormelle/HAND-M.CUR lib/vormelle/drag.ico \
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/48x48/apps/$id.png share/icons/hicolor/256x256/apps/$id.png \
    share/icons/hicolor/scalable/apps/$id.svg share/man/man1/vormelle.1.gz; do
    [ -f "$root/$file" ] || fail "the package lacks /usr/$file"
done
[ "$(find "$root/lib/vormelle/Samples" -name '*.tif' | wc -l)" -ge 4 ] || fail "samples missing"
[ "$(readlink "$root/bin/vormelle")" = ../lib/vormelle/vormelle ] ||
    fail "/usr/bin/vormelle does not lead to the program"
gzip -t "$root/share/man/man1/vormelle.1.gz" || fail "the manual page is no gzip file"

# Run from the unpacked tree, with no display: the launcher finds the program it leads to.
version=$(env -i PATH=/usr/bin:/bin ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} \
    ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} "$root/bin/vormelle" --version) ||
    fail "the unpacked program does not run"
[ "$version" = "vormelle $(dpkg-deb -f "$deb" Version)" ] ||
    fail "the program says '$version', the package $(dpkg-deb -f "$deb" Version)"
echo "package fine: $(basename "$deb")"
