// Reading a file a user names, bounded: only a regular file, and only up
// to a size, refused before a byte of it is read otherwise.
#pragma once

#include <cstdint>
#include <string>

namespace pattern {

// The bytes of the file at path. Throws ReadError (no line) when it is not
// a regular file (a directory, a FIFO, a device or a socket), cannot be
// opened or read, or holds more than max_bytes.
std::string read_file(const std::string& path, std::uint64_t max_bytes);

} // namespace pattern
