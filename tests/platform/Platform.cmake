station_test(IniFileTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/IniFileTest.cpp LIBS station_platform)
station_test(AtomicFileTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/AtomicFileTest.cpp LIBS station_platform)
station_test(TextCodecTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/TextCodecTest.cpp LIBS station_platform)
station_test(PlatformServicesTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/PlatformServicesTest.cpp LIBS station_platform)
station_test(InputFileTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/InputFileTest.cpp LIBS station_platform)
# The one hand-over to the window thread, with its shutdown order.
station_test(WindowThreadTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/WindowThreadTest.cpp LIBS station_platform
  LABELS tsan)
