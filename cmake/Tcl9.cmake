# The Tcl 9 package library.  -DTKPIXMAP_TCL9=PREFIX names a Tcl/Tk 9
# installation (as ../shared/tcltk9/build.sh makes one); the Tcl-facing code
# is then compiled a second time against its headers and stubs into
# libtcl9pixmap3.0.so, beside libtkpixmap.so.3 in the build folder.
set(TKPIXMAP_TCL9 "" CACHE PATH "Tcl/Tk 9 installation to build the Tcl 9 package library against (empty: none)")
set(TKPIXMAP_TCL9_LIBRARY_NAME "")  # none unless a Tcl 9 is given
if(NOT TKPIXMAP_TCL9)
  return()
endif()
if(TKPIXMAP_BASE_ONLY)
  message(FATAL_ERROR "TKPIXMAP_TCL9 needs the Tcl-facing code (TKPIXMAP_BASE_ONLY is on)")
endif()
find_path(TCL9_INCLUDE_DIR tcl.h PATHS ${TKPIXMAP_TCL9}/include NO_DEFAULT_PATH REQUIRED)
find_path(TK9_INCLUDE_DIR tk.h PATHS ${TKPIXMAP_TCL9}/include NO_DEFAULT_PATH REQUIRED)
find_library(TCL9_STUB_LIBRARY NAMES tclstub tclstub9.0 PATHS ${TKPIXMAP_TCL9}/lib NO_DEFAULT_PATH REQUIRED)
find_library(TK9_STUB_LIBRARY NAMES tkstub tkstub9.0 PATHS ${TKPIXMAP_TCL9}/lib NO_DEFAULT_PATH REQUIRED)
find_program(TCLSH9 NAMES tclsh9.0 PATHS ${TKPIXMAP_TCL9}/bin NO_DEFAULT_PATH REQUIRED)
find_program(WISH9 NAMES wish9.0 PATHS ${TKPIXMAP_TCL9}/bin NO_DEFAULT_PATH REQUIRED)
tkpixmap_tcl_package_path(${TKPIXMAP_TCL9}/lib/tclConfig.sh TCL9_PACKAGE_PATH)
set(TKPIXMAP_TCL9_LIBRARY_NAME libtcl9pixmap3.0.so)
