#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package as a distribution would (the system's tiff2pdf, no tests) in a
# folder of its own, looks at its fields and contents, runs lintian on it when lintian is
# installed, unpacks it into a scratch folder and runs the program from there.
#   debian-package.sh <cmake> <cpack> <source folder> <build folder> <app id> [compiler launcher]
set -euo pipefail
cmake=$1
cpack=$2
source=$3
build=$4
id=$5
launcher=${6:-}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Kept between runs, so only what changed is built again.
deb_build=$build/debian-package
"$cmake" -S "$source" -B "$deb_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORMELLE_TESTS=OFF -DVORMELLE_SYSTEM_TIFF2PDF=ON \
    ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} >"$scratch/configure.log" 2>&1 ||
    { cat "$scratch/configure.log" >&2; fail "configure"; }
"$cmake" --build "$deb_build" -j 2 >"$scratch/build.log" 2>&1 ||
    { tail -40 "$scratch/build.log" >&2; fail "build"; }
"$cpack" -G DEB --config "$deb_build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB"; }
debs=("$scratch"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb"
deb=${debs[0]}

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
# The converters and DjVuLibre's tools run as programs; the libraries come from the linked ones.
for package in pdf2djvu djvulibre-bin libtiff-tools libtiff6 libdjvulibre21 libqt6widgets6 \
    libqt6gui6 libqt6core6 libc6; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for package in tesseract-ocr-eng qt6-translations-l10n xdg-utils; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$recommends" || fail "Recommends lacks $package"
done
# No made-up home page: the field is there only when the packager sets one.
[ -z "$(dpkg-deb -f "$deb" Homepage)" ] || fail "a Homepage nobody set"
grep -q '<.*@.*>' <<<"$(dpkg-deb -f "$deb" Maintainer)" || fail "Maintainer without an address"

dpkg-deb -c "$deb" >"$scratch/contents"
! awk '{ print $2 }' "$scratch/contents" | grep -qv '^root/root$' || fail "files not owned by root"
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root/usr
for file in lib/vormelle/vormelle lib/vormelle/HAND-M.CUR lib/vormelle/drag.ico \
    share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/48x48/apps/$id.png share/icons/hicolor/256x256/apps/$id.png \
    share/icons/hicolor/scalable/apps/$id.svg share/man/man1/vormelle.1.gz \
    share/doc/vormelle/copyright share/doc/vormelle/changelog.gz; do
    [ -f "$root/$file" ] || fail "the package lacks /usr/$file"
done
[ "$(find "$root/lib/vormelle/Samples" -name '*.tif' | wc -l)" -ge 4 ] || fail "samples missing"
# The text layer's recognition runs in a helper beside the program.
[ -x "$root/lib/vormelle/vormelle-ocr" ] || fail "the package lacks the helper lib/vormelle/vormelle-ocr"
[ "$(readlink "$root/bin/vormelle")" = ../lib/vormelle/vormelle ] ||
    fail "/usr/bin/vormelle does not lead to the program"
gzip -t "$root/share/man/man1/vormelle.1.gz" || fail "the manual page is no gzip file"
# The system's libtiff serves: no copy of it, libjpeg or zlib inside the program.
! grep -qa 'LIBTIFF, Version' "$root/lib/vormelle/vormelle" || fail "the program carries libtiff"

if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$scratch/lintian.log" 2>&1 || true
    cat "$scratch/lintian.log"
    ! grep -q '^E: ' "$scratch/lintian.log" || fail "lintian reports errors"
else
    echo "lintian is not installed: not run"
fi

# Run from the unpacked tree, with no display: the launcher finds the program it leads to.
version=$(env -i PATH=/usr/bin:/bin ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} \
    ${UBSAN_OPTIONS:+UBSAN_OPTIONS="$UBSAN_OPTIONS"} "$root/bin/vormelle" --version) ||
    fail "the unpacked program does not run"
[ "$version" = "vormelle $(dpkg-deb -f "$deb" Version)" ] ||
    fail "the program says '$version', the package $(dpkg-deb -f "$deb" Version)"

# And it converts, with the system's tiff2pdf.
mkdir "$scratch/out-djvu"
env -i PATH=/usr/bin:/bin HOME="$scratch" ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} \
    "$root/bin/vormelle" --convert --encoder pdf --output "$scratch/out-djvu" \
    "$root/lib/vormelle/Samples/letter-bitonal-g4.tif" >/dev/null 2>"$scratch/convert.log" ||
    { cat "$scratch/convert.log" >&2; fail "the packaged program does not convert"; }
[ -s "$scratch/out-djvu/letter-bitonal-g4.djvu" ] || fail "no result from the packaged program"

# With a text layer, through the packaged helper: the page's words are in the result.
mkdir "$scratch/out-text"
env -i PATH=/usr/bin:/bin HOME="$scratch" ${ASAN_OPTIONS:+ASAN_OPTIONS="$ASAN_OPTIONS"} \
    "$root/bin/vormelle" --convert --encoder direct --ocr=eng --output "$scratch/out-text" \
    "$root/lib/vormelle/Samples/letter-bitonal-g4.tif" >/dev/null 2>"$scratch/ocr.log" ||
    { cat "$scratch/ocr.log" >&2; fail "the packaged program does not read text"; }
[ "$(djvutxt "$scratch/out-text/letter-bitonal-g4.djvu" | wc -w)" -ge 20 ] ||
    fail "the packaged program's text layer is empty"
echo "package fine: $(basename "$deb")"
