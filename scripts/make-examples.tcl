# make-examples.tcl - writes the sample GIF files of examples/ with the
# project's own GIF writer (tests/tcl/gifdata.tcl, which runs the gifwrite
# command of a build tree with tests: $TKPIXMAP_BUILD_DIR, else build/dev).
# Each image keeps to at most 128 colours, so that it shows on 8-bit
# PseudoColor screens too.
#
#   tclsh scripts/make-examples.tcl ?OUTDIR?      (default: examples/)

set here [file dirname [file normalize [info script]]]
source [file join $here .. tests tcl gifdata.tcl]
set outdir [file normalize [expr {$argc > 0 ? [lindex $argv 0] : [file join $here .. examples]}]]
file mkdir $outdir

proc clamp {v} { expr {$v < 0 ? 0 : ($v > 255 ? 255 : int($v))} }

# A colour wheel in 120 steps over a 96 by 64 band, darkening downwards.
proc rainbow {w h} {
    set pixels {}
    for {set y 0} {$y < $h} {incr y} {
        set shade [expr {1.0 - 0.6 * ($y / 16) / 3.0}]
        for {set x 0} {$x < $w} {incr x} {
            set hue [expr {($x * 30 / $w) / 30.0 * 6.0}]
            set sector [expr {int($hue)}]
            set f [expr {$hue - $sector}]
            switch $sector {
                0 { set rgb [list 1 $f 0] }
                1 { set rgb [list [expr {1 - $f}] 1 0] }
                2 { set rgb [list 0 1 $f] }
                3 { set rgb [list 0 [expr {1 - $f}] 1] }
                4 { set rgb [list $f 0 1] }
                default { set rgb [list 1 0 [expr {1 - $f}]] }
            }
            set colour {}
            foreach c $rgb { lappend colour [clamp [expr {255 * $c * $shade}]] }
            lappend pixels $colour
        }
    }
    return $pixels
}

# A checkerboard of four colours with 8-pixel squares.
proc checker {w h} {
    set colours {{230 57 70} {241 250 238} {69 123 157} {29 53 87}}
    set pixels {}
    for {set y 0} {$y < $h} {incr y} {
        for {set x 0} {$x < $w} {incr x} {
            lappend pixels [lindex $colours [expr {(($x / 8) + ($y / 8)) % 2 + 2 * (($y / 16) % 2)}]]
        }
    }
    return $pixels
}

# Concentric rings in 16 shades of orange and teal.
proc target {size} {
    set pixels {}
    set middle [expr {($size - 1) / 2.0}]
    for {set y 0} {$y < $size} {incr y} {
        for {set x 0} {$x < $size} {incr x} {
            set ring [expr {int(hypot($x - $middle, $y - $middle) / 3) % 16}]
            if {$ring % 2} {
                lappend pixels [list [clamp [expr {140 + $ring * 7}]] [clamp [expr {60 + $ring * 8}]] 20]
            } else {
                lappend pixels [list 10 [clamp [expr {90 + $ring * 9}]] [clamp [expr {110 + $ring * 8}]]]
            }
        }
    }
    return $pixels
}

# A small picture: sky, sun, hills and a house, 80 by 56.
proc landscape {w h} {
    set pixels {}
    for {set y 0} {$y < $h} {incr y} {
        for {set x 0} {$x < $w} {incr x} {
            set hill [expr {38 + int(6 * sin($x / 9.0))}]
            if {hypot($x - 62, $y - 12) < 7} {
                set c {250 210 60}
            } elseif {$x >= 18 && $x < 34 && $y >= 30 && $y < 44} {
                set c [expr {($x >= 24 && $x < 28 && $y >= 36) ? {90 50 30} : {200 80 60}}]
            } elseif {$y >= 22 && $y < 30 && abs($x - 26) <= ($y - 22) + 1} {
                set c {120 40 40}
            } elseif {$y >= $hill} {
                set c [list 40 [clamp [expr {150 - ($y - $hill) * 4}]] 50]
            } else {
                set c [list [clamp [expr {120 + $y * 2}]] [clamp [expr {170 + $y}]] 235]
            }
            lappend pixels $c
        }
    }
    return $pixels
}

foreach {name w h pixels} [list \
    rainbow.gif 96 64 [rainbow 96 64] \
    checker.gif 48 48 [checker 48 48] \
    target.gif 63 63 [target 63] \
    landscape.gif 80 56 [landscape 80 56]] {
    set path [file join $outdir $name]
    gifdata::write $path [gifdata::fromPixels $w $h $pixels]
    puts "$path: ${w}x$h, [llength [lsort -unique $pixels]] colours, [file size $path] bytes"
}
