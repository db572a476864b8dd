station_test(StationConfigTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/StationConfigTest.cpp LIBS station_settings)
station_test(LanguageTextTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/LanguageTextTest.cpp LIBS station_settings)
target_compile_definitions(LanguageTextTest PRIVATE STATION_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
