# tol_gtest_suites(TARGET): one CTest entry per GoogleTest suite of TARGET (run with
# --gtest_filter=SUITE.*), listed from the program each time it is built. A process per suite
# rather than per case: the cases of a suite share their fixture, and each start of an ASan test
# program costs about 0.1 s of processor time.
set(TOL_GTEST_SUITES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/GTestSuitesList.cmake)

function(tol_gtest_suites target)
    set(list ${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake)
    set(include ${CMAKE_CURRENT_BINARY_DIR}/${target}_include.cmake)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -D EXE=$<TARGET_FILE:${target}> -D OUT=${list} -P ${TOL_GTEST_SUITES_SCRIPT}
        BYPRODUCTS ${list} VERBATIM)
    file(WRITE ${include}
         "if(EXISTS [=[${list}]=])\n  include([=[${list}]=])\n"
         "else()\n  add_test([=[${target}_NOT_BUILT]=] [=[${target}_NOT_BUILT]=])\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include})
endfunction()
