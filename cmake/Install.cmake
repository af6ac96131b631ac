# What `cmake --install` puts where.  One copy of each library, in the
# library folder: C programs link it there, and the package index that Tcl
# finds loads that same file, so a program that links the services and then
# loads the package has one registry and one set of handle tables.
#   LIBDIR/libtkpixmap.so.3, libbaseutil.so.1 (and libtcl9pixmap3.0.so)
#   <Tcl's package folder>/pixmap3.0/pkgIndex.tcl   (cmake/InstallPackage.cmake)
#   INCLUDEDIR/tkpixmap/*.h, LIBDIR/pkgconfig/tkpixmap.pc,
#   LIBDIR/cmake/tkpixmap/tkpixmapConfig*.cmake (imported targets)
#   MANDIR/mann/pixmap.n, MANDIR/man3/tkpixmap_<family>.3
set(TKPIXMAP_PACKAGE_DIR "" CACHE PATH
  "Folder for pixmap3.0/pkgIndex.tcl (default: from Tcl's package path, see README)")
set(TKPIXMAP_TCL9_PACKAGE_DIR "" CACHE PATH
  "Folder for the Tcl 9 package index when it differs (default: from Tcl 9's package path)")

# The library folder may be anywhere the installer chooses; the libraries
# find each other beside themselves.
set_target_properties(tkpixmap baseutil PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS tkpixmap baseutil EXPORT tkpixmapTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tkpixmap)
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tkpixmap)

# The .pc file finds its prefix relative to itself, so it stays right when
# the install is given another prefix (cmake --install --prefix).
file(RELATIVE_PATH TKPIXMAP_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/tkpixmap.pc.in ${CMAKE_BINARY_DIR}/tkpixmap.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tkpixmap.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

include(CMakePackageConfigHelpers)
set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tkpixmap)
install(EXPORT tkpixmapTargets NAMESPACE tkpixmap:: DESTINATION ${config_dir})
configure_file(cmake/tkpixmapConfig.cmake.in ${CMAKE_BINARY_DIR}/tkpixmapConfig.cmake COPYONLY)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/tkpixmapConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/tkpixmapConfig.cmake ${CMAKE_BINARY_DIR}/tkpixmapConfigVersion.cmake
  DESTINATION ${config_dir})

# Reference pages.  The C pages get the project's prefix: byteorder(3) and
# others of these names may already exist on the system.
install(FILES doc/pixmap.n DESTINATION ${CMAKE_INSTALL_MANDIR}/mann)
foreach(page byteorder gxline host baseutil)
  install(FILES doc/${page}.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 RENAME tkpixmap_${page}.3)
endforeach()

if(NOT TKPIXMAP_BASE_ONLY)
  if(TARGET tcl9pixmap)
    install(TARGETS tcl9pixmap LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
  install(CODE "
    set(TKPIXMAP_BINARY_DIR [[${CMAKE_BINARY_DIR}]])
    set(TKPIXMAP_LIBDIR [[${CMAKE_INSTALL_LIBDIR}]])
    set(TKPIXMAP_PACKAGE_DIR [[${TKPIXMAP_PACKAGE_DIR}]])
    set(TCL_PACKAGE_PATH [[${TCL_PACKAGE_PATH}]])
    set(TKPIXMAP_TCL9_LIBRARY_NAME [[${TKPIXMAP_TCL9_LIBRARY_NAME}]])
    set(TKPIXMAP_TCL9_PACKAGE_DIR [[${TKPIXMAP_TCL9_PACKAGE_DIR}]])
    set(TCL9_PACKAGE_PATH [[${TCL9_PACKAGE_PATH}]])")
  install(SCRIPT cmake/InstallPackage.cmake)
endif()
