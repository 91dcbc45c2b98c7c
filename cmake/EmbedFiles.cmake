# vaskor_embed_files(<target> ENTRIES <name> <file> [<name> <file> ...])
#
# Makes an object library <target> that carries the files' bytes in read-only
# data (one assembler .incbin per file: no generated C++ arrays, so the build
# stays fast whatever the size) and defines embeddedFileList(), which returns
# the files in the order given. <file> is an absolute path or a target name,
# whose built file is then embedded and rebuilt into the object when it changes.
function(vaskor_embed_files target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "ENTRIES")
    set(asm "")
    set(decls "")
    set(rows "")
    set(depends "")
    set(targets "")
    set(copies "")
    set(index 0)
    list(LENGTH ARG_ENTRIES count)
    while(index LESS count)
        list(GET ARG_ENTRIES ${index} name)
        math(EXPR next "${index} + 1")
        list(GET ARG_ENTRIES ${next} file)
        math(EXPR n "${index} / 2")
        if(TARGET ${file})
            # OBJECT_DEPENDS takes no generator expression: embed a copy of
            # the built file, refreshed whenever the target is rebuilt.
            set(copy ${CMAKE_CURRENT_BINARY_DIR}/${target}/file${n})
            # Debug information stays in the build's own library (the one its
            # tests and debuggers load); the program carries the code only.
            if(CMAKE_STRIP AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
                set(copyCommand ${CMAKE_STRIP} --strip-debug -o ${copy} $<TARGET_FILE:${file}>)
            else()
                set(copyCommand ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${file}> ${copy})
            endif()
            add_custom_command(OUTPUT ${copy} COMMAND ${copyCommand} DEPENDS ${file})
            list(APPEND targets ${file})
            list(APPEND copies ${copy})
            set(file ${copy})
        endif()
        list(APPEND depends "${file}")
        string(APPEND asm
            "    .balign 16\n"
            "    .globl vaskorEmbedded${n}Begin\n"
            "vaskorEmbedded${n}Begin:\n"
            "    .incbin \"${file}\"\n"
            "    .globl vaskorEmbedded${n}End\n"
            "vaskorEmbedded${n}End:\n")
        string(APPEND decls
            "extern \"C\" const unsigned char vaskorEmbedded${n}Begin[];\n"
            "extern \"C\" const unsigned char vaskorEmbedded${n}End[];\n")
        string(APPEND rows "        {\"${name}\", vaskorEmbedded${n}Begin, vaskorEmbedded${n}End},\n")
        math(EXPR index "${index} + 2")
    endwhile()

    if(WIN32)
        set(section "    .section .rdata,\"dr\"\n")
        set(trailer "")
    else()
        set(section "    .section .rodata.vaskor_embedded,\"a\"\n")
        set(trailer "    .section .note.GNU-stack,\"\",@progbits\n")
    endif()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target})
    file(GENERATE OUTPUT ${dir}/EmbeddedData.S CONTENT "${section}${asm}${trailer}")
    file(GENERATE OUTPUT ${dir}/EmbeddedFileList.cpp CONTENT
"#include \"resources/EmbeddedFileList.h\"

${decls}
std::span<const EmbeddedFile> embeddedFileList() {
    static const EmbeddedFile files[] = {
${rows}    };
    return files;
}
")
    add_library(${target} OBJECT ${dir}/EmbeddedData.S ${dir}/EmbeddedFileList.cpp ${copies})
    # Generated: nothing for clang-tidy, which cannot read the assembler anyway.
    set_target_properties(${target} PROPERTIES EXPORT_COMPILE_COMMANDS OFF)
    target_link_libraries(${target} PRIVATE vaskor_loader)
    set_source_files_properties(${dir}/EmbeddedData.S PROPERTIES OBJECT_DEPENDS "${depends}")
    if(targets)
        add_dependencies(${target} ${targets})
    endif()
endfunction()
