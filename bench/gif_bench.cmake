# GIF decoding is measured against giflib and stb_image, through a Tcl
# interpreter as the pixmap command calls the reader.
if(TKPIXMAP_BASE_ONLY)
  set(bench_skip TRUE)
  return()
endif()
find_package(GIF REQUIRED)
find_library(STB_LIBRARY stb REQUIRED)
find_library(TCL_LIBRARY NAMES tcl8.6 tcl REQUIRED)
set(bench_extra_libraries GIF::GIF ${STB_LIBRARY} ${TCL_LIBRARY})
set(bench_include_directories ${TCL_INCLUDE_DIR})
