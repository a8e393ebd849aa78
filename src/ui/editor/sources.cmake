target_sources(orvik_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/editorpane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/editorpane.h
  ${CMAKE_CURRENT_LIST_DIR}/findbar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/findbar.h
  ${CMAKE_CURRENT_LIST_DIR}/formatting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/formatting.h
  ${CMAKE_CURRENT_LIST_DIR}/markdowneditor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/markdowneditor.h
  ${CMAKE_CURRENT_LIST_DIR}/paragraphlayout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paragraphlayout.h
  ${CMAKE_CURRENT_LIST_DIR}/statusbar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/statusbar.h
  ${CMAKE_CURRENT_LIST_DIR}/welcomeplaceholder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/welcomeplaceholder.h)
