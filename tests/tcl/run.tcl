# run.tcl - runs one tcltest file in a fresh interpreter with the build tree's
# package on auto_path and the shared constraints loaded.  Exits non-zero when
# any test failed, so ctest sees it.
#   tclsh run.tcl FILE        (wish run.tcl FILE works the same way)
package require tcltest 2.5
set file [lindex $argv 0]
set argv {}
if {[info exists ::env(TKPIXMAP_BUILD_DIR)]} {
    set ::auto_path [linsert $::auto_path 0 $::env(TKPIXMAP_BUILD_DIR)]
}
source [file join [file dirname [info script]] constraints.tcl]
::tcltest::configure -verbose {body error start} -singleproc 1
set ::tcltest::testSingleFile true
source $file
set failed $::tcltest::numTests(Failed)
::tcltest::cleanupTests
exit [expr {$failed > 0 ? 1 : 0}]
