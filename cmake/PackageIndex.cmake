# The text of pkgIndex.tcl, for the build folder (libraries beside it) and
# for an installation (libraries in the library folder, LIBRARY_PATH relative
# to the package folder).  One index serves Tcl 8.6 and Tcl 9: each loads the
# library built against its own stubs.
#   tkpixmap_package_index(OUT LIBRARY_PATH TCL9_LIBRARY_NAME)
# TCL9_LIBRARY_NAME is empty when the build made no Tcl 9 library.
function(tkpixmap_package_index out library_path tcl9_library)
  if(library_path)
    string(REGEX REPLACE "/+$" "" library_path "${library_path}")
    set(path "${library_path}/")
  else()
    set(path "")
  endif()
  set(text "# Pixmap 3.0.  Tcl 8.6 loads libtkpixmap.so.3; Tcl 9 cannot load a library\n")
  string(APPEND text "# built for Tcl 8 and has its own, ${tcl9_library}.\n")
  if(tcl9_library)
    string(APPEND text "if {[package vsatisfies [package provide Tcl] 9.0-]} {\n"
      "    package ifneeded Pixmap 3.0 [list load [file join $dir ${path}${tcl9_library}] Pixmap]\n"
      "} else {\n"
      "    package ifneeded Pixmap 3.0 [list load [file join $dir ${path}libtkpixmap.so.3] Pixmap]\n"
      "}\n")
  else()
    set(text "# Pixmap 3.0, for Tcl 8.6 (this build made no Tcl 9 library).\n")
    string(APPEND text "if {[package vsatisfies [package provide Tcl] 9.0-]} return\n"
      "package ifneeded Pixmap 3.0 [list load [file join $dir ${path}libtkpixmap.so.3] Pixmap]\n")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
