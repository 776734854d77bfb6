# What the viewer takes from other people's files and names, kept as data:
# a file name is opened or handed to a program only as a path that Tcl
# cannot read as a pipeline or a redirection and a program cannot read as
# an option; a phase or data file is read only when it is a regular file
# (or standard input), and only up to a size; a number is drawn only when
# the plot library can lay it out.
#
#   peakview::guard::path NAME             NAME as an absolute path
#   peakview::guard::word NAME             NAME as a program's file argument
#   peakview::guard::slurp NAME WHAT MAX   the bytes of NAME (- standard input)
#   peakview::guard::plottable V           true when the plot can lay out V
#   peakview::guard::axis LO HI            a range the plot can lay out
#   peakview::guard::cut TEXT              TEXT cut to a readable length, on one line
#   peakview::guard::printable TEXT ?ONELINE?   TEXT with its control characters as \xNN
#   peakview::guard::same A B              true when the files A and B are one file
#   peakview::guard::fresh PATH            a channel on a new file PATH, never an old one
#   peakview::guard::replace PATH BYTES    BYTES written whole to PATH, never through a link

namespace eval ::peakview::guard {
    # The largest magnitude drawn: BLT's axes abort past about 1e300 (the
    # tick count overflows), and no measurement comes near this one.
    variable maxMagnitude 1e100
    # The longest message taken from a script or a program.
    variable messageMax 300
}

# Returns an error with the code that peakview answers with status 2.
proc ::peakview::guard::refuse {msg} {
    return -code error -level 2 -errorcode {PEAKVIEW INPUT} $msg
}

# Returns NAME as an absolute path: the working directory before a
# relative one, so that no name begins with |, <, >, - or ~.
proc ::peakview::guard::path {name} {
    if {[string index $name 0] eq "/"} { return $name }
    return [pwd]/$name
}

# Returns the file name NAME as a program's argument: as it stands where it
# begins with a letter, a digit, _, . or / (not 2>), else (-x, |x, <x, ~x)
# with ./ before it, so that it is read as a file and never as an option or a
# redirection.
proc ::peakview::guard::word {name} {
    if {[regexp {^(?!2>)[[:alnum:]_./]} $name]} { return $name }
    return ./$name
}

# Returns the bytes of the file NAME (- for standard input, read as it
# comes), refused with a message that names it as WHAT when it is not a
# regular file, cannot be read or holds more than MAX bytes. A UTF-8
# byte-order mark at the start is dropped.
proc ::peakview::guard::slurp {name what max} {
    if {$name eq "-"} {
        set chan stdin
    } else {
        set full [path $name]
        if {[catch {file stat $full st} msg]} {
            refuse "cannot read $what: [string trim [lindex [split $msg :] end]]"
        }
        if {$st(type) ne "file"} {
            set kind [dict get {directory "a directory" fifo "a FIFO (named pipe)"
                characterSpecial "a device" blockSpecial "a device" socket "a socket"} $st(type)]
            refuse "cannot read $what: it is $kind, not a regular file"
        }
        if {$st(size) > $max} {
            refuse "cannot read $what: it holds [size $st(size)], more than the [size $max] read"
        }
        if {[catch {open $full rb} chan]} {
            refuse "cannot read $what: [string trim [lindex [split $chan :] end]]"
        }
    }
    fconfigure $chan -translation binary
    set failed [catch {::read $chan [expr {$max + 1}]} bytes]
    if {$name ne "-"} { close $chan }
    if {$failed} { refuse "cannot read $what: $bytes" }
    if {[string length $bytes] > $max} {
        refuse "cannot read $what: it holds more than the [size $max] read"
    }
    if {[string range $bytes 0 2] eq "\xef\xbb\xbf"} {
        set bytes [string range $bytes 3 end]
    }
    return $bytes
}

