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
    # Tests that read text start the recognition helper from the program folder.
    if(TARGET vormelle-ocr)
        add_dependencies(${name} vormelle-ocr)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    # Instrumented code runs several times slower; the limit is there to catch hangs, not speed.
    if(VORMELLE_SANITIZE)
        math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * 3")
    endif()
    # Qt Test aborts a single test function after its own limit (300 s by default).
    math(EXPR function_timeout_ms "${ARG_TIMEOUT} * 1000")
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_FUNCTION_TIMEOUT=${function_timeout_ms};VORMELLE_PROGRAM_DIR=${VORMELLE_PROGRAM_DIR};VORMELLE_SOURCE_DIR=${CMAKE_SOURCE_DIR};${VORMELLE_ENGLISH_ENV}")
endfunction()
