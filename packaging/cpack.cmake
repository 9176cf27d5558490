# SPDX-License-Identifier: GPL-3.0-or-later
# `cpack -G DEB` in the build folder: a Debian package of what `cmake --install` lays out, under
# /usr. Included from the top level, since CPack reads the variables of the scope that includes it.
# A package for a distribution is built with VORMELLE_SYSTEM_TIFF2PDF=ON (docs/packaging.md).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vormelle)
set(CPACK_PACKAGE_VENDOR "The Vormelle developers")
set(CPACK_PACKAGE_CONTACT "${VORMELLE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORMELLE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert TIFF images into DjVu documents")
set(CPACK_PACKAGE_DESCRIPTION "Vormelle turns TIFF images, such as the pages a scanner
writes, into DjVu documents. Files come from a file dialog, a folder tree, the
file manager or the command line; the results go into one folder, next to each
original, or into one document.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
if(NOT VORMELLE_HOME_PAGE STREQUAL "")
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VORMELLE_HOME_PAGE}")
endif()
# The libraries the program links (Qt, libtiff, DjVuLibre) come from dpkg-shlibdeps; libtiff6
# also brings the libraries that a carried tiff2pdf's libtiff loads (WebP, zstd, JBIG...).
# What it cannot see: pdf2djvu, DjVuLibre's tools and the system's tiff2pdf run as programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pdf2djvu, djvulibre-bin")
if(VORMELLE_SYSTEM_TIFF2PDF)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libtiff-tools")
endif()
# The OCR box's English data and the orientation of turned scans, Qt's own buttons in the user's
# language, and "Open Folder".
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "tesseract-ocr-eng, tesseract-ocr-osd, qt6-translations-l10n, xdg-utils")
set(CPACK_STRIP_FILES ON)

include(CPack)
