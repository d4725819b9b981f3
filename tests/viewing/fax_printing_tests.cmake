# The print commands of the main window and the viewer, printed to PDF.
if(TARGET qn_viewing_print)
  qn_add_qtest(viewing-print SOURCES ${CMAKE_CURRENT_LIST_DIR}/print_commands_test.cpp
    LIBS qn_viewing_print qn_records TIMEOUT 300)
  target_include_directories(viewing-print PRIVATE ${PROJECT_SOURCE_DIR}/tests/faxengine/display)
endif()
