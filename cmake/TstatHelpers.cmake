# Helpers shared by the subsystem, tool and test CMake files.

# tstat_add_subsystem(NAME [DEPS <targets...>])
# The static library tstat_NAME from every .cpp file of the calling
# directory (none yet: no library). Subsystems call each other freely, so
# executables and tests link them all through tstat_libs, which resolves the
# references between them in one group.
function(tstat_add_subsystem name)
    cmake_parse_arguments(S "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT sources)
        return()
    endif()
    add_library(tstat_${name} STATIC ${sources})
    target_include_directories(tstat_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(tstat_${name} PUBLIC tstat_platform ${S_DEPS})
    if(NOT name STREQUAL "platform" AND NOT name STREQUAL "core")
        target_link_libraries(tstat_${name} PUBLIC tstat_core)
    endif()
endfunction()

# tstat_add_test(NAME SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest executable registered as one CTest test; it runs with the
# build's data directory as working directory, like the application.
function(tstat_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        TSTAT_BUILD_DIR="${CMAKE_BINARY_DIR}"
        TSTAT_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    add_test(NAME ${name} COMMAND ${name})
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()

# tstat_add_benchmark(NAME SOURCES <files...> LIBS <targets...>)
# A Google Benchmark executable. `make bench` runs it in full on the optimised
# build; the test suite only runs it for a moment to prove it still works.
function(tstat_add_benchmark name)
    cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${B_SOURCES})
    target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
    add_test(NAME ${name}_smoke COMMAND ${name} --benchmark_min_time=0.001)
    set_tests_properties(${name}_smoke PROPERTIES LABELS bench)
endfunction()

# tstat_add_fuzz_target(NAME SOURCES <files...> LIBS <targets...> [RUNS n])
# A fuzz target defines LLVMFuzzerTestOneInput. In the normal builds it is
# linked with a small driver that replays its seed corpus
# (tests/fuzz/corpus/NAME) and then a fixed number of pseudo-random mutations,
# so the test suite runs it under its sanitizers without libFuzzer. With
# TSTAT_LIBFUZZER=ON and clang as the compiler it becomes a real libFuzzer
# binary instead (the `fuzz` preset), which also takes the dictionary
# tests/fuzz/corpus/NAME.dict when there is one.
function(tstat_add_fuzz_target name)
    cmake_parse_arguments(F "" "RUNS" "SOURCES;LIBS" ${ARGN})
    if(NOT F_RUNS)
        set(F_RUNS 20000)
    endif()
    set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
    if(TSTAT_LIBFUZZER)
        add_executable(${name} ${F_SOURCES})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set(run_args -runs=${F_RUNS})
        # A dictionary of the input's keywords, when the target has one.
        if(EXISTS ${corpus}.dict)
            list(APPEND run_args -dict=${corpus}.dict)
        endif()
        list(APPEND run_args ${corpus})
    else()
        add_executable(${name} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/fuzz/fuzz_driver.cpp)
        set(run_args --runs=${F_RUNS} ${corpus})
    endif()
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_test(NAME ${name} COMMAND ${name} ${run_args} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    set_tests_properties(${name} PROPERTIES LABELS fuzz)
endfunction()
