# The about and update dialogs over the main window.
target_sources(orvik_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/aboutsheet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aboutsheet.h
  ${CMAKE_CURRENT_LIST_DIR}/presenter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/presenter.h
  ${CMAKE_CURRENT_LIST_DIR}/sheetparts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sheetparts.h
  ${CMAKE_CURRENT_LIST_DIR}/updatesheet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/updatesheet.h)
