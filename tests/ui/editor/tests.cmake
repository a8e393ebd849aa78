orvik_test(tst_editor ${CMAKE_CURRENT_LIST_DIR}/tst_editor.cpp LIBS orvik_ui Qt6::Widgets)
orvik_test(tst_services ${CMAKE_CURRENT_LIST_DIR}/tst_services.cpp LIBS orvik_ui Qt6::Widgets)
orvik_test(tst_writingtools ${CMAKE_CURRENT_LIST_DIR}/tst_writingtools.cpp LIBS orvik_ui Qt6::Widgets)
