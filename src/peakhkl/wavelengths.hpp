// The characteristic X-ray lines a user names instead of a wavelength.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace peakhkl {

// The wavelength in angstroms of a named line ("CuKa1", "MoKb", "CuKa",
// in any case: "cuka1"), or nothing when the name is not one of them.
// "CuKa" and each other "..Ka" is the K-alpha mean (2 Ka1 + Ka2) / 3, the
// wavelength of a tube without a K-alpha2 filter, rounded to 1e-7 A.
std::optional<double> named_line(std::string_view name);

// Every name named_line knows, blank-separated, for a message.
std::string line_names();

// Every named line as "NAME<TAB>ANGSTROM\n", the value the shortest text
// that reads back as the same double.
std::string waves_text();

} // namespace peakhkl
