# xbuild_bench: building server pixmaps on Xvfb (scripts/bench-report.sh
# starts the servers).  It embeds Tcl and Tk, and takes the library's objects
# instead of the shared library, to reach an image's record between builds;
# what runs is the same code the shared library holds.
if(TKPIXMAP_BASE_ONLY)
  set(bench_skip TRUE)
else()
  find_library(TCL_LIBRARY NAMES tcl8.6 tcl REQUIRED)
  find_library(TK_LIBRARY NAMES tk8.6 tk REQUIRED)
  find_library(X11_LIB X11 REQUIRED)
  set(bench_libraries tkp_tcl tkp_pack tkp_colours tkp_gif tkp_gif_tcl tkp_byteorder)
  set(bench_extra_libraries ${TCL_STUB_LIBRARY} ${TK_STUB_LIBRARY} ${TK_LIBRARY} ${TCL_LIBRARY}
      ${X11_LIB})
  set(bench_include_directories ${TCL_INCLUDE_DIR} ${TK_INCLUDE_DIR} ${X11_INCLUDE_DIR})
endif()
