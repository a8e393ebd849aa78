# The main window around the editor: columns, toolbar, menus, export.
target_sources(orvik_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/conflictview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/conflictview.h
  ${CMAKE_CURRENT_LIST_DIR}/diffview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/diffview.h
  ${CMAKE_CURRENT_LIST_DIR}/exportmenu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exportmenu.h
  ${CMAKE_CURRENT_LIST_DIR}/lostsheets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lostsheets.h
  ${CMAKE_CURRENT_LIST_DIR}/mainwindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mainwindow.h
  ${CMAKE_CURRENT_LIST_DIR}/noticebar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/noticebar.h
  ${CMAKE_CURRENT_LIST_DIR}/quitting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/quitting.h
  ${CMAKE_CURRENT_LIST_DIR}/services.cpp
  ${CMAKE_CURRENT_LIST_DIR}/services.h
  ${CMAKE_CURRENT_LIST_DIR}/sheetlist.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sheetlist.h
  ${CMAKE_CURRENT_LIST_DIR}/sidebar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sidebar.h
  ${CMAKE_CURRENT_LIST_DIR}/statisticsview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/statisticsview.h
  ${CMAKE_CURRENT_LIST_DIR}/versionsview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/versionsview.h
  ${CMAKE_CURRENT_LIST_DIR}/windowstyler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/windowstyler.h)
