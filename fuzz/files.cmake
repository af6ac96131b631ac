# gxline_fuzzer: line access (gxline, gxseek, gxtell) over arbitrary data,
# read through windows of arbitrary sizes with arbitrary buffer sizes, held
# against a byte-by-byte model.
add_executable(gxline_fuzzer
  ${CMAKE_CURRENT_LIST_DIR}/gxline_fuzzer.cc
  ${PROJECT_SOURCE_DIR}/base/files/gxline.cc
  ${PROJECT_SOURCE_DIR}/base/files/gxpipe.cc
  ${PROJECT_SOURCE_DIR}/base/files/handle_table.cc
  ${PROJECT_SOURCE_DIR}/base/files/closed_children.cc
  ${PROJECT_SOURCE_DIR}/base/files/read_window.cc)
target_include_directories(gxline_fuzzer PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_compile_definitions(gxline_fuzzer PRIVATE _FILE_OFFSET_BITS=64)
target_compile_options(gxline_fuzzer PRIVATE ${fuzz_flags})
target_link_options(gxline_fuzzer PRIVATE ${fuzz_flags})
target_link_libraries(gxline_fuzzer PRIVATE baseutil Threads::Threads)
