# GoogleTest: Debian's prebuilt library natively; for cross builds, compiled from
# Debian's googletest sources (/usr/src/googletest) with the cross compiler.
if(CMAKE_CROSSCOMPILING)
    set(TOLVEX_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "googletest sources for cross builds")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${TOLVEX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
    if(NOT TARGET GTest::gtest)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
        add_library(GTest::gmock ALIAS gmock)
    endif()
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# tolvex_add_test(name SOURCES ... LIBS ...): one GoogleTest executable, cases registered with CTest.
function(tolvex_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    tolvex_warnings(${name})
    if(CMAKE_CROSSCOMPILING)
        # Under an emulator every process start costs (Wine: a fraction of a second even with
        # a persistent wineserver), so listing and running each case as its own process would
        # multiply the run time. One CTest test per executable; GoogleTest's output names the
        # failing cases. add_test on a target goes through CROSSCOMPILING_EMULATOR.
        add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
        set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    else()
        # NO_PRETTY_VALUES: the cases carry readable names of their own; CMake's pretty-value
        # rewrite only applies to numbered ones and would leave raw parameter bytes in the name.
        gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
    endif()
endfunction()
