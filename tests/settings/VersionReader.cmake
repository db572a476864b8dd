station_test(version_scanner_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/VersionScannerTest.cpp
  LIBS station_settings)
station_test(version_file_reader_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/VersionFileReaderTest.cpp
  LIBS station_settings)
