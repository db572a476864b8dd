# The window with the fastboot engine on emulated USB devices (umockdev).
find_package(PkgConfig REQUIRED)
pkg_check_modules(UMOCKDEV_APP IMPORTED_TARGET umockdev-1.0)
if(UMOCKDEV_APP_FOUND)
  station_test(UsbEndToEndTest
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/UsbEndToEndTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/WindowFixture.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowFixture.h
    LIBS station_app usb_testbed fbdevice_core LABELS tsan)
  target_include_directories(UsbEndToEndTest PRIVATE "${CMAKE_SOURCE_DIR}/tests/engine/usb")
  add_dependencies(UsbEndToEndTest FastbootEngine record_seed)
endif()
