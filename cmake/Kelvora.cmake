# Shared build settings for the project's own targets.

set(KELVORA_WARNINGS -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND KELVORA_WARNINGS -Wshadow=local)
endif()
if(KELVORA_WERROR)
    list(APPEND KELVORA_WARNINGS -Werror)
    # MinGW-w64's GCC 12 sees overlapping copies inside std::string's own code at -O3 that
    # cannot happen (GCC bug 105651; toolkit/Graphics.cpp and dataaccess/DASQLMonitor.cpp in a
    # Release build): a warning there, not an error.
    if(CMAKE_CROSSCOMPILING AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
       AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
       AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        list(APPEND KELVORA_WARNINGS -Wno-error=restrict)
    endif()
endif()

if(KELVORA_SANITIZE)
    add_compile_options(-fsanitize=${KELVORA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${KELVORA_SANITIZE})
endif()

if(KELVORA_FUZZ)
    # Coverage instrumentation for the whole tree; the fuzz executables link the fuzzer driver.
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# kelvora_target_defaults(<target>): warnings and include root for a target of ours.
function(kelvora_target_defaults target)
    if(NOT MSVC)
        target_compile_options(${target} PRIVATE ${KELVORA_WARNINGS})
    endif()
    get_target_property(_type ${target} TYPE)
    if(_type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR})
    else()
        target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    endif()
endfunction()

# kelvora_add_library(<name> SOURCES ... [LIBS ...])
function(kelvora_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    kelvora_target_defaults(${name})
    if(ARG_LIBS)
        target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    endif()
endfunction()

# kelvora_add_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [ENV ...])
# LABELS: the target the tests are about first (`ctest -L dataaccess`), then any others.
# A GoogleTest executable; every test case becomes its own CTest test so that `ctest -j`
# spreads them over the cores.
function(kelvora_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    if(NOT TARGET GTest::gtest_main)
        message(WARNING "GoogleTest missing: ${name} is not built")
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    kelvora_target_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    # Without LABELS a test is labelled after its executable (dataaccess_tests: "dataaccess").
    if(NOT ARG_LABELS)
        string(REGEX REPLACE "_tests$" "" ARG_LABELS "${name}")
    endif()
    # The discovery script splits every list it is given into separate words, so ENVIRONMENT
    # would keep only its first entry (the others became property names of their own). The
    # variables travel instead through `cmake -E env` in front of the test program, which
    # discovery and every test run use alike.
    if(ARG_ENV)
        set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR
                     ${CMAKE_COMMAND} -E env ${ARG_ENV} ${CMAKE_CROSSCOMPILING_EMULATOR})
    endif()
    # A cross build runs its tests through an emulator (Wine), where every start of a program
    # costs about a second: one CTest test per executable, which runs all of its cases.
    if(CMAKE_CROSSCOMPILING)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
        return()
    endif()
    include(GoogleTest)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        TEST_LIST ${name}_TESTS
        PROPERTIES TIMEOUT ${ARG_TIMEOUT})
    # The labels, several of them too, go on after discovery for the same reason: a file that
    # CTest reads after the discovered list (which names the tests in ${name}_TESTS).
    set(_labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${_labels_file}
        "if(${name}_TESTS)\n"
        "    set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\n"
        "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_labels_file})
endfunction()

# kelvora_add_fuzzer(<name> SOURCES ... [LIBS ...]): built only with -DKELVORA_FUZZ=ON and clang.
function(kelvora_add_fuzzer name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT KELVORA_FUZZ)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    kelvora_target_defaults(${name})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()
