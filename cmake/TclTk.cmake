# Tcl and Tk are reached through their stubs tables only: headers and the two
# static stub libraries, never libtcl or libtk themselves.
find_path(TCL_INCLUDE_DIR tcl.h PATHS /usr/include/tcl8.6 /usr/include/tcl REQUIRED)
find_path(TK_INCLUDE_DIR tk.h PATHS /usr/include/tcl8.6 /usr/include/tk8.6 /usr/include/tcl REQUIRED)
find_library(TCL_STUB_LIBRARY NAMES tclstub8.6 tclstub REQUIRED)
find_library(TK_STUB_LIBRARY NAMES tkstub8.6 tkstub REQUIRED)
find_program(TCLSH NAMES tclsh8.6 tclsh REQUIRED)
find_program(WISH NAMES wish8.6 wish REQUIRED)
find_path(X11_INCLUDE_DIR X11/Xlib.h REQUIRED)

# Where this Tcl looks for packages (tcl_pkgPath, from its tclConfig.sh):
# the installed package index goes into one of these folders.
#   tkpixmap_tcl_package_path(TCLCONFIG_SH OUT)
function(tkpixmap_tcl_package_path config out)
  file(STRINGS "${config}" line REGEX "^TCL_PACKAGE_PATH=" LIMIT_COUNT 1)
  string(REGEX REPLACE "^TCL_PACKAGE_PATH=['\"]?([^'\"]*)['\"]?$" "\\1" line "${line}")
  string(REGEX REPLACE "[{}]" "" line "${line}")
  string(REGEX REPLACE "[ \t]+" ";" line "${line}")
  list(REMOVE_ITEM line "")
  set(${out} "${line}" PARENT_SCOPE)
endfunction()
get_filename_component(tcl_stub_dir ${TCL_STUB_LIBRARY} DIRECTORY)
find_file(TCL_CONFIG_SH tclConfig.sh HINTS ${tcl_stub_dir}/tcl8.6 ${tcl_stub_dir}
          PATHS /usr/lib/tcl8.6 REQUIRED NO_DEFAULT_PATH)
tkpixmap_tcl_package_path(${TCL_CONFIG_SH} TCL_PACKAGE_PATH)
