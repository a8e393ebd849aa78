# The settings window: appearance and the diary's daily context.
target_sources(orvik_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/settingsview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settingsview.h)
