# quillon-viewer's entry on the offscreen platform (needs the viewer window).
if(TARGET qn_viewer_entry)
  qn_add_qtest(viewing-viewer-entry SOURCES ${CMAKE_CURRENT_LIST_DIR}/viewer_entry_test.cpp LIBS qn_viewer_entry)
endif()
