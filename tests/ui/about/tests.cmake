orvik_test(tst_about ${CMAKE_CURRENT_LIST_DIR}/tst_about.cpp LIBS orvik_ui Qt6::Widgets)
