# Helpers shared by the subsystem, tool and test CMake files.

# tstat_add_subsystem(NAME [SOURCES <files...>] [BELOW <subsystems...>] [DEPS <targets...>])
# The static library tstat_NAME from SOURCES, by default every .cpp file of
# the calling directory. BELOW names the subsystems it calls, every one of
# them lower in the layering: a subsystem never calls one above it (an upper
# one registers a hook with it instead), so linking tstat_NAME brings in
# exactly that subsystem and those below it. DEPS adds external libraries.
function(tstat_add_subsystem name)
    cmake_parse_arguments(S "" "" "SOURCES;BELOW;DEPS" ${ARGN})
    if(S_SOURCES)
        set(sources ${S_SOURCES})
    else()
        file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    endif()
    add_library(tstat_${name} STATIC ${sources})
    target_include_directories(tstat_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    list(TRANSFORM S_BELOW PREPEND tstat_)
    target_link_libraries(tstat_${name} PUBLIC ${S_BELOW} tstat_platform ${S_DEPS})
endfunction()

# tstat_add_host_library(NAME SOURCES <files...> [INCLUDE <dir>] [BELOW <libraries...>]
#                        [DEPS <targets...>])
# A static library tstat_NAME of the development host's side, above the
# subsystems: the host library (lib/host) and the libraries of the simulator
# and its soak. INCLUDE (default the calling directory) is the directory its
# headers are included from. BELOW names the libraries it calls, subsystems
# and host libraries alike by the name after tstat_, every one of them lower
# in the layering, so that linking tstat_NAME brings in exactly those. DEPS
# adds external libraries.
function(tstat_add_host_library name)
    cmake_parse_arguments(H "" "INCLUDE" "SOURCES;BELOW;DEPS" ${ARGN})
    add_library(tstat_${name} STATIC ${H_SOURCES})
    if(NOT H_INCLUDE)
        set(H_INCLUDE ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
    target_include_directories(tstat_${name} PUBLIC ${H_INCLUDE})
    list(TRANSFORM H_BELOW PREPEND tstat_)
    target_link_libraries(tstat_${name} PUBLIC ${H_BELOW} ${H_DEPS})
endfunction()

# tstat_test_environment(TEST)
# In a cross build whose tests run under an emulator (the toolchain's
# CMAKE_CROSSCOMPILING_EMULATOR: qemu-arm, the board's core and its target
# tree), the programs a test starts itself run through the same emulator
# (lib/host/program_command.h) on the same core: qemu-arm reads QEMU_CPU.
function(tstat_test_environment test)
    if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR AND TSTAT_ARMEL_SYSROOT)
        list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 emulator)
        set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
                     TSTAT_EMULATOR=${emulator} QEMU_LD_PREFIX=${TSTAT_ARMEL_SYSROOT}
                     QEMU_CPU=${TSTAT_QEMU_CPU})
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
    tstat_test_environment(${name})
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
    tstat_test_environment(${name}_smoke)
    set_tests_properties(${name}_smoke PROPERTIES LABELS bench)
endfunction()

# tstat_add_fuzz_target(NAME SOURCES <files...> LIBS <targets...> [RUNS n] [DICT file])
# A fuzz target defines LLVMFuzzerTestOneInput. Its seed corpus is
# tests/fuzz/corpus/NAME; its dictionary (keywords libFuzzer splices into its
# mutations) is DICT, else tests/fuzz/corpus/NAME.dict when that file exists.
#
# In the normal builds the target is linked with a small driver that replays
# the corpus and then a fixed number of pseudo-random mutations, so the test
# suite runs it under its sanitizers without libFuzzer. With TSTAT_LIBFUZZER=ON
# (the `fuzz` preset, clang) every library is compiled with the fuzzer's
# coverage instrumentation and the target only links libFuzzer's main; the
# target joins tstat_fuzz_targets and the list that `make fuzz` reads
# (<build>/fuzz/targets.tsv).
function(tstat_add_fuzz_target name)
    cmake_parse_arguments(F "" "RUNS;DICT" "SOURCES;LIBS" ${ARGN})
    if(NOT F_RUNS)
        set(F_RUNS 20000)
    endif()
    set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${name})
    if(F_DICT)
        get_filename_component(dict ${F_DICT} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    elseif(EXISTS ${corpus}.dict)
        set(dict ${corpus}.dict)
    else()
        set(dict "")
    endif()
    if(TSTAT_LIBFUZZER)
        add_executable(${name} ${F_SOURCES})
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set(run_args -runs=${F_RUNS})
        if(dict)
            list(APPEND run_args -dict=${dict})
        endif()
        list(APPEND run_args ${corpus})
        add_dependencies(tstat_fuzz_targets ${name})
        set_property(GLOBAL APPEND PROPERTY TSTAT_FUZZ_MANIFEST
                     "${name}\t$<TARGET_FILE:${name}>\t${corpus}\t${dict}")
    else()
        add_executable(${name} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/fuzz/fuzz_driver.cpp)
        set(run_args --runs=${F_RUNS} ${corpus})
    endif()
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_test(NAME ${name} COMMAND ${name} ${run_args} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    tstat_test_environment(${name})
    set_tests_properties(${name} PROPERTIES LABELS fuzz)
endfunction()

# Writes <build>/fuzz/targets.tsv, one line per fuzz target declared anywhere
# in the project: name, binary, corpus directory, dictionary (may be empty).
# Called once the whole project has been configured.
function(tstat_write_fuzz_manifest)
    get_property(lines GLOBAL PROPERTY TSTAT_FUZZ_MANIFEST)
    list(SORT lines)
    list(JOIN lines "\n" content)
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz/targets.tsv CONTENT "${content}\n")
endfunction()

if(TSTAT_LIBFUZZER)
    # Every fuzz target; the `fuzz` build preset builds this and nothing else.
    add_custom_target(tstat_fuzz_targets)
    cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL tstat_write_fuzz_manifest)
endif()
