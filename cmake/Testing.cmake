if(WIN32)
    # Debian ships GoogleTest for the build machine only: the Windows test
    # programs build it from Debian's sources (its targets carry the GTest:: names).
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(library gtest gtest_main gmock gmock_main)
        set_target_properties(${library} PROPERTIES EXPORT_COMPILE_COMMANDS OFF)
    endforeach()
else()
    find_package(GTest REQUIRED)
endif()
find_package(Threads REQUIRED)

set(VASKOR_TEST_SUPPORT ${PROJECT_SOURCE_DIR}/tests/support)

# GoogleTest's headers, parsed once per build instead of once per test file
# (about a second each). An executable owns them, so that they are compiled
# with the test programs' own flags (-fPIE).
if(NOT VASKOR_FUZZ)
    add_executable(vaskor_test_headers ${VASKOR_TEST_SUPPORT}/TestHeaders.cpp)
    target_link_libraries(vaskor_test_headers PRIVATE GTest::gtest GTest::gmock Threads::Threads)
    target_precompile_headers(vaskor_test_headers PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
    # wxWidgets' flags define these for the window tests: every test program
    # does the same (a no-op on 64-bit Linux), so one set of headers serves all.
    if(NOT WIN32)
        set(VASKOR_TEST_DEFINES _FILE_OFFSET_BITS=64 _REENTRANT)
        target_compile_definitions(vaskor_test_headers PRIVATE ${VASKOR_TEST_DEFINES})
    endif()
endif()

# vaskor_test_cases(<name> PROGRAM <path> [LAUNCHER <command>...] [LABELS ...]
#                   [TIMEOUT <seconds>] [WORKING_DIRECTORY <dir>])
#
# Each case of the GoogleTest program at PROGRAM (a generator expression may
# name it) becomes a CTest test "<name>.<Suite>.<Case>", listed when CTest
# runs (cmake/TestCases.cmake) and run through LAUNCHER (Wine, a private
# display). A skip counts for its own case alone, and a case passes only when
# its program exits with 0 after GoogleTest's summary (tests/support/gtest-case):
# a program that ends early fails. TIMEOUT is each case's.
function(vaskor_test_cases name)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "PROGRAM;TIMEOUT;WORKING_DIRECTORY" "LAUNCHER;LABELS")
    if(NOT ARG_WORKING_DIRECTORY)
        set(ARG_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    set(launcher "")
    foreach(part IN LISTS ARG_LAUNCHER)
        string(APPEND launcher " [==[${part}]==]")
    endforeach()
    set(timeout "")
    if(ARG_TIMEOUT)
        set(timeout " TIMEOUT ${ARG_TIMEOUT}")
    endif()
    set(include ${CMAKE_CURRENT_BINARY_DIR}/${name}-cases.cmake)
    file(GENERATE OUTPUT ${include} CONTENT
"include([==[${PROJECT_SOURCE_DIR}/cmake/TestCases.cmake]==])
vaskor_register_cases([==[${name}]==] [==[${ARG_PROGRAM}]==] [==[${CMAKE_CURRENT_BINARY_DIR}/${name}-cases.txt]==]
    [==[${VASKOR_TEST_SUPPORT}/gtest-case]==]${launcher})
set_tests_properties(\${VASKOR_CASES} PROPERTIES
    LABELS [==[${ARG_LABELS}]==]
    ENVIRONMENT VASKOR_SDK_PORT_MAPPING=off
    SKIP_REGULAR_EXPRESSION [==[\\[  SKIPPED \\]]==]
    WORKING_DIRECTORY [==[${ARG_WORKING_DIRECTORY}]==]${timeout})
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include})
endfunction()

