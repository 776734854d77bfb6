# The peakview library: one package per concern. The data reader, the
# phases, their sources, the readout, the intensities and the label
# layout need neither Tk nor BLT; the plot, the drawing of the labels and
# the window's zoom need both.
set version 1.1
package ifneeded peakview $version [list package provide peakview $version]
foreach concern {guard data phases sources readout strength labels plot view} {
    package ifneeded peakview::$concern $version \
        "[list source [file join $dir $concern.tcl]]; [list package provide peakview::$concern $version]"
}
# The compiled pattern reader: where PEAKVIEW_READER names it (the tests
# name their build's), beside this file (in the build tree and when
# installed), or, for the library in the source tree, in the build/
# directory beside tools/.
set reader ""
foreach candidate [list \
    [expr {[info exists ::env(PEAKVIEW_READER)] ? $::env(PEAKVIEW_READER) : ""}] \
    [file join $dir reader[info sharedlibextension]] \
    [file join [file dirname [file dirname [file dirname $dir]]] build lib peakview reader[info sharedlibextension]]] {
    if {$candidate ne "" && [file isfile $candidate]} {
        set reader [file normalize $candidate]
        break
    }
}
if {$reader ne ""} {
    package ifneeded peakview::reader $version \
        "[list load $reader Peakview_reader]; [list package provide peakview::reader $version]"
}
unset concern version reader candidate
