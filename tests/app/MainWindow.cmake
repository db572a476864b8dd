set(_window_support
  ${CMAKE_CURRENT_LIST_DIR}/WindowFixture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowFixture.h)
station_test(MainDialogShellTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MainDialogShellTest.cpp ${_window_support}
  LIBS station_app)
# Line workers and the engine boundary also run under ThreadSanitizer.
station_test(MainDialogLinesTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MainDialogLinesTest.cpp ${_window_support}
  LIBS station_app LABELS tsan)
station_test(MainDialogCommandsTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/MainDialogCommandsTest.cpp ${_window_support}
  LIBS station_app)
station_test(EndToEndTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/EndToEndTest.cpp ${_window_support}
  LIBS station_app LABELS tsan)
add_dependencies(EndToEndTest SimEngine simbus record_seed)
foreach(_t MainDialogShellTest MainDialogLinesTest MainDialogCommandsTest)
  add_dependencies(${_t} record_seed)
endforeach()
station_test(DialogTemplateTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DialogTemplateTest.cpp
  LIBS station_app)

# The window with the fastboot engine and emulated fastboot devices.
station_test(FastbootEndToEndTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FastbootEndToEndTest.cpp ${_window_support}
  LIBS station_app fbdevice_core LABELS tsan)
add_dependencies(FastbootEndToEndTest FastbootEngine record_seed)
