station_test(line_verifier_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/VersionStemTest.cpp ${CMAKE_CURRENT_LIST_DIR}/LineVerifierTest.cpp
  LIBS station_lines)
