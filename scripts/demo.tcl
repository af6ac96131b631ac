# demo.tcl - shows the sample GIFs of examples/ and any GIF files named on
# the command line on a canvas, each image three times at different anchors
# (a cross marks each anchor point), writes a PNG screenshot and exits: 0
# when every image was shown, 1 when one could not be (each is reported).
#
#   wish scripts/demo.tcl ?-o FILE.png? ?-build DIR? ?-stay? ?FILE.gif ...?
#
#   -o FILE.png   where the screenshot goes (default build/demo.png next to
#                 this script's folder: out of the sources that git tracks)
#   -build DIR    build tree holding pkgIndex.tcl, libtkpixmap.so.3 and
#                 bin/xshot (default: $TKPIXMAP_BUILD_DIR, else the first of
#                 build/dev, build/release, build/asan next to this script)
#   -stay         keep the window open instead of exiting
# scripts/demo.sh runs it, starting an X server first when there is none.

package require Tk

set here [file dirname [file normalize [info script]]]
set output [file join $here .. build demo.png]
set build {}
set stay 0
set files [lsort [glob -nocomplain -directory [file join $here .. examples] *.gif]]
for {set i 0} {$i < [llength $argv]} {incr i} {
    set word [lindex $argv $i]
    switch -- $word {
        -o { set output [lindex $argv [incr i]] }
        -build { set build [lindex $argv [incr i]] }
        -stay { set stay 1 }
        default { lappend files $word }
    }
}
if {$build eq {} && [info exists env(TKPIXMAP_BUILD_DIR)]} { set build $env(TKPIXMAP_BUILD_DIR) }
if {$build eq {}} {
    foreach candidate {dev release asan} {
        set dir [file join $here .. build $candidate]
        if {[file exists [file join $dir pkgIndex.tcl]]} { set build $dir; break }
    }
}
if {$build eq {}} {
    puts stderr "demo: no build tree found; give one with -build DIR"
    exit 2
}
set build [file normalize $build]
set auto_path [linsert $auto_path 0 $build]
package require Pixmap

wm title . "Pixmap demo"
set margin 16
set gap 24
set labelHeight 18

# Load every file first: the canvas size follows from the image sizes.
# A file that cannot be loaded or shown gets its row, with the reason, and
# is listed in `failures`.
set rows {}
set failures {}
set shown 0
foreach file $files {
    if {[catch {pixmap create $file} handle]} {
        lappend rows [list $file {} 0 0 $handle]
        lappend failures "$file: $handle"
    } else {
        lappend rows [list $file $handle [pixmap $handle width] [pixmap $handle height] {}]
    }
}
set width 360
set height $margin
foreach row $rows {
    lassign $row file handle w h
    set rowWidth [expr {2 * $margin + 3 * $w + 2 * $gap}]
    if {$rowWidth > $width} { set width $rowWidth }
    incr height [expr {$labelHeight + max($h, 12) + $gap}]
}

canvas .c -width $width -height $height -background #2b2b33 -highlightthickness 0 -borderwidth 0
pack .c

proc cross {x y} {
    .c create line [expr {$x - 5}] $y [expr {$x + 6}] $y -fill #ff4060
    .c create line $x [expr {$y - 5}] $x [expr {$y + 6}] -fill #ff4060
}

set y $margin
foreach row $rows {
    lassign $row file handle w h problem
    if {$handle ne {}} {
        set text "[file tail $file]  ${w}x$h"
    } else {
        set text "[file tail $file]: $problem"
    }
    set label [.c create text $margin $y -anchor nw -text $text -fill #e0e0e0 -font {Helvetica 10}]
    set top [expr {$y + $labelHeight}]
    if {$handle ne {}} {
        # Anchor points chosen so that the three copies sit side by side.
        set x $margin
        set refused 0
        foreach {anchor dx dy} [list nw 0 0 center [expr {$w / 2}] [expr {$h / 2}] se $w $h] {
            set ax [expr {$x + $dx}]
            set ay [expr {$top + $dy}]
            if {[catch {.c create pixmap $handle $ax $ay -anchor $anchor -tags [list image $anchor]} problem]} {
                .c itemconfigure $label -text "[file tail $file]: $problem" -fill #ff8080
                lappend failures "$file: $problem"
                set refused 1
                break
            }
            cross $ax $ay
            incr x [expr {$w + $gap}]
        }
        if {!$refused} { incr shown }
        if {$handle ne {} && [pixmap $handle ncolors] > 0} {
            .c itemconfigure $label -text "$text  ([pixmap $handle ncolors] colours allocated)"
        }
    }
    incr y [expr {$labelHeight + max($h, 12) + $gap}]
}

# Everything drawn, and the server done with it, before the screenshot.
update
winfo pointerxy .
update
winfo pointerxy .

set xshot [file join $build bin xshot]
if {![file executable $xshot]} {
    puts stderr "demo: no screenshot tool at $xshot (build the xshot target)"
    exit 1
}
set output [file normalize $output]
file mkdir [file dirname $output]
if {[catch {exec $xshot -window [winfo id .c] $output} problem]} {
    puts stderr "demo: screenshot failed: $problem"
    exit 1
}
puts "demo: $shown of [llength $rows] images shown, screenshot in $output"
foreach failure $failures {
    puts stderr "demo: not shown: $failure"
}
if {!$stay} { exit [expr {[llength $failures] > 0}] }
