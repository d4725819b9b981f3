# qn_add_qtest(NAME SOURCES .. LIBS .. [TIMEOUT s]): a Qt Test binary run on the
# offscreen platform, with the help pages of the source tree.
find_package(Qt6 REQUIRED COMPONENTS Test)

function(qn_add_qtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test)
  target_compile_definitions(${name} PRIVATE QN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUILLON_DATA=${PROJECT_SOURCE_DIR}/data;QN_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()
