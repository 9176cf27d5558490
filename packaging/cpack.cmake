# `cpack -G DEB` in the build folder: a Debian package of what `cmake --install` lays out, under
# /usr. Included from the top level, since CPack reads the variables of the scope that includes it.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vormelle)
set(CPACK_PACKAGE_VENDOR "The Vormelle developers")
set(CPACK_PACKAGE_CONTACT "Vormelle <support@vormelle.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert TIFF images into DjVu documents")
set(CPACK_PACKAGE_DESCRIPTION "Vormelle turns TIFF images, such as the pages a scanner \
writes, into DjVu documents. Files come from a file dialog, a whole folder tree, the file \
manager or the command line; the results go into one folder or next to each original.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vormelle.example/)
# The libraries the program links (Qt, libtiff, DjVuLibre) come from dpkg-shlibdeps; libtiff6
# also brings the libraries that the carried tiff2pdf's libtiff loads (WebP, zstd, JBIG...).
# What it cannot see: pdf2djvu and DjVuLibre's tools run as programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pdf2djvu, djvulibre-bin")
set(CPACK_STRIP_FILES ON)

include(CPack)
