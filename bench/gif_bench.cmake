# GIF decoding is measured against giflib and stb_image, through a Tcl
# interpreter as the pixmap command calls the reader; every frame of an
# animation through the frame decoder itself (tkp_gif: not exported).
if(TKPIXMAP_BASE_ONLY)
  set(bench_skip TRUE)
  return()
endif()
find_package(GIF REQUIRED)
find_library(STB_LIBRARY stb REQUIRED)
find_library(TCL_LIBRARY NAMES tcl8.6 tcl REQUIRED)
set(bench_extra_libraries tkp_gif GIF::GIF ${STB_LIBRARY} ${TCL_LIBRARY})
set(bench_include_directories ${TCL_INCLUDE_DIR})

# Wuffs, the fastest widely used GIF decoder, is a further peer when its
# single-file release lies in the shared peers folder: unpacked into the
# build folder at build time and compiled there, never kept in the project.
set(wuffs_archive ${PROJECT_SOURCE_DIR}/../shared/peers/wuffs/wuffs-v0.4.c.xz)
find_program(XZ_PROGRAM xz)
if(EXISTS ${wuffs_archive} AND XZ_PROGRAM)
  set(wuffs_dir ${CMAKE_CURRENT_BINARY_DIR}/wuffs)
  add_custom_command(OUTPUT ${wuffs_dir}/wuffs-v0.4.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${wuffs_dir}
    COMMAND ${XZ_PROGRAM} -dc ${wuffs_archive} > ${wuffs_dir}/wuffs-v0.4.c
    DEPENDS ${wuffs_archive}
    COMMENT "Unpacking the Wuffs release for gif_bench")
  set_source_files_properties(${wuffs_dir}/wuffs-v0.4.c PROPERTIES HEADER_FILE_ONLY TRUE)
  add_library(gif_bench_wuffs STATIC ${CMAKE_CURRENT_SOURCE_DIR}/wuffs_peer.c
              ${wuffs_dir}/wuffs-v0.4.c)
  target_include_directories(gif_bench_wuffs PRIVATE ${wuffs_dir} ${PROJECT_SOURCE_DIR})
  target_compile_options(gif_bench_wuffs PRIVATE -w)
  list(APPEND bench_extra_libraries gif_bench_wuffs)
  set(bench_definitions TKPIXMAP_WUFFS_PEER=1)
else()
  message(STATUS "gif_bench: no Wuffs release at ${wuffs_archive} (or no xz): its rows are left out")
endif()

# libnsgif, a browser's decoder that composites every frame, is a further
# peer when its sources lie in the shared peers folder: compiled from there
# into the build folder, never kept in the project.
set(nsgif_dir ${PROJECT_SOURCE_DIR}/../shared/peers/libnsgif)
if(EXISTS ${nsgif_dir}/src/gif.c AND EXISTS ${nsgif_dir}/src/lzw.c)
  add_library(gif_bench_nsgif STATIC ${CMAKE_CURRENT_SOURCE_DIR}/libnsgif_peer.c
              ${nsgif_dir}/src/gif.c ${nsgif_dir}/src/lzw.c)
  target_include_directories(gif_bench_nsgif PRIVATE ${nsgif_dir}/include ${nsgif_dir}/src
                             ${PROJECT_SOURCE_DIR})
  target_compile_options(gif_bench_nsgif PRIVATE -w)
  list(APPEND bench_extra_libraries gif_bench_nsgif)
  list(APPEND bench_definitions TKPIXMAP_NSGIF_PEER=1)
else()
  message(STATUS "gif_bench: no libnsgif sources at ${nsgif_dir}: its rows are left out")
endif()
