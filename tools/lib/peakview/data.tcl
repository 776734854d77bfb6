# Reading a measured powder pattern through the compiled pattern reader
# (src/peakview/reader.cpp, the binding of the pattern library that the
# fit reads with too): plain columns, the GSAS raw formats and every
# format libxy reads.
#
#   peakview::data::read FILE   the pattern, or an error (code PEAKVIEW INPUT)
#
# The pattern is a dict: source (FILE), format, x, y and sigma (every
# point's, the ranges one after the other; sigma {} unless the file gives
# every one), segments (the lines to draw: each range cut at its gaps,
# {x y sigma} with sigma given or sqrt(max(y, 1))), ranges (their number),
# wavelengths ({} or alpha1, source and where stated alpha2, ratio) and
# notes (what was read otherwise than as a point, "FILE: text").

namespace eval ::peakview::data {
    # Ten times a long scan (10^5 points) and twice the points read within
    # half a second and 150 MiB.
    variable pointMax 2000000
    variable fileMax [expr {128 << 20}]
}

package require peakview::guard

# Returns an error with the code that peakview answers with status 2.
proc ::peakview::data::refuse {msg} {
    return -code error -level 2 -errorcode {PEAKVIEW INPUT} $msg
}

# Returns the pattern in FILE (- for standard input).
proc ::peakview::data::read {path args} {
    variable pointMax
    variable fileMax
    if {[catch {package require peakview::reader} msg]} {
        refuse "cannot read the data file $path: peakview's pattern reader is not built\
                (build it: cmake --build build --target peakview_reader): $msg"
    }
    if {$path eq "-"} {
        set bytes [::peakview::guard::slurp - "the data on standard input" $fileMax]
        set pattern [readPattern bytes $bytes $path $pointMax $fileMax]
    } else {
        set pattern [readPattern file $path $path $pointMax $fileMax]
    }
    dict set pattern source $path
    return $pattern
}
