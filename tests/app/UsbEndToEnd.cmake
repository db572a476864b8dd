# The window with the fastboot engine on emulated USB devices (umockdev).
if(TARGET usb_testbed)
  station_test(UsbEndToEndTest
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/UsbEndToEndTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/WindowFixture.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowFixture.h
    LIBS station_app usb_testbed fbdevice_core LABELS tsan)
  add_dependencies(UsbEndToEndTest FastbootEngine record_seed)
endif()
