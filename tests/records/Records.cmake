set(_records_files ${CMAKE_CURRENT_LIST_DIR}/RecordTestFiles.h)
# Tests that check what the operator sees link the application's
# RecordPrompter, which shows the record log's questions and fatal chain.
station_test(PassCountersTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PassCountersTest.cpp LIBS station_records)
station_test(RecordCipherTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordCipherTest.cpp ${_records_files} LIBS station_app)
station_test(RecordLineTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordLineTest.cpp LIBS station_records)
station_test(RecordStoreTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordStoreTest.cpp ${_records_files} LIBS station_app)
station_test(RecordExportTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordExportTest.cpp ${_records_files} LIBS station_app)

# The crash test kills this writer at random moments.
add_executable(records_crash_child ${CMAKE_CURRENT_LIST_DIR}/RecordCrashChild.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CrashChildPrompts.h)
target_link_libraries(records_crash_child PRIVATE station_records station_common)
target_include_directories(records_crash_child PRIVATE "${CMAKE_SOURCE_DIR}/tests")
station_test(RecordCrashTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordCrashTest.cpp ${_records_files} LIBS station_app)
add_dependencies(RecordCrashTest records_crash_child)
target_compile_definitions(RecordCrashTest PRIVATE
  RECORDS_CRASH_CHILD="$<TARGET_FILE:records_crash_child>")
