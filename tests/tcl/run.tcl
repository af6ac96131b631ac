# run.tcl - runs one tcltest file in a fresh interpreter with the build tree's
# package on auto_path and the shared constraints loaded.  Exits non-zero when
# a test failed or the file itself broke off, so ctest sees it.
#   tclsh run.tcl FILE        (wish run.tcl FILE works the same way)
package require tcltest 2.5
set file [lindex $argv 0]
set argv {}
if {[info exists ::env(TKPIXMAP_BUILD_DIR)]} {
    set ::auto_path [linsert $::auto_path 0 $::env(TKPIXMAP_BUILD_DIR)]
}

# Count the failures before tcltest's summary resets its counters, and keep
# it from exiting (it does under Tk) so that the exit status is ours.  This
# comes before the files import the command.
set ::failedTests 0
set ::cleanedUp 0
rename ::tcltest::cleanupTests ::tcltest::SummaryAndReset
proc ::tcltest::cleanupTests {args} {
    incr ::failedTests $::tcltest::numTests(Failed)
    set ::cleanedUp 1
    ::tcltest::testConstraint interactive 1
    uplevel 1 [list ::tcltest::SummaryAndReset {*}$args]
}

source [file join [file dirname [info script]] constraints.tcl]
::tcltest::configure -verbose {body error start} -singleproc 1
set ::tcltest::testSingleFile true

if {[catch {source $file} message options]} {
    puts stderr "$file broke off: [dict get $options -errorinfo]"
    exit 2
}
if {!$::cleanedUp} {::tcltest::cleanupTests}
exit [expr {$::failedTests > 0 ? 1 : 0}]
