# Reading a measured powder pattern: 2θ, intensity and, where the file has
# it, σ. Plain columns are read here; the formats that instrument software
# writes go through libxy's xyconv.
#
#   peakview::data::read FILE ?LIMIT_MS?   the pattern, or an error (code PEAKVIEW INPUT)
#
# A value the plot cannot lay out (beyond guard::maxMagnitude), a number
# of more than numberMax characters, a file of more than fileMax bytes or
# pointMax points is refused, naming the file and line.

namespace eval ::peakview::data {
    # The converter for instrument formats; tests point it elsewhere.
    variable xyconv xyconv
    # Extensions of formats that only libxy reads.
    variable instrumentExtensions {
        .raw .uxd .xrdml .rd .sd .udf .cpi .spe .mca .cnf .xdd .vms .spc .xsyg .chi
    }
    # Between the columns: blanks, tabs, commas or semicolons.
    variable sep "%\[ \t,;\]"
    # Ten times a long scan (10^5 points) and twice the points read within
    # a second and 200 MiB; plain columns of that many take about 20 bytes
    # a point.
    variable pointMax 2000000
    variable fileMax [expr {128 << 20}]
    # Characters enough for any double written with its 17 significant
    # digits and then some (Tcl's regular expressions count to 255).
    variable numberMax 250
}

package require peakview::guard

# Returns an error with the code that peakview answers with status 2.
proc ::peakview::data::refuse {msg} {
    return -code error -level 2 -errorcode {PEAKVIEW INPUT} $msg
}

# Returns the pattern in FILE: a dict with source, format, x, y and sigma
# (an empty list when the file has no σ column).
proc ::peakview::data::read {path {limitMs 5000}} {
    variable fileMax
    set bytes [::peakview::guard::slurp [::peakview::guard::path $path] "the data file $path" $fileMax]
    if {[isInstrumentFile $path $bytes]} {
        return [viaLibxy $path $limitMs]
    }
    return [fromBytes $bytes $path]
}

# Returns the pattern in BYTES, plain columns from the file SOURCE: read
# by the compiled reader where it is built (peakview::columns) and the
# layout is the common one, else by plain.
proc ::peakview::data::fromBytes {bytes source} {
    variable pointMax
    variable numberMax
    if {[string range $bytes 0 2] eq "\xef\xbb\xbf"} { set bytes [string range $bytes 3 end] }
    if {![catch {package require peakview::columns}]} {
        set read [scanColumns $bytes $pointMax $numberMax $::peakview::guard::maxMagnitude]
        switch -- [lindex $read 0] {
            ok {
                lassign $read - xs ys sigmas
                if {[llength $xs] >= 2} {
                    return [dict create source $source format plain x $xs y $ys sigma $sigmas]
                }
            }
            refuse { refuse "$source:[lindex $read 1]: [lindex $read 2]" }
        }
    }
    return [plain [encoding convertfrom utf-8 $bytes] $source]
}

# Returns true when FILE is not plain columns: binary bytes, XML, a known
# instrument extension or a Diffrac-AT header.
proc ::peakview::data::isInstrumentFile {path bytes} {
    variable instrumentExtensions
    if {[string tolower [file extension $path]] in $instrumentExtensions} { return 1 }
    set head [string range $bytes 0 4095]
    if {[string first \x00 $head] >= 0} { return 1 }
    return [regexp {^\s*(<\?xml|<|;[^\n]*\n\s*_FILEVERSION|_FILEVERSION)} $head]
}

# Returns the pattern that xyconv converts FILE to, read as plain columns.
proc ::peakview::data::viaLibxy {path limitMs} {
    variable xyconv
    variable fileMax
    package require peakview::sources
    set exe [auto_execok $xyconv]
    if {[llength $exe] != 1} {
        refuse "$path is not plain columns: reading it needs xyconv,\
                which is not installed (Debian: apt-get install libxy-bin)"
    }
    set file [::peakview::guard::path $path]
    try {
        # xyconv finds the format itself only when asked apart (-g): left to
        # guess while converting, it reads an XRDML file as empty.
        set guess [::peakview::sources::run [lindex $exe 0] [list -g $file] /dev/null $limitMs]
        set said [string trim "[dict get $guess out]\n[dict get $guess err]"]
        if {[dict get $guess status] != 0
            || ![regexp {^(?:.*: )?([A-Za-z0-9_]+) - } [lindex [split $said \n] end] -> type]} {
            refuse "$path is not plain columns, and xyconv knows no format it is in"
        }
        # The metadata comes as # lines, which the plain reader skips.
        set made [::peakview::sources::run [lindex $exe 0] [list -t $type $file -] /dev/null \
                      $limitMs [expr {2 * $fileMax}]]
    } trap {PEAKVIEW INPUT RUN} {msg} {
        refuse "$path: $msg"
    }
    if {[dict get $made status] != 0} {
        set why [string trim "[dict get $made err] [dict get $made out]"]
        refuse "$path: xyconv cannot read it as $type: [::peakview::guard::cut [join [split $why \n] " "]]"
    }
    set pattern [fromBytes [encoding convertto utf-8 [dict get $made out]] $path]
    dict set pattern format xyconv
    dict set pattern wavelengths [wavelengths [dict get $made out]]
    return $pattern
}

