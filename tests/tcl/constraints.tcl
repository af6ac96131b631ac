# constraints.tcl - test constraints shared by every tcltest file, and the
# set-up every file shares: Tk where the file runs against an X server.
package require tcltest 2.5
namespace import -force ::tcltest::*

# x11 files: load Tk when the host is a plain tclsh (wish has it already).
if {[info exists ::env(TKPIXMAP_X_KIND)] && [catch {package present Tk}]} {
    package require Tk
}

testConstraint haveTk [expr {![catch {package present Tk}]}]
testConstraint noTk [expr {[catch {package present Tk}]}]
testConstraint corpus [expr {[info exists ::env(TKPIXMAP_CORPUS_DIR)]
                             && [file isdirectory $::env(TKPIXMAP_CORPUS_DIR)]}]
set ::xkind [expr {[info exists ::env(TKPIXMAP_X_KIND)] ? $::env(TKPIXMAP_X_KIND) : ""}]
testConstraint pseudo8 [expr {$::xkind eq "d8"}]
testConstraint true16 [expr {$::xkind eq "d16"}]
testConstraint true24 [expr {$::xkind eq "d24"}]
testConstraint depth15 [expr {$::xkind eq "d15"}]
testConstraint twoScreens [expr {$::xkind eq "s2"}]
testConstraint trueColour8 [expr {$::xkind eq "t8"}]
testConstraint servable [expr {$::xkind in {d8 d16 d24}}]
testConstraint root [expr {[exec id -u] == 0}]
# Memory and timing figures mean nothing under memcheck.
testConstraint notValgrind [expr {![info exists ::env(TKPIXMAP_UNDER_VALGRIND)]}]
# Nor under AddressSanitizer, whose runtime the asan build preloads: it holds
# freed memory back for a while to catch late uses.
testConstraint notSanitized [expr {!([info exists ::env(LD_PRELOAD)]
                                     && [string match *asan* $::env(LD_PRELOAD)])}]

# A directory of the system's for the files a test file writes, made once
# per process and removed when the file's tests are cleaned up.
proc scratchDir {} {
    if {![info exists ::scratchDirectory]} {
        set base [expr {[info exists ::env(TMPDIR)] ? $::env(TMPDIR) : "/tmp"}]
        set ::scratchDirectory [file join $base tkpixmap-test-[pid]]
        file mkdir $::scratchDirectory
    }
    return $::scratchDirectory
}
proc ::tcltest::cleanupTestsHook {} {
    if {[info exists ::scratchDirectory]} {
        file delete -force $::scratchDirectory
        unset ::scratchDirectory
    }
}

# The process's resident set in KiB (Linux), for tests that check that
# repeated work does not make the process grow.
proc residentKiB {} {
    set f [open /proc/self/status]
    set text [read $f]
    close $f
    regexp {VmRSS:\s+(\d+)} $text -> kb
    return $kb
}

# "flat" when a process grew by less than limitKiB over repeated work.  Under
# AddressSanitizer the figure means nothing (it holds freed memory back) and
# its leak check at exit stands in for it.
proc memoryVerdict {grownKiB limitKiB} {
    if {$grownKiB < $limitKiB || ![testConstraint notSanitized]} { return flat }
    return "grew by $grownKiB KiB"
}
# What the X server offers besides the screen kind's default visual.
testConstraint trueColour [expr {$::xkind in {d16 d24}}]
testConstraint argb32 [expr {[testConstraint haveTk]
                             && "truecolor 32" in [winfo visualsavailable .]}]
testConstraint directcolor [expr {[testConstraint haveTk]
                                  && [lsearch -glob [winfo visualsavailable .] directcolor*] >= 0}]
testConstraint staticcolor8 [expr {[testConstraint haveTk]
                                   && "staticcolor 8" in [winfo visualsavailable .]}]
# Tools some tests call.
testConstraint ghostscript [expr {[auto_execok gs] ne ""}]
testConstraint xvfb [expr {[auto_execok Xvfb] ne ""}]
