# quillon-viewer: the Fax Viewer on one file, for the desktop's "open with". It
# needs the viewer window (qn_viewing); without it the program is left out.
if(TARGET qn_viewing)
  add_library(qn_viewer_entry STATIC ${CMAKE_CURRENT_LIST_DIR}/viewer_entry.cpp ${CMAKE_CURRENT_LIST_DIR}/viewer_entry.h)
  target_link_libraries(qn_viewer_entry PUBLIC qn_viewing)
  add_executable(quillon-viewer ${CMAKE_CURRENT_LIST_DIR}/tools/viewer_main.cpp)
  target_link_libraries(quillon-viewer PRIVATE qn_viewer_entry)
  target_compile_definitions(quillon-viewer PRIVATE QN_VERSION="${PROJECT_VERSION}")
endif()
