# The fastboot engine's USB side. Tests that need emulated USB devices link
# umockdev's preload library, so that sysfs, udev and the usbfs nodes of the
# test process are the testbed's (the sanitizer runtimes, linked first by the
# compiler, stay first in the library list). Without umockdev they skip.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UMOCKDEV IMPORTED_TARGET umockdev-1.0)

station_test(UsbLocationTest
  SOURCES usb/UsbLocationTest.cpp
  LIBS fastboot_usb)
station_test(UsbPortMapTest
  SOURCES usb/UsbPortMapTest.cpp
  LIBS fastboot_usb)

if(UMOCKDEV_FOUND)
  add_library(usb_testbed STATIC
    usb/EmulatedUsbDevice.cpp usb/EmulatedUsbDevice.h
    usb/ModelPacketDevice.h
    usb/PacketDevice.h
    usb/UsbTestbed.cpp usb/UsbTestbed.h)
  target_link_libraries(usb_testbed PUBLIC PkgConfig::UMOCKDEV fbdevice_core station_common)
  target_link_options(usb_testbed INTERFACE
    "LINKER:--push-state,--no-as-needed" -lumockdev-preload "LINKER:--pop-state")

  station_test(UsbBusTest
    SOURCES usb/UsbBusTest.cpp
    LIBS usb_testbed fastboot_usb
    LABELS tsan)

  # The built engine library on emulated USB devices.
  station_test(UsbEngineTest
    SOURCES usb/UsbEngineTest.cpp FastbootStation.cpp FastbootStation.h
            ../lines/RecordingHandler.cpp ../lines/RecordingHandler.h
    LIBS usb_testbed station_lines fbdevice_core fastboot_usb
    LABELS tsan)
  add_dependencies(UsbEngineTest FastbootEngine)
endif()
