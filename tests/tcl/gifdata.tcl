# gifdata.tcl - writes small GIF files from Tcl, for tests and sample images,
# with our one GIF writer (tests/support/gif_writer.*) run as the build
# tree's command bin/gifwrite ($TKPIXMAP_BUILD_DIR, else build/dev).
#
#   gifdata::encode width height palette indices
#       palette: list of {r g b} (at most 256); indices: width*height palette
#       indices, rows top to bottom.  Returns the GIF file as a byte string.
#   gifdata::fromPixels width height pixels
#       pixels: width*height {r g b} colours; the palette is made from them.
#   gifdata::write path data
#       writes a byte string to path.

namespace eval gifdata {
    namespace export encode fromPixels write
    variable tool [file join [expr {[info exists ::env(TKPIXMAP_BUILD_DIR)]
        ? $::env(TKPIXMAP_BUILD_DIR)
        : [file join [file dirname [file normalize [info script]]] .. .. build dev]}] bin gifwrite]
}

proc gifdata::encode {width height palette indices} {
    variable tool
    close [file tempfile path]
    try {
        exec $tool $path $width $height << "[concat {*}$palette]\n$indices\n"
        set f [open $path rb]
        set data [read $f]
        close $f
    } finally {
        file delete $path
    }
    return $data
}

proc gifdata::fromPixels {width height pixels} {
    set palette {}
    set indices {}
    set slot [dict create]
    foreach colour $pixels {
        if {![dict exists $slot $colour]} {
            dict set slot $colour [llength $palette]
            lappend palette $colour
        }
        lappend indices [dict get $slot $colour]
    }
    return [encode $width $height $palette $indices]
}

proc gifdata::write {path data} {
    set f [open $path wb]
    puts -nonewline $f $data
    close $f
    return $path
}

# An animation of frames over one palette: each frame a full width x
# height image (a list of palette indices) with its delay in milliseconds
# (written in hundredths) and disposal; loop is the NETSCAPE2.0 loop count,
# or {} for none.  Made by splicing what encode writes for each frame.
#   gifdata::animation width height palette {{indices delayMs disposal} ...} ?loop?
proc gifdata::animation {width height palette frames {loop {}}} {
    set out {}
    set encoded [dict create]
    foreach frame $frames {
        lassign $frame indices delay disposal
        if {![dict exists $encoded $indices]} {
            dict set encoded $indices [encode $width $height $palette $indices]
        }
        set one [dict get $encoded $indices]
        # Header, screen and global colour table, as encode wrote them.
        binary scan $one @10cu flags
        set prefix [expr {13 + 3 * (1 << (($flags & 7) + 1))}]
        if {$out eq {}} {
            set out [string range $one 0 [expr {$prefix - 1}]]
            if {$loop ne {}} {
                append out "\x21\xff\x0bNETSCAPE2.0\x03\x01[binary format s $loop]\x00"
            }
        }
        append out "\x21\xf9\x04[binary format cs [expr {($disposal & 7) << 2}] [expr {$delay / 10}]]\x00\x00"
        append out [string range $one $prefix end-1]
    }
    return "$out;"
}
