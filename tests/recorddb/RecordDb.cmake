# The record database (src/recorddb): the outbox alone, and the upload against a private
# PostgreSQL server (label "pg"; skipped where the server programs are
# missing).
station_test(RecordOutboxTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordOutboxTest.cpp ${CMAKE_CURRENT_LIST_DIR}/RecordDbTestSupport.h
  LIBS station_recorddb sqlite3)

add_library(station_test_pg STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PgTestServer.cpp ${CMAKE_CURRENT_LIST_DIR}/PgTestServer.h)
target_include_directories(station_test_pg PUBLIC "${CMAKE_SOURCE_DIR}/tests")
target_link_libraries(station_test_pg PUBLIC station_recorddb Qt6::Core station_common)

# Tests against the private server run as one process each, so that one
# server serves all the tests of the executable.
function(station_pg_test name)
  cmake_parse_arguments(PT "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${PT_SOURCES})
  target_link_libraries(${name} PRIVATE station_test_main station_test_pg ${PT_LIBS} station_common)
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  target_compile_definitions(${name} PRIVATE
    STATION_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    STATION_BUILD_STATION_DIR="${STATION_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "pg;${PT_LABELS}" TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  station_test_target(${name} pg ${PT_LABELS})
endfunction()

# The uploader's thread and the window thread's side also run under
# ThreadSanitizer.
station_pg_test(RecordUploadTest LABELS tsan
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordUploadTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/LoopbackListener.cpp ${CMAKE_CURRENT_LIST_DIR}/LoopbackListener.h
          ${CMAKE_CURRENT_LIST_DIR}/RecordDbTestSupport.h)

add_executable(records_upload_child ${CMAKE_CURRENT_LIST_DIR}/UploadCrashChild.cpp)
target_link_libraries(records_upload_child PRIVATE station_recorddb station_common)
station_pg_test(UploadCrashTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/UploadCrashTest.cpp ${CMAKE_CURRENT_LIST_DIR}/RecordDbTestSupport.h)
add_dependencies(UploadCrashTest records_upload_child)
target_compile_definitions(UploadCrashTest PRIVATE UPLOAD_CRASH_CHILD="$<TARGET_FILE:records_upload_child>")

station_pg_test(RecordDbSchemaTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordDbSchemaTest.cpp ${CMAKE_CURRENT_LIST_DIR}/RecordDbTestSupport.h)

# The record log against the outbox: a full disk through an SQLite file
# layer that can fail every write, a busy file, and a child killed between
# the log's append and the outbox's commit.
station_test(RecordDbLogTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordDbLogTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/FullDiskVfs.cpp ${CMAKE_CURRENT_LIST_DIR}/FullDiskVfs.h
          ${CMAKE_SOURCE_DIR}/tests/records/RecordTestFiles.h
  LIBS station_recorddb station_app sqlite3 LABELS tsan)

add_executable(records_db_crash_child ${CMAKE_CURRENT_LIST_DIR}/RecordDbCrashChild.cpp
  ${CMAKE_SOURCE_DIR}/tests/records/CrashChildPrompts.h)
target_link_libraries(records_db_crash_child PRIVATE station_recorddb station_common)
target_include_directories(records_db_crash_child PRIVATE "${CMAKE_SOURCE_DIR}/tests")
station_test(RecordDbCrashTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordDbCrashTest.cpp ${CMAKE_SOURCE_DIR}/tests/records/RecordTestFiles.h
  LIBS station_recorddb)
add_dependencies(RecordDbCrashTest records_db_crash_child)
target_compile_definitions(RecordDbCrashTest PRIVATE
  RECORDDB_CRASH_CHILD="$<TARGET_FILE:records_db_crash_child>")
