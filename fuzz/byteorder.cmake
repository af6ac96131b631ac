# byteorder_fuzzer: every typed conversion routine, walked through the table
# the library is built from, held against the reference model of the tests.
add_executable(byteorder_fuzzer
  ${CMAKE_CURRENT_LIST_DIR}/byteorder_fuzzer.cc
  ${PROJECT_SOURCE_DIR}/base/byteorder/swap.cc
  ${PROJECT_SOURCE_DIR}/base/byteorder/conversions.cc
  ${PROJECT_SOURCE_DIR}/base/byteorder/netorder.cc
  ${PROJECT_SOURCE_DIR}/tests/support/byteorder_reference.cc)
target_include_directories(byteorder_fuzzer PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_compile_options(byteorder_fuzzer PRIVATE ${fuzz_flags})
target_link_options(byteorder_fuzzer PRIVATE ${fuzz_flags})
