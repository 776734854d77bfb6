// The characteristic X-ray lines a user names instead of a wavelength.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace peakhkl {

// The wavelength in angstroms of a named line ("CuKa1", "MoKb", ...), or
// nothing when the name is not one of them.
std::optional<double> named_line(std::string_view name);

// Every name named_line knows, blank-separated, for a message.
std::string line_names();

} // namespace peakhkl
