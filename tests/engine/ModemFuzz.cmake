# Fuzz targets of the modem engine: the Sahara packet parser, the Firehose
# reply parser and the rawprogram/patch reader, each also driving the host
# side. With clang and -DSTATION_FUZZ=ON libFuzzer programs; otherwise
# replays of their corpora.
foreach(_fuzz SaharaFuzz FirehoseReplyFuzz FlashXmlFuzz)
  string(TOLOWER ${_fuzz} _name)
  if(STATION_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(${_name} modem/fuzz/${_fuzz}.cpp)
    target_link_libraries(${_name} PRIVATE modem_core)
    target_include_directories(${_name} PRIVATE "${CMAKE_CURRENT_LIST_DIR}/modem/fuzz")
    target_compile_options(${_name} PRIVATE -fsanitize=fuzzer,address,undefined -g)
    target_link_options(${_name} PRIVATE -fsanitize=fuzzer,address,undefined)
  endif()
  add_executable(${_name}_replay modem/fuzz/${_fuzz}.cpp fuzz/FuzzReplay.cpp)
  target_link_libraries(${_name}_replay PRIVATE modem_core station_common)
  target_include_directories(${_name}_replay PRIVATE "${CMAKE_CURRENT_LIST_DIR}/modem/fuzz")
  station_test_target(${_name}_replay)
endforeach()
add_test(NAME SaharaFuzzReplay COMMAND saharafuzz_replay "${CMAKE_CURRENT_LIST_DIR}/modem/fuzz/corpus-sahara")
add_test(NAME FirehoseReplyFuzzReplay COMMAND firehosereplyfuzz_replay "${CMAKE_CURRENT_LIST_DIR}/modem/fuzz/corpus-firehose")
add_test(NAME FlashXmlFuzzReplay COMMAND flashxmlfuzz_replay "${CMAKE_CURRENT_LIST_DIR}/modem/fuzz/corpus-flashxml")
if(STATION_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_custom_target(modem_fuzz DEPENDS saharafuzz firehosereplyfuzz flashxmlfuzz)
endif()
