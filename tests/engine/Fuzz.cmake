# The fuzz target: with clang and -DSTATION_FUZZ=ON a libFuzzer program
# (scripts/test.sh runs it briefly); otherwise a replay of its corpus.
set(_fuzz_sources fuzz/FastbootFuzz.cpp
  ${CMAKE_SOURCE_DIR}/engine/fastboot/DeviceText.cpp
  ${CMAKE_SOURCE_DIR}/engine/fastboot/FastbootReply.cpp
  ${CMAKE_SOURCE_DIR}/engine/fastboot/ImagePieces.cpp
  ${CMAKE_SOURCE_DIR}/engine/common/SparseImage.cpp)
if(STATION_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(fastboot_fuzz ${_fuzz_sources})
  target_include_directories(fastboot_fuzz PRIVATE ${CMAKE_SOURCE_DIR}/engine/fastboot ${CMAKE_SOURCE_DIR}/engine/common)
  target_compile_options(fastboot_fuzz PRIVATE -fsanitize=fuzzer,address,undefined -g)
  target_link_options(fastboot_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
add_executable(fastboot_fuzz_replay ${_fuzz_sources} fuzz/FuzzReplay.cpp)
target_include_directories(fastboot_fuzz_replay PRIVATE ${CMAKE_SOURCE_DIR}/engine/fastboot ${CMAKE_SOURCE_DIR}/engine/common)
target_link_libraries(fastboot_fuzz_replay PRIVATE station_common)
add_test(NAME FastbootFuzzReplay COMMAND fastboot_fuzz_replay "${CMAKE_CURRENT_LIST_DIR}/fuzz/corpus")
station_test_target(fastboot_fuzz_replay)
