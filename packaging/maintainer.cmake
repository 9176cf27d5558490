# SPDX-License-Identifier: GPL-3.0-or-later
# Who answers for the package, and its home page: the packager's to set, never made up here.
# Empty maintainer: DEBFULLNAME and DEBEMAIL, as Debian's own tools take them; without those,
# a placeholder that names nobody. Empty home page: no Homepage field.
set(VORMELLE_PACKAGE_MAINTAINER "" CACHE STRING
    "The Debian package's Maintainer, \"Name <address>\"")
if(VORMELLE_PACKAGE_MAINTAINER STREQUAL "")
    if(DEFINED ENV{DEBEMAIL} AND NOT "$ENV{DEBEMAIL}" STREQUAL "")
        set(name "$ENV{DEBFULLNAME}")
        if(name STREQUAL "")
            set(name "$ENV{DEBEMAIL}")
        endif()
        set(VORMELLE_PACKAGE_MAINTAINER "${name} <$ENV{DEBEMAIL}>")
    else()
        # Valid, and plainly nobody's: the .invalid domain never resolves (RFC 6761).
        set(VORMELLE_PACKAGE_MAINTAINER "Maintainer not set <not-set@maintainer.invalid>")
        message(STATUS "No package maintainer given (VORMELLE_PACKAGE_MAINTAINER, DEBEMAIL): "
                       "the package names none")
    endif()
endif()

