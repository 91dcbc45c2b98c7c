# Read by CTest, not by the build: registers each case of one GoogleTest
# program as a test of its own, so that a case that skips is counted as
# skipped alone and a failing case beside it still fails.
#
# vaskor_register_cases(<name> <program> <cases file> <case runner> [<launcher>...])
#
# Lists the cases with --gtest_list_tests (through the launcher: Wine, a
# private display) when the program is newer than the cases file, keeps the
# list there, and adds one test "<name>.<Suite>.<Case>" for each case that is
# not disabled, run through the case runner (tests/support/gtest-case). Sets VASKOR_CASES in
# the caller to the names added. A program that cannot list its cases gets
# one test that shows why.
function(vaskor_register_cases name program casesFile runner)
    set(launcher ${ARGN})
    if(NOT EXISTS "${program}")
        add_test("${name}.NOT_BUILT" "${name}_NOT_BUILT")
        set(VASKOR_CASES "${name}.NOT_BUILT" PARENT_SCOPE)
        return()
    endif()
    if(NOT EXISTS "${casesFile}" OR "${program}" IS_NEWER_THAN "${casesFile}")
        execute_process(COMMAND ${launcher} "${program}" --gtest_list_tests
            OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result TIMEOUT 120)
        if(NOT result EQUAL 0)
            add_test("${name}.LIST_CASES" ${launcher} "${program}" --gtest_list_tests)
            set(VASKOR_CASES "${name}.LIST_CASES" PARENT_SCOPE)
            return()
        endif()
        string(REPLACE "\r" "" listing "${listing}")
        string(REPLACE ";" "," listing "${listing}")
        string(REPLACE "\n" ";" lines "${listing}")
        set(cases "")
        set(suite "")
        foreach(line IN LISTS lines)
            # "Suite." (typed: "Suite.  # TypeParam = ...") and "  Case"
            # (parameterised: "  Case/0  # GetParam() = ...").
            if(line MATCHES "^([A-Za-z0-9_/]+)\\.( +#.*)?$")
                set(suite "${CMAKE_MATCH_1}")
            elseif(line MATCHES "^  ([A-Za-z0-9_/]+)( +#.*)?$" AND suite)
                set(case "${CMAKE_MATCH_1}")
                if(NOT suite MATCHES "(^|/)DISABLED_" AND NOT case MATCHES "^DISABLED_")
                    list(APPEND cases "${suite}.${case}")
                endif()
            endif()
        endforeach()
        string(REPLACE ";" "\n" text "${cases}")
        file(WRITE "${casesFile}" "${text}\n")
    endif()
    file(STRINGS "${casesFile}" cases)
    set(names "")
    foreach(case IN LISTS cases)
        add_test("${name}.${case}" "${runner}" ${launcher} "${program}"
            "--gtest_filter=${case}")
        list(APPEND names "${name}.${case}")
    endforeach()
    if(NOT names)
        add_test("${name}.NO_CASES" "${runner}" ${launcher} "${program}")
        set(names "${name}.NO_CASES")
    endif()
    set(VASKOR_CASES "${names}" PARENT_SCOPE)
endfunction()
