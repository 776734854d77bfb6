# The peakview library: one package per concern. The data reader, the
# phases, their sources, the readout and the label layout need neither Tk
# nor BLT; the plot and the drawing of the labels need both.
set version 1.1
package ifneeded peakview $version [list package provide peakview $version]
foreach concern {data phases sources readout labels plot} {
    package ifneeded peakview::$concern $version \
        "[list source [file join $dir $concern.tcl]]; [list package provide peakview::$concern $version]"
}
unset concern version
