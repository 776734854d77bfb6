# The peakview library: one package per concern. The data reader, the
# phases and the readout need neither Tk nor BLT; the plot needs both.
set version 1.1
package ifneeded peakview $version [list package provide peakview $version]
foreach concern {data phases readout plot} {
    package ifneeded peakview::$concern $version \
        "[list source [file join $dir $concern.tcl]]; [list package provide peakview::$concern $version]"
}
unset concern version
