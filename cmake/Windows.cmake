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
# Windows 10's headers; no min/max macros over std::min and std::max.
# libsodium's header imports its functions from a DLL unless told it is linked in.
add_compile_definitions(_WIN32_WINNT=0x0A00 NOMINMAX SODIUM_STATIC)

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
    set(wxDefinitions ${wxCxxFlags})
    list(FILTER wxDefinitions INCLUDE REGEX "^-D")
    list(TRANSFORM wxDefinitions REPLACE "^-D" "")
    list(FILTER wxCxxFlags EXCLUDE REGEX "^-[ID]")
    add_library(wxwidgets INTERFACE)
    # System headers: the toolkit's own warnings are not ours. The resource
    # compiler takes the include folders and definitions, not the compiler flags.
    target_include_directories(wxwidgets SYSTEM INTERFACE ${wxIncludes})
    target_compile_definitions(wxwidgets INTERFACE ${wxDefinitions})
    target_compile_options(wxwidgets INTERFACE $<$<COMPILE_LANGUAGE:C,CXX>:${wxCxxFlags}>)
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

# vaskor_windows_program(<target> DESCRIPTION <text> EXECUTION_LEVEL <level>)
#
# A window program for Windows: the GUI subsystem, the project's icon as the
# executable's icon (made from assets/icon.png), a manifest (the execution
# level, common controls 6, per-monitor DPI awareness) and version information.
find_program(VASKOR_IMAGEMAGICK NAMES convert-im6.q16 convert REQUIRED)
function(vaskor_windows_program target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "DESCRIPTION;EXECUTION_LEVEL" "")
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    set(icon ${dir}/program.ico)
    set(manifest ${dir}/program.manifest)
    set(png ${PROJECT_SOURCE_DIR}/assets/icon.png)
    add_custom_command(OUTPUT ${icon}
        COMMAND ${VASKOR_IMAGEMAGICK} ${png} -define icon:auto-resize=256,64,48,32,16 ${icon}
        DEPENDS ${png}
        COMMENT "Icon of ${target}.exe"
        VERBATIM)
    set(name ${target})
    set(fileName ${target}.exe)
    set(manifestName VaskorVpn.${target})
    set(description ${ARG_DESCRIPTION})
    set(executionLevel ${ARG_EXECUTION_LEVEL})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/program.manifest.in ${manifest} @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/program.rc.in ${dir}/program.rc @ONLY)
    target_sources(${target} PRIVATE ${dir}/program.rc)
    set_source_files_properties(${dir}/program.rc PROPERTIES OBJECT_DEPENDS "${icon};${manifest}")
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()
