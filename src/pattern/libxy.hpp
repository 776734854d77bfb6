// Everything libxy reads (Bruker RAW with its ranges, PANalytical XRDML,
// UXD, CPI, Rigaku, Philips RD, ...), through its C++ library: its blocks
// are the ranges, its metadata the wavelengths and step times.
#pragma once

#include "pattern/pattern.hpp"

#include <string>
#include <string_view>

namespace pattern::libxy {

// libxy's name of the format of bytes (file: its name, for the extension),
// empty where libxy sees plain text, which the column reader reads.
std::string format_of(std::string_view bytes, const std::string& file);

Pattern read(std::string_view bytes, const std::string& file, const std::string& format,
             const Options& options);

} // namespace pattern::libxy
