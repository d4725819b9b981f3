# qn_fax_printer: TFeFaxPrinter, its status window and print log; prints through
# Qt Print Support and hands finished jobs to CUPS.
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
find_package(Cups REQUIRED)
add_library(qn_fax_printer STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fax_printer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/print_status.cpp
  ${CMAKE_CURRENT_LIST_DIR}/print_submit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fax_printer.h
  ${CMAKE_CURRENT_LIST_DIR}/print_status.h)
target_include_directories(qn_fax_printer PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(qn_fax_printer PUBLIC qn_convert Qt6::Widgets Qt6::PrintSupport PRIVATE Cups::Cups)
set_target_properties(qn_fax_printer PROPERTIES AUTOMOC ON)
