# The settings window driven as a user would, offscreen.
orvik_test(tst_settings ${CMAKE_CURRENT_LIST_DIR}/tst_settings.cpp LIBS orvik_ui Qt6::Widgets)
