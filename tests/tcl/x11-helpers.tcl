# x11-helpers.tcl - what the x11-build, x11-item and x11-postscript files
# share: test images, canvases placed where no other test window covers
# them, and what the screen (read back with the xreadback tool) or the
# printed PostScript shows.  At 8 (through the colour map), 24 and 32 bits
# the screen must match the image exactly, at 16 bits within the 5-6-5
# reduction.

# Built by tests/support/x11; a missing tool fails the tests that need it.
set ::readback [file join $::env(TKPIXMAP_BUILD_DIR) bin xreadback]

# Texts that Tk itself writes (coordinates, anchors) are the running Tk's.
proc tkText {kind value} {
    set tk9 [package vsatisfies [package provide Tk] 9-]
    switch $kind {
        distance {format [expr {$tk9 ? {expected screen distance or "" but got "%s"} : {bad screen distance "%s"}}] $value}
        anchor {format "bad anchor[expr {$tk9 ? {} : { position}}] \"%s\": must be n, ne, e, se, s, sw, w, nw, or center" $value}
    }
}

# Every test draws in a toplevel of its own; the main window would cover them.
if {[testConstraint haveTk]} { wm withdraw . }

set ::scratch [scratchDir]
set ::imageNumber 0

# The colour of colour number c of a test image: distinct for distinct c
# below 256, and never black or white.
proc colourOf {c {seed 0}} {
    list [expr {(($c * 37) + ($seed * 11) + 5) & 0xff}] \
        [expr {(($c * 91) + $seed + 3) & 0xff}] [expr {($c + 1) & 0xff}]
}

# width*height pixels using ncolours colours in a scrambled order (every
# one of them when there are at least ncolours pixels: 13 is prime to the
# colour counts used here).
proc pattern {width height ncolours {seed 0}} {
    set pixels {}
    for {set i 0} {$i < $width * $height} {incr i} {
        lappend pixels [colourOf [expr {($i * 13 + $seed) % $ncolours}] $seed]
    }
    return $pixels
}

# Writes the pixels as a GIF and loads it; returns the handle.
proc loadPixels {width height pixels} {
    set path [file join $::scratch image[incr ::imageNumber].gif]
    gifdata::write $path [gifdata::fromPixels $width $height $pixels]
    pixmap create $path
}

proc loadPattern {width height ncolours {seed 0}} {
    loadPixels $width $height [pattern $width $height $ncolours $seed]
}

# What the screen should show for the pixels: 16-bit screens keep the top
# 5, 6 and 5 bits of red, green and blue.
proc expected {pixels {depth {}}} {
    if {$depth eq {}} { set depth [winfo depth .] }
    set masks [expr {$depth == 16 ? {0xf8 0xfc 0xf8} : {0xff 0xff 0xff}}]
    set out {}
    foreach p $pixels {
        lassign $p r g b
        lassign $masks mr mg mb
        lappend out [format %02x%02x%02x [expr {$r & $mr}] [expr {$g & $mg}] [expr {$b & $mb}]]
    }
    return $out
}

# The pixels a window shows in an area, as rrggbb words, rows concatenated.
proc shown {window x y width height} {
    # Round trips: the first brings in every expose event the server has
    # sent so far, the one after the redraw makes sure the server has done
    # all the drawing Tk asked for before the tool reads it.
    winfo pointerxy .
    update
    winfo pointerxy .
    set lines [split [string trim [exec env DISPLAY=[winfo screen $window] \
                                        $::readback [winfo id $window] $x $y $width $height]] \n]
    return [concat {*}[lrange $lines 1 end]]
}

# A fresh canvas in its own toplevel at a screen position where no other
# test window covers it (there is no window manager).  The wish and the
# tclsh run of this file may share a server: they keep to their own halves.
set ::screenTop [expr {[info exists ::env(TKPIXMAP_HOST)] && $::env(TKPIXMAP_HOST) eq "tclsh" ? 300 : 0}]
# On 8-bit screens each gets a colour map of its own unless told otherwise,
# so that the colours earlier tests took do not run the map out.
proc canvasAt {top x y args} {
    destroy $top
    if {$::xkind eq "d8" && ![dict exists $args -colormap] && ![dict exists $args -visual]} {
        lappend args -colormap new
    }
    toplevel $top {*}$args
    wm geometry $top 220x220+$x+[expr {$y + $::screenTop}]
    canvas $top.c -width 220 -height 220 -highlightthickness 0 -borderwidth 0 -background #102030
    pack $top.c
    update
    return $top.c
}

proc background {n} { lrepeat $n 102030 }

# The canvas's PostScript in a colour mode, rendered by Ghostscript at one
# point per canvas pixel: the pixels of an area as {r g b} lists.
proc printed {c mode x y width height} {
    set ps [file join $::scratch print.ps]
    set ppm [file join $::scratch print.ppm]
    set w [winfo width $c]
    set h [winfo height $c]
    $c postscript -file $ps -colormode $mode -pagewidth ${w}p -pageanchor sw -pagex 0 -pagey 0
    exec gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=ppmraw -r72 -g${w}x$h -dFIXEDMEDIA \
        -sOutputFile=$ppm $ps
    set f [open $ppm rb]
    set data [read $f]
    close $f
    # P6, then width, height and maximum, with comment lines anywhere before.
    set fields {}
    set at 0
    while {[llength $fields] < 4} {
        set end [string first \n $data $at]
        set line [string range $data $at [expr {$end - 1}]]
        set at [expr {$end + 1}]
        if {[string index $line 0] ne "#"} { lappend fields {*}$line }
    }
    set out {}
    for {set row $y} {$row < $y + $height} {incr row} {
        binary scan $data @[expr {$at + ($row * $w + $x) * 3}]cu[expr {$width * 3}] bytes
        foreach {r g b} $bytes { lappend out [list $r $g $b] }
    }
    return $out
}