# vaskor_add_test(<name> SOURCES ... [LIBS ...] [DEFINES ...] [LABELS ...] [TIMEOUT <s>] [XVFB])
#
# One GoogleTest program whose cases CTest runs one by one (vaskor_test_cases).
# Label "unit" for the tests that also run under the sanitizers, "window" for
# those that need a display (XVFB starts a private Xvfb for each case), "root"
# for those that need CAP_NET_ADMIN. A case that skips is reported as skipped,
# never as passed. The Windows build builds the unit tests (a folder keeps its
# Linux-only ones out with if(NOT WIN32)); they run under Wine with the label
# "wine".
function(vaskor_add_test name)
    if(VASKOR_FUZZ)
        return()
    endif()
    cmake_parse_arguments(PARSE_ARGV 1 ARG "XVFB" "TIMEOUT" "SOURCES;LIBS;DEFINES;LABELS")
    set(launcher "")
    if(WIN32)
        if(NOT "unit" IN_LIST ARG_LABELS OR ARG_XVFB)
            return()
        endif()
        list(APPEND ARG_LABELS wine)
        set(launcher ${VASKOR_TEST_SUPPORT}/wine-run --batch ${VASKOR_WINEPREFIX} ${VASKOR_WINE64})
    elseif(ARG_XVFB)
        set(launcher ${VASKOR_TEST_SUPPORT}/with-xvfb)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} vaskor_test_support GTest::gtest GTest::gmock
        Threads::Threads)
    target_compile_definitions(${name} PRIVATE ${ARG_DEFINES} ${VASKOR_TEST_DEFINES})
    target_precompile_headers(${name} REUSE_FROM vaskor_test_headers)
    if(NOT ARG_SOURCES MATCHES "Main\\.cpp")
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    vaskor_test_cases(${name} PROGRAM $<TARGET_FILE:${name}> LAUNCHER ${launcher}
        LABELS ${ARG_LABELS} TIMEOUT ${ARG_TIMEOUT})
    foreach(label IN LISTS ARG_LABELS)
        set_property(GLOBAL APPEND PROPERTY VASKOR_TEST_PROGRAMS_${label} ${name})
    endforeach()
endfunction()

# vaskor_label_target(<label>): a target "vaskor_tests_<label>" that builds
# the test programs of that label and what they need, for a build that runs
# only them (the sanitizers' and the fuzzers'). Called once all tests are added.
function(vaskor_label_target label)
    get_property(programs GLOBAL PROPERTY VASKOR_TEST_PROGRAMS_${label})
    if(programs)
        add_custom_target(vaskor_tests_${label})
        add_dependencies(vaskor_tests_${label} ${programs})
    endif()
endfunction()

# vaskor_add_fuzzer(<name> SOURCES ... [LIBS ...])
#
# A libFuzzer target, built only with VASKOR_FUZZ (clang). CTest runs it for
# VASKOR_FUZZ_SECONDS and fails on any crash or sanitizer report.
set(VASKOR_FUZZ_SECONDS 30 CACHE STRING "How long CTest runs each fuzz target")
function(vaskor_add_fuzzer name)
    if(NOT VASKOR_FUZZ)
        return()
    endif()
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;LIBS")
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} vaskor_test_support)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME ${name} COMMAND ${name} -max_total_time=${VASKOR_FUZZ_SECONDS} -print_final_stats=1 ${corpus})
    set_tests_properties(${name} PROPERTIES LABELS fuzz)
    set_property(GLOBAL APPEND PROPERTY VASKOR_TEST_PROGRAMS_fuzz ${name})
endfunction()

# vaskor_add_subfolders([EXCEPT <name>...]): every folder below the current one
# that has a CMakeLists.txt, so that a new folder of tests needs no registration.
function(vaskor_add_subfolders)
    cmake_parse_arguments(PARSE_ARGV 0 ARG "" "" "EXCEPT")
    file(GLOB areas LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(area IN LISTS areas)
        get_filename_component(name ${area} NAME)
        if(EXISTS ${area}/CMakeLists.txt AND NOT name IN_LIST ARG_EXCEPT)
            add_subdirectory(${area})
        endif()
    endforeach()
endfunction()

# No test asks the machine's own router to forward a port (that would reach
# outside the test's namespaces): every test starts with the SDK's port
# mapping off, and the router tests turn it on for their own machines.
function(add_test)
    _add_test(${ARGV})
    cmake_parse_arguments(PARSE_ARGV 0 ARG "" "NAME" "")
    if(ARG_NAME)
        set_property(TEST ${ARG_NAME} APPEND PROPERTY ENVIRONMENT VASKOR_SDK_PORT_MAPPING=off)
    endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/WineTesting.cmake)
