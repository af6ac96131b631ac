# xicons_bench: 500 small GIF files loaded and shown, against Tk photo images,
# on Xvfb (scripts/bench-report.sh starts the servers).  It embeds Tcl and Tk
# and loads the shipped library as an application would.
if(TKPIXMAP_BASE_ONLY)
  set(bench_skip TRUE)
else()
  find_library(TCL_LIBRARY NAMES tcl8.6 tcl REQUIRED)
  find_library(TK_LIBRARY NAMES tk8.6 tk REQUIRED)
  find_library(X11_LIB X11 REQUIRED)
  set(bench_extra_libraries ${TK_LIBRARY} ${TCL_LIBRARY} ${X11_LIB})
  set(bench_include_directories ${TCL_INCLUDE_DIR} ${TK_INCLUDE_DIR} ${X11_INCLUDE_DIR})
endif()
