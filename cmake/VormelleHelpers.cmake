# SPDX-License-Identifier: GPL-3.0-or-later
# Tests that read the program's English texts run in English whatever the machine's language.
set(VORMELLE_ENGLISH_ENV "LANG=C.UTF-8" "LANGUAGE=" "LC_ALL=" "LC_MESSAGES=")

# vormelle_add_test(<name> [WINDOW_FREE] SOURCES <files...> LIBS <targets...>)
# One Qt Test executable per test, run headless on the offscreen platform. WINDOW_FREE tests get
# the test folders but not the shell's scripted dialogs, so they link only what LIBS names.
function(vormelle_add_test name)
    cmake_parse_arguments(ARG "WINDOW_FREE" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    if(ARG_WINDOW_FREE)
        target_link_libraries(${name} PRIVATE vormelle_test_env ${ARG_LIBS} Qt6::Test)
    else()
        target_link_libraries(${name} PRIVATE vormelle_test_support ${ARG_LIBS} Qt6::Test)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VORMELLE_PROGRAM_DIR=${VORMELLE_PROGRAM_DIR};VORMELLE_SOURCE_DIR=${CMAKE_SOURCE_DIR};${VORMELLE_ENGLISH_ENV}")
endfunction()
