# The peakview library: one package per concern. The data reader, the
# phases, their sources, the readout, the intensities and the label
# layout need neither Tk nor BLT; the plot, the drawing of the labels and
# the window's zoom need both.
set version 1.1
package ifneeded peakview $version [list package provide peakview $version]
foreach concern {guard data phases sources readout strength fit labels plot view} {
    package ifneeded peakview::$concern $version \
        "[list source [file join $dir $concern.tcl]]; [list package provide peakview::$concern $version]"
}
# The compiled column reader, where the build or the install placed it.
set columns [file join $dir columns[info sharedlibextension]]
if {[file exists $columns]} {
    package ifneeded peakview::columns $version \
        "[list load $columns Peakview_columns]; [list package provide peakview::columns $version]"
}
unset concern version columns