# Returns N bytes in words: "64 MiB".
proc ::peakview::guard::size {n} {
    foreach {unit scale} {GiB 1073741824 MiB 1048576 KiB 1024} {
        if {$n >= $scale && $n % $scale == 0} { return "[expr {$n / $scale}] $unit" }
    }
    return "$n bytes"
}

# Returns true when the number V lies within the magnitude the plot lays out.
proc ::peakview::guard::plottable {v} {
    variable maxMagnitude
    return [expr {[string is double -strict $v] && abs($v) <= $maxMagnitude}]
}

# Returns {LO HI} widened, where it must be, to a range whose ends differ
# at double precision (a single stick far from 0 has none of its own).
proc ::peakview::guard::axis {lo hi} {
    set least [expr {1e-9 * max(abs($lo), abs($hi))}]
    if {$hi - $lo < $least} {
        set mid [expr {0.5 * $lo + 0.5 * $hi}]
        return [list [expr {$mid - $least}] [expr {$mid + $least}]]
    }
    return [list $lo $hi]
}

# Returns TEXT cut to one readable piece: one line (see printable) of at
# most messageMax characters.
proc ::peakview::guard::cut {text} {
    variable messageMax
    set text [printable [string trimright $text] 1]
    if {[string length $text] <= $messageMax} { return $text }
    return "[string range $text 0 [expr {$messageMax - 1}]]... ([string length $text] characters)"
}

# Returns TEXT with each control character written as \xNN (its UTF-8
# bytes), as peakpos writes them, so that nothing a file holds can move a
# terminal's cursor or colour its text: line breaks stay where ONELINE is
# false (a tool's message of several lines), else they go too.
proc ::peakview::guard::printable {text {oneline 0}} {
    set pattern [expr {$oneline ? {[\x00-\x1f\x7f-\x9f]} : {[\x00-\x09\x0b-\x1f\x7f-\x9f]}}]
    if {![regexp $pattern $text]} { return $text }
    set out ""
    foreach c [split $text ""] {
        if {[regexp $pattern $c]} {
            binary scan [encoding convertto utf-8 $c] cu* bytes
            foreach b $bytes { append out [format "\\x%02X" $b] }
        } else {
            append out $c
        }
    }
    return $out
}

# Returns true when the names A and B (paths as for path) are one existing
# file: the same device and inode, whatever links or names lead there.
proc ::peakview::guard::same {a b} {
    if {[catch {file stat [path $a] sa}] || [catch {file stat [path $b] sb}]} { return 0 }
    return [expr {$sa(dev) == $sb(dev) && $sa(ino) == $sb(ino)}]
}

# Returns a binary channel open for writing on the file PATH, which it
# creates: an error (with the error code of open, POSIX EEXIST ...) where
# anything has the name already, a symbolic link above all, which is never
# followed.
proc ::peakview::guard::fresh {path} {
    set chan [open [path $path] {WRONLY CREAT EXCL} 0666]
    fconfigure $chan -translation binary
    return $chan
}

# Returns nothing; writes BYTES to the file PATH as a whole: to a new file
# beside it first (see fresh), then renamed to PATH, so that a file there
# before is replaced, and a symbolic link there is replaced itself, never
# written through. A directory at PATH is refused; on an error PATH stays
# as it was.
proc ::peakview::guard::replace {path bytes} {
    set path [path $path]
    if {[file isdirectory $path]} { error "it is a directory" }
    for {set n 0} {1} {incr n} {
        set temp [file join [file dirname $path] .[file tail $path].[pid]-$n]
        if {![catch {fresh $temp} chan opts]} break
        if {[lrange [dict get $opts -errorcode] 0 1] ne {POSIX EEXIST} || $n >= 100} {
            error [string trim [lindex [split $chan :] end]]
        }
    }
    try {
        puts -nonewline $chan $bytes
        close $chan
        # (rename(2): the link itself gives way.)
        file rename -force -- $temp $path
    } on error {msg} {
        catch {close $chan}
        file delete -- $temp
        error [string trim [lindex [split $msg :] end]]
    }
}
