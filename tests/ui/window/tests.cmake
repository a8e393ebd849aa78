# The main window driven as a user would, offscreen.
orvik_test(tst_window ${CMAKE_CURRENT_LIST_DIR}/tst_window.cpp LIBS orvik_ui Qt6::Widgets)
