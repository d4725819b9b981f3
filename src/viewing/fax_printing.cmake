# qn_viewing_print: the "Print" options dialog and the print commands of the
# main window and the fax viewer.
if(TARGET qn_records_ui AND TARGET qn_fax_printer)
  add_library(qn_viewing_print STATIC
    ${CMAKE_CURRENT_LIST_DIR}/pre_print_form.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fax_printing.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pre_print_form.h
    ${CMAKE_CURRENT_LIST_DIR}/fax_printing.h)
  target_include_directories(qn_viewing_print PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(qn_viewing_print PUBLIC qn_fax_printer qn_viewing_choice qn_records_ui qn_common qn_sessions_settings)
  set_target_properties(qn_viewing_print PROPERTIES AUTOMOC ON)
endif()
