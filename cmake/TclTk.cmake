# Tcl and Tk are reached through their stubs tables only: headers and the two
# static stub libraries, never libtcl or libtk themselves.
find_path(TCL_INCLUDE_DIR tcl.h PATHS /usr/include/tcl8.6 /usr/include/tcl REQUIRED)
find_path(TK_INCLUDE_DIR tk.h PATHS /usr/include/tcl8.6 /usr/include/tk8.6 /usr/include/tcl REQUIRED)
find_library(TCL_STUB_LIBRARY NAMES tclstub8.6 tclstub REQUIRED)
find_library(TK_STUB_LIBRARY NAMES tkstub8.6 tkstub REQUIRED)
find_program(TCLSH NAMES tclsh8.6 tclsh REQUIRED)
find_program(WISH NAMES wish8.6 wish REQUIRED)
find_path(X11_INCLUDE_DIR X11/Xlib.h REQUIRED)
