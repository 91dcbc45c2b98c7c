# Windows test programs, run by CTest under Wine (label "wine").
#
# vaskor_wine_test(<name> SOURCES ... LIBS <target>... LIBRARY_SOURCES ...
#                  [SYSTEM_LIBS <windows library>...] [FILES <file>...]
#                  [DEPENDS <target>...] [LABELS ...])
#
# In a Windows build (the mingw toolchain) the program is an ordinary test of
# SOURCES linked with LIBS, run through the toolchain's emulator. In the Linux
# build it is cross-compiled directly with the mingw compiler from SOURCES and
# LIBRARY_SOURCES (the Windows sources of LIBS), with the include roots of
# LIBS and GoogleTest from Debian's sources, and run with wine64. FILES are
# copied beside the program, which runs in its own folder.
#
# All programs run through tests/support/wine-run, in the Wine prefix of
# this build tree (made on the first run: a few seconds and about 700 MB).

# The Windows sources of the in-memory loader (vaskor_loader on the win32
# platform), for programs cross-compiled directly.
set(VASKOR_WINDOWS_LOADER_SOURCES "")
foreach(source ElfExports InMemoryLibrary PeHeaders PeSteps PeUnwind)
    list(APPEND VASKOR_WINDOWS_LOADER_SOURCES ${PROJECT_SOURCE_DIR}/resources/${source}.cpp)
endforeach()
foreach(source Memory LastError SystemLibrary UnwindTable)
    list(APPEND VASKOR_WINDOWS_LOADER_SOURCES ${PROJECT_SOURCE_DIR}/platform/win32/${source}.cpp)
endforeach()

if(WIN32)
    set(VASKOR_MINGW_CXX ${CMAKE_CXX_COMPILER})
else()
    find_program(VASKOR_WINE64 NAMES wine64 PATHS /usr/lib/wine)
    find_program(VASKOR_MINGW_CXX x86_64-w64-mingw32-g++-posix)
    set(VASKOR_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
endif()

# The gtest objects for the directly cross-compiled programs, built once.
function(vaskor_wine_gtest out)
    set(dir ${CMAKE_BINARY_DIR}/wine-gtest)
    set(objects ${dir}/gtest-all.o ${dir}/gtest_main.o)
    if(NOT TARGET vaskor_wine_gtest)
        set(root /usr/src/googletest/googletest)
        file(MAKE_DIRECTORY ${dir})
        add_custom_command(OUTPUT ${objects}
            COMMAND ${VASKOR_MINGW_CXX} -std=c++20 -O1 -I${root}/include -I${root}
                    -c ${root}/src/gtest-all.cc -o ${dir}/gtest-all.o
            COMMAND ${VASKOR_MINGW_CXX} -std=c++20 -O1 -I${root}/include
                    -c ${root}/src/gtest_main.cc -o ${dir}/gtest_main.o
            COMMENT "GoogleTest for Windows test programs")
        add_custom_target(vaskor_wine_gtest DEPENDS ${objects})
    endif()
    set(${out} ${objects} PARENT_SCOPE)
endfunction()

function(vaskor_wine_test name)
    # The sanitizer and fuzz builds run only their own labels.
    if(VASKOR_FUZZ OR VASKOR_SANITIZE OR VASKOR_TSAN)
        return()
    endif()
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;LIBS;LIBRARY_SOURCES;SYSTEM_LIBS;FILES;DEPENDS;LABELS")
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${name}.d)
    file(MAKE_DIRECTORY ${dir})
    if(WIN32)
        add_executable(${name} ${ARG_SOURCES})
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${ARG_SYSTEM_LIBS} GTest::gtest
            GTest::gtest_main)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
        if(ARG_DEPENDS)
            add_dependencies(${name} ${ARG_DEPENDS})
        endif()
        set(program $<TARGET_FILE:${name}>)
        set(launcher ${VASKOR_TEST_SUPPORT}/wine-run --batch ${VASKOR_WINEPREFIX} ${VASKOR_WINE64})
    else()
        if(NOT VASKOR_WINE64 OR NOT VASKOR_MINGW_CXX)
            message(STATUS "${name}: no wine64 or mingw g++-posix, the Windows test is not built")
            return()
        endif()
        vaskor_wine_gtest(gtestObjects)
        set(includes -I/usr/src/googletest/googletest/include)
        set(headers "")
        foreach(lib IN LISTS ARG_LIBS)
            set(root ${CMAKE_BINARY_DIR}/include-roots/${lib})
            list(APPEND includes -I${root})
            file(GLOB libHeaders CONFIGURE_DEPENDS ${root}/*/*.h)
            list(APPEND headers ${libHeaders})
        endforeach()
        set(sources "")
        foreach(source IN LISTS ARG_SOURCES)
            get_filename_component(source ${source} ABSOLUTE)
            list(APPEND sources ${source})
        endforeach()
        set(systemLibs "")
        foreach(lib IN LISTS ARG_SYSTEM_LIBS)
            list(APPEND systemLibs -l${lib})
        endforeach()
        set(program ${dir}/${name}.exe)
        add_custom_command(OUTPUT ${program}
            COMMAND ${VASKOR_MINGW_CXX} -std=c++20 -O1 -Wall -Wextra -static ${includes}
                    -o ${program} ${sources} ${ARG_LIBRARY_SOURCES} ${gtestObjects} ${systemLibs}
            DEPENDS ${sources} ${ARG_LIBRARY_SOURCES} ${headers} ${gtestObjects}
            COMMENT "Windows test program ${name}.exe")
        add_custom_target(${name} ALL DEPENDS ${program})
        add_dependencies(${name} vaskor_wine_gtest ${ARG_DEPENDS})
        set(launcher ${VASKOR_TEST_SUPPORT}/wine-run --batch ${VASKOR_WINEPREFIX} ${VASKOR_WINE64})
    endif()
    foreach(file IN LISTS ARG_FILES)
        add_custom_command(TARGET ${name} POST_BUILD
            COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${dir})
    endforeach()
    # A Windows program that ends early may still exit with 0: each case
    # passes only with GoogleTest's own summary (vaskor_test_cases).
    vaskor_test_cases(${name} PROGRAM ${program} LAUNCHER ${launcher}
        LABELS wine ${ARG_LABELS} WORKING_DIRECTORY ${dir})
endfunction()
