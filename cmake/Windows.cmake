# The Windows x64 build (cmake/toolchains/mingw-w64-x86_64.cmake): the
# libraries scripts/windows-deps builds, the C and C++ runtimes linked into
# every program and DLL, and the test programs run under Wine.

set(VASKOR_WINDOWS_DEPS "" CACHE PATH "The prefix scripts/windows-deps prints")
if(NOT EXISTS "${VASKOR_WINDOWS_DEPS}/include/sodium.h")
    message(FATAL_ERROR "The Windows build needs the libraries of scripts/windows-deps: "
        "configure with -DVASKOR_WINDOWS_DEPS=<the prefix it prints> "
        "(now \"${VASKOR_WINDOWS_DEPS}\")")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH ${VASKOR_WINDOWS_DEPS})
# pkg-config finds the Windows libraries only, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} ${VASKOR_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# libsodium's header imports its functions from a DLL unless told it is linked in.
add_compile_definitions(SODIUM_STATIC)

# The runtimes (libstdc++, libgcc, winpthread) linked in: the programs and the
# SDK's DLL import system DLLs only.
add_link_options(-static -static-libgcc -static-libstdc++)

# wxWidgets, static for MSW, as its wx-config says. The programs choose the
# GUI subsystem themselves (WIN32_EXECUTABLE); the window tests stay console
# programs, whose output CTest reads.
if(VASKOR_BUILD_APP)
    set(wxConfig ${VASKOR_WINDOWS_DEPS}/bin/wx-config)
    execute_process(COMMAND ${wxConfig} --static=yes --cxxflags core,base
        OUTPUT_VARIABLE wxCxxFlags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${wxConfig} --static=yes --libs core,base
        OUTPUT_VARIABLE wxLibs OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(wxCxxFlags UNIX_COMMAND "${wxCxxFlags}")
    separate_arguments(wxLibs UNIX_COMMAND "${wxLibs}")
    list(FILTER wxLibs EXCLUDE REGEX "^(-mwindows|-Wl,--subsystem,windows)$")
    set(wxIncludes ${wxCxxFlags})
    list(FILTER wxIncludes INCLUDE REGEX "^-I")
    list(TRANSFORM wxIncludes REPLACE "^-I" "")
    list(FILTER wxCxxFlags EXCLUDE REGEX "^-I")
    add_library(wxwidgets INTERFACE)
    # System headers: the toolkit's own warnings are not ours.
    target_include_directories(wxwidgets SYSTEM INTERFACE ${wxIncludes})
    target_compile_options(wxwidgets INTERFACE ${wxCxxFlags})
    target_link_libraries(wxwidgets INTERFACE ${wxLibs})
endif()

# Test programs run under Wine, in a prefix of this build tree's own (made on
# the first run: about 700 MB and a few seconds).
set(VASKOR_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
if(VASKOR_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${PROJECT_SOURCE_DIR}/tests/support/wine-run ${VASKOR_WINEPREFIX} ${VASKOR_WINE64})
else()
    message(WARNING "No wine64 (./scripts/setup installs Wine): the Windows tests cannot run here")
endif()
