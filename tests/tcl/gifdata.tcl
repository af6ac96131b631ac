# gifdata.tcl - writes small GIF files from Tcl, for tests and sample images.
#
# The image data is LZW without compression: every pixel is sent as a
# literal 9-bit code, with a clear code before each run of 254 literals so
# that the code width never grows.  Any decoder must read that back.
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
}

proc gifdata::encode {width height palette indices} {
    set count [llength $palette]
    if {$count < 1 || $count > 256} {
        return -code error "palette needs 1 to 256 colours, has $count"
    }
    if {[llength $indices] != $width * $height} {
        return -code error "need [expr {$width * $height}] indices, have [llength $indices]"
    }
    # The global colour table holds 2^(N+1) entries.
    set sizeField 0
    while {(2 << $sizeField) < $count} { incr sizeField }
    set tableEntries [expr {2 << $sizeField}]

    set out "GIF89a"
    append out [binary format ssccc $width $height \
                    [expr {0x80 | (7 << 4) | $sizeField}] 0 0]
    foreach colour $palette {
        lassign $colour r g b
        append out [binary format ccc $r $g $b]
    }
    append out [string repeat \0\0\0 [expr {$tableEntries - $count}]]
    append out [binary format cssssc 0x2c 0 0 $width $height 0]
    append out [binary format c 8]
    set stream [Codes $indices]
    for {set at 0} {$at < [string length $stream]} {incr at 255} {
        set chunk [string range $stream $at [expr {$at + 254}]]
        append out [binary format c [string length $chunk]] $chunk
    }
    append out \0 \x3b
    return $out
}

# The LZW code stream, packed least significant bit first.
proc gifdata::Codes {indices} {
    set clear 256
    set end 257
    set bytes {}
    set acc 0
    set bits 0
    set sinceClear 254
    foreach index [concat $indices [list {}]] {
        if {$index eq {}} {
            set codes [list $end]
        } elseif {$sinceClear == 254} {
            set codes [list $clear $index]
            set sinceClear 1
        } else {
            set codes [list $index]
            incr sinceClear
        }
        foreach code $codes {
            set acc [expr {$acc | ($code << $bits)}]
            incr bits 9
            while {$bits >= 8} {
                lappend bytes [expr {$acc & 0xff}]
                set acc [expr {$acc >> 8}]
                incr bits -8
            }
        }
    }
    if {$bits > 0} { lappend bytes [expr {$acc & 0xff}] }
    return [binary format c* $bytes]
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