# Returns the N columns of numbers of the file PATH (blank lines and
# lines that begin with # skipped), each a list: every other line must
# hold N numbers, else it is refused with the file and the line.
proc ::peakview::data::columns {path n} {
    variable fileMax
    variable numberMax
    set text [encoding convertfrom utf-8 [::peakview::guard::slurp [::peakview::guard::path $path] \
                                               "the file $path" $fileMax]]
    if {[regexp -indices "\[-+.0-9eE\]{[expr {$numberMax + 1}]}" $text at]} {
        set line [expr {[regexp -all \n [string range $text 0 [lindex $at 0]]] + 1}]
        refuse "$path:$line: a number of more than $numberMax characters"
    }
    set columns [lrepeat $n {}]
    set number 0
    foreach line [split $text \n] {
        incr number
        set t [string trim $line " \t\r"]
        if {$t eq "" || [string index $t 0] eq "#"} continue
        if {[catch {llength $t} count] || $count != $n} {
            refuse "$path:$number: not $n numbers: \"[::peakview::guard::cut $t]\""
        }
        set k 0
        foreach v $t {
            if {![string is double -strict $v] || abs($v) > $::peakview::guard::maxMagnitude || $v != $v} {
                refuse "$path:$number: \"[::peakview::guard::cut $v]\" is no number the plot can draw"
            }
            lset columns $k end+1 $v
            incr k
        }
    }
    if {[llength [lindex $columns 0]] < 2} { refuse "$path: fewer than two rows of $n numbers" }
    return $columns
}

# Returns {x y} or {x y sigma} for a LINE of two or three finite numbers
# (decimal, with blanks, tabs, commas or semicolons between them), else {}.
proc ::peakview::data::point {line} {
    variable sep
    # (scan raises an error on NaN.)
    if {[catch {scan $line "%g$sep%g%n" x - y end} n] || $n != 4} { return {} }
    set values [list $x $y]
    set rest [string range $line $end end]
    if {[string trim $rest " \t,;\r"] ne ""} {
        if {[catch {scan $rest "$sep%g%n" - s end} n] || $n != 3
            || [string trim [string range $rest $end end] " \t,;\r"] ne ""} {
            return {}
        }
        lappend values $s
    }
    foreach v $values {
        if {abs($v) == Inf} { return {} }
    }
    return $values
}

# Returns the pattern in TEXT, plain columns from the file SOURCE. Lines
# that start with #, ! or ' and lines of words are skipped; a file with
# fewer than two points is refused, naming the first line that could not be
# read as 2θ and intensity.
proc ::peakview::data::plain {text source} {
    variable pointMax
    variable numberMax
    if {[string index $text 0] eq "\ufeff"} { set text [string range $text 1 end] }
    set magnitude $::peakview::guard::maxMagnitude
    # A number of absurd length, found in one pass (Tcl's reading of one
    # takes time that grows with the square of its length).
    if {[regexp -indices "\[-+.0-9eE\]{[expr {$numberMax + 1}]}" $text at]} {
        set line [expr {[regexp -all \n [string range $text 0 [lindex $at 0]]] + 1}]
        refuse "$source:$line: a number of more than $numberMax characters"
    }
    set xs {}
    set ys {}
    set sigmas {}
    set allSigma 1
    set bad ""
    set n 0
    foreach line [split $text \n] {
        incr n
        set p [point $line]
        if {[llength $p] > 0} {
            foreach v $p {
                if {abs($v) > $magnitude} {
                    refuse "$source:$n: the value $v lies beyond ±$magnitude,\
                            which the plot cannot lay out"
                }
            }
            if {[llength $xs] >= $pointMax} {
                refuse "$source:$n: more than $pointMax points, the most peakview reads"
            }
            lappend xs [lindex $p 0]
            lappend ys [lindex $p 1]
            if {[llength $p] == 3} {
                lappend sigmas [lindex $p 2]
            } else {
                set allSigma 0
            }
            continue
        }
        set t [string trim $line " \t\r"]
        if {$t eq "" || [string index $t 0] in {# ! '}} continue
        # A line of words (a header) is skipped; one that starts with a
        # number but is not 2θ and intensity is where reading failed.
        set words [expr {![regexp {^[-+.0-9]} $t]}]
        if {$bad eq "" || ([dict get $bad words] && !$words)} {
            set bad [dict create line $n text $t words $words]
        }
    }
    if {[llength $xs] < 2} {
        set what [expr {[llength $xs] == 0 ? "no data point" : "only one data point"}]
        if {$bad eq ""} { refuse "$source: $what (2θ and intensity, two points at least)" }
        set shown [string range [dict get $bad text] 0 59]
        refuse "$source: $what; line [dict get $bad line] is not 2θ and intensity: \"$shown\""
    }
    return [dict create source $source format plain x $xs y $ys \
                sigma [expr {$allSigma ? $sigmas : {}}]]
}

# Returns the wavelengths that xyconv's metadata lines in TEXT state (as
# "# WL1: 1.540600"; the names differ by format): a dict with alpha1 and,
# where stated, alpha2, in Å; empty where no plausible one is stated.
proc ::peakview::data::wavelengths {text} {
    set found [dict create]
    foreach {key names} {alpha1 {WL1 ALPHA1 KALPHA1 WAVELENGTH USEDWAVELENGTH} alpha2 {WL2 ALPHA2 KALPHA2}} {
        foreach name $names {
            if {[regexp -nocase -line "^#\\s*${name}\\s*\[:=\]\\s*(\\S+)\\s*\$" $text -> value]
                && [string is double -strict $value] && $value >= 0.05 && $value <= 50} {
                dict set found $key [expr {double($value)}]
                break
            }
        }
    }
    if {![dict exists $found alpha1]} { return {} }
    return $found
}
