# The record database: the outbox alone, and the upload against a private
# PostgreSQL server (label "pg"; skipped where the server programs are
# missing).
station_test(RecordOutboxTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordOutboxTest.cpp ${CMAKE_CURRENT_LIST_DIR}/RecordDbTestSupport.h
  LIBS station_recorddb)

add_library(station_test_pg STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PgTestServer.cpp ${CMAKE_CURRENT_LIST_DIR}/PgTestServer.h)
target_include_directories(station_test_pg PUBLIC "${CMAKE_SOURCE_DIR}/tests")
target_link_libraries(station_test_pg PUBLIC station_recorddb Qt6::Core station_common)
