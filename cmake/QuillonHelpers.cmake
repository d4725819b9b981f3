# Small helpers shared by every folder's CMakeLists.txt.

# Adds every listed sub-folder that has a CMakeLists.txt; folders are filled in
# as the system grows, so a missing one is simply skipped.
function(qn_add_subdirs)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# qn_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l1 l2] [TIMEOUT s])
# Builds a GoogleTest binary into build/bin and registers each test case with CTest.
function(qn_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE
    QN_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # One variable only: a list here would be split apart on its way through
  # gtest_discover_tests. Test code also gets both folders as compile definitions.
  set(props TIMEOUT ${T_TIMEOUT} ENVIRONMENT "QN_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

# qn_add_fuzzer(NAME SOURCES a.cpp LIBS lib1)
# A fuzz target defines LLVMFuzzerTestOneInput. With QN_FUZZ (clang, the whole
# tree instrumented: see the top-level CMakeLists.txt) it becomes a libFuzzer
# binary; otherwise it is linked with a small driver. Either way the test
# fuzz-corpus-NAME replays every file of fuzz/corpus/NAME once. Each target is
# also listed in <build>/fuzz_targets.txt ("NAME<tab>binary<tab>corpus" per
# line), which scripts/fuzz.sh reads, and the `fuzzers` target builds them all.
function(qn_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(target fuzz-${name})
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  if(QN_FUZZ)
    add_executable(${target} ${F_SOURCES})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    # -runs=0: run the corpus once and stop instead of fuzzing on.
    set(replay ${target} -runs=0 ${corpus})
  else()
    add_executable(${target} ${F_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    set(replay ${target} ${corpus})
  endif()
  target_link_libraries(${target} PRIVATE ${F_LIBS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
  if(NOT TARGET fuzzers)
    add_custom_target(fuzzers)
  endif()
  add_dependencies(fuzzers ${target})
  set_property(GLOBAL APPEND PROPERTY QN_FUZZ_TARGETS "${name}\t$<TARGET_FILE:${target}>\t${corpus}")
  add_test(NAME fuzz-corpus-${name} COMMAND ${replay})
  set_tests_properties(fuzz-corpus-${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()

# Writes the list of fuzz targets once every folder has declared its own.
function(qn_write_fuzz_list)
  get_property(entries GLOBAL PROPERTY QN_FUZZ_TARGETS)
  list(JOIN entries "\n" text)
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/fuzz_targets.txt CONTENT "${text}\n")
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qn_write_fuzz_list)

# qn_add_benchmark(NAME SOURCES a.cpp LIBS lib1): builds build/bin/bench-NAME.
function(qn_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(bench-${name} ${B_SOURCES})
  target_link_libraries(bench-${name} PRIVATE ${B_LIBS} Threads::Threads)
endfunction()
