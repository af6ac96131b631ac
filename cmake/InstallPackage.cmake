# Install-time script: puts pkgIndex.tcl into the folder where each Tcl the
# package was built for looks for packages.  It runs at install time so that
# `cmake --install --prefix P` is honoured like the configured prefix.  Set
# before it (install(CODE)): TKPIXMAP_LIBDIR, TKPIXMAP_PACKAGE_DIR,
# TCL_PACKAGE_PATH, and for a Tcl 9 build TKPIXMAP_TCL9_LIBRARY_NAME,
# TKPIXMAP_TCL9_PACKAGE_DIR, TCL9_PACKAGE_PATH; TKPIXMAP_BINARY_DIR.
include(${CMAKE_CURRENT_LIST_DIR}/PackageIndex.cmake)

# A package folder: the override if given; else the first folder of that
# Tcl's package path in the library part of the prefix (Debian's /usr:
# /usr/lib/tcltk/x86_64-linux-gnu; /usr/local: /usr/local/lib/tcltk); else
# FALLBACK/pixmap3.0.
function(package_folder out override package_path fallback)
  if(override)
    if(NOT IS_ABSOLUTE "${override}")
      set(override "${CMAKE_INSTALL_PREFIX}/${override}")
    endif()
    set(${out} "${override}" PARENT_SCOPE)
    return()
  endif()
  foreach(folder IN LISTS package_path)
    file(RELATIVE_PATH relative "${CMAKE_INSTALL_PREFIX}" "${folder}")
    if(relative MATCHES "^lib(/|$)")
      set(${out} "${folder}/pixmap3.0" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "${fallback}/pixmap3.0" PARENT_SCOPE)
endfunction()

if(IS_ABSOLUTE "${TKPIXMAP_LIBDIR}")
  set(libdir "${TKPIXMAP_LIBDIR}")
else()
  set(libdir "${CMAKE_INSTALL_PREFIX}/${TKPIXMAP_LIBDIR}")
endif()

package_folder(folders "${TKPIXMAP_PACKAGE_DIR}" "${TCL_PACKAGE_PATH}" "${CMAKE_INSTALL_PREFIX}/lib/tcltk")
if(TKPIXMAP_TCL9_LIBRARY_NAME)
  # Tcl 9's own package path when it lies in the prefix (a Tcl 9 installed
  # there); else the 8.6 index serves Tcl 9 too, found through TCLLIBPATH.
  # Nothing is written outside the prefix unless asked for.
  list(GET folders 0 tcl86_folder)
  package_folder(tcl9_folder "${TKPIXMAP_TCL9_PACKAGE_DIR}" "${TCL9_PACKAGE_PATH}" "${tcl86_folder}/..")
  get_filename_component(tcl9_folder "${tcl9_folder}" ABSOLUTE)
  list(APPEND folders "${tcl9_folder}")
  list(REMOVE_DUPLICATES folders)
endif()

foreach(folder IN LISTS folders)
  file(RELATIVE_PATH to_libdir "${folder}" "${libdir}")
  tkpixmap_package_index(text "${to_libdir}" "${TKPIXMAP_TCL9_LIBRARY_NAME}")
  string(MD5 key "${folder}")
  set(staged "${TKPIXMAP_BINARY_DIR}/install-index/${key}/pkgIndex.tcl")
  file(WRITE "${staged}" "${text}")
  file(INSTALL DESTINATION "${folder}" TYPE FILE FILES "${staged}")
endforeach()
