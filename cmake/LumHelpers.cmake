# Shared helpers for the project's targets and their tests.

set(LUM_WARNINGS -Wall -Wextra)
# -O1 keeps the sanitized suite several times faster than -O0 while stack
# traces stay readable.
set(LUM_SANITIZER_FLAGS -O1 -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)

# Applies the project's compile settings to one target.
function(lum_target_settings target)
    target_compile_options(${target} PRIVATE ${LUM_WARNINGS})
    if(LUM_SANITIZE)
        target_compile_options(${target} PRIVATE ${LUM_SANITIZER_FLAGS})
        target_link_options(${target} PRIVATE ${LUM_SANITIZER_FLAGS})
    endif()
endfunction()

# Test programs' own code is thin glue around the library; optimising it
# costs build time (gtest's macros are heavy to optimise) and buys nothing.
# For the same reason the sanitizers instrument the library, not the test
# code (a quarter of a test file's compile time); the programs still link
# the sanitizers' runtime.
function(lum_test_settings target)
    target_compile_options(${target} PRIVATE -O0)
    if(LUM_SANITIZE)
        target_compile_options(${target} PRIVATE -fno-sanitize=all)
    endif()
endfunction()

# lum_add_library(<target> SOURCES ... [DEPENDS ...] [PRIVATE_DEPENDS ...])
# One static library a folder; headers are included as "folder/header.h"
# relative to src/.
function(lum_add_library target)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src
                                                ${PROJECT_BINARY_DIR}/src)
    if(ARG_DEPENDS)
        target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
    endif()
    if(ARG_PRIVATE_DEPENDS)
        target_link_libraries(${target} PRIVATE ${ARG_PRIVATE_DEPENDS})
    endif()
    lum_target_settings(${target})
endfunction()

# lum_add_unit_tests(<target> [DIR <tests folder>] [LIBS ...] [QT] [ENVIRONMENT ...])
# Builds every *_test.cpp of the folder into <target>_tests and registers it
# with CTest (see lum_register_tests). QT gives the executable a main that makes a
# QApplication on the offscreen platform.
function(lum_add_unit_tests target)
    if(NOT LUM_BUILD_TESTS)
        return()
    endif()
    cmake_parse_arguments(ARG "QT" "DIR" "LIBS;ENVIRONMENT;SOURCES" ${ARGN})
    if(NOT ARG_DIR)
        file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
        set(ARG_DIR ${PROJECT_SOURCE_DIR}/tests/${rel})
    endif()
    file(GLOB test_sources CONFIGURE_DEPENDS ${ARG_DIR}/*_test.cpp)
    if(NOT test_sources AND NOT ARG_SOURCES)
        return()
    endif()
    set(exe ${target}_tests)
    add_executable(${exe} ${test_sources} ${ARG_SOURCES})
    target_link_libraries(${exe} PRIVATE ${target} lum_test_support ${ARG_LIBS}
                                         GTest::gtest GTest::gmock)
    if(ARG_QT)
        target_link_libraries(${exe} PRIVATE lum_test_qt_main)
    else()
        target_link_libraries(${exe} PRIVATE GTest::gtest_main)
    endif()
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    lum_target_settings(${exe})
    lum_test_settings(${exe})
    set(env
        "QT_QPA_PLATFORM=offscreen"
        "LUM_REGISTRY=${PROJECT_BINARY_DIR}/test-registry/${exe}.db"
        "LUM_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data"
        "LUM_BUILD_DIR=${PROJECT_BINARY_DIR}"
        "LUM_ACM=${PROJECT_BINARY_DIR}/src/platform/acm/liblumacm.so"
        ${ARG_ENVIRONMENT})
    if(LUM_SANITIZE)
        list(APPEND env "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0"
                        "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
                        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
    endif()
    lum_register_tests(${exe} ENVIRONMENT ${env})
endfunction()

option(LUM_TEST_EACH_CASE "Register every test case with CTest, not whole programs" OFF)

# lum_register_tests(<gtest program> [LABELS ...] [ENVIRONMENT ...])
# A program runs its cases in one process, split in two gtest shards so both
# cores stay busy: starting a process (Qt, libavcodec, the sanitizers' leak
# check) costs more than most cases, and a process a case took most of the
# suite's time. -DLUM_TEST_EACH_CASE=ON registers every case instead, for
# `ctest -R Case`.
function(lum_register_tests exe)
    cmake_parse_arguments(ARG "" "" "LABELS;ENVIRONMENT" ${ARGN})
    if(NOT LUM_TEST_EACH_CASE)
        foreach(shard 0 1)
            add_test(NAME ${exe}/${shard} COMMAND ${exe}
                     WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
            set_tests_properties(${exe}/${shard} PROPERTIES TIMEOUT 1500
                ENVIRONMENT "${ARG_ENVIRONMENT};GTEST_TOTAL_SHARDS=2;GTEST_SHARD_INDEX=${shard}")
            if(ARG_LABELS)
                set_tests_properties(${exe}/${shard} PROPERTIES LABELS "${ARG_LABELS}")
            endif()
        endforeach()
        return()
    endif()
    gtest_discover_tests(${exe}
        DISCOVERY_MODE PRE_TEST
        WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
        PROPERTIES TIMEOUT 600)
    # Discovery passes its properties on as one flat list, which splits a
    # list value into separate arguments; so the environment and labels are
    # set by a script CTest reads after the discovered tests.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${exe}_properties.cmake)
    set(text "if(${exe}_TESTS)\n"
             "    set_tests_properties(\${${exe}_TESTS} PROPERTIES ENVIRONMENT [==[${ARG_ENVIRONMENT}]==])\n")
    if(ARG_LABELS)
        string(APPEND text
             "    set_tests_properties(\${${exe}_TESTS} PROPERTIES LABELS [==[${ARG_LABELS}]==])\n")
    endif()
    file(WRITE ${script} ${text} "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
