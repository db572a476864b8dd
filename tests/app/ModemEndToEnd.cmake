# The window with the modem engine on emulated cellular modules on the
# emulated USB hub (umockdev).
if(TARGET usb_testbed)
  station_test(ModemEndToEndTest
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ModemEndToEndTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/WindowFixture.cpp ${CMAKE_CURRENT_LIST_DIR}/WindowFixture.h
    LIBS station_app usb_testbed modemdevice_core LABELS tsan)
  add_dependencies(ModemEndToEndTest ModemEngine record_seed)
endif()
