# The fax printer prints to PDF files that poppler-utils read back.
if(TARGET qn_fax_printer)
  qn_add_qtest(display-fax-printer SOURCES ${CMAKE_CURRENT_LIST_DIR}/fax_printer_test.cpp
    LIBS qn_fax_printer TIMEOUT 300)
  target_include_directories(display-fax-printer PRIVATE ${CMAKE_CURRENT_LIST_DIR})
endif()
