#include "peakhkl/error.hpp"

#include <charconv>

namespace peakhkl {

InputError::InputError(std::string where_, std::string expected_, std::string found_)
    : std::runtime_error(where_ + ": expected " + expected_ + ", found " + found_),
      where(std::move(where_)), expected(std::move(expected_)), found(std::move(found_)) {}

std::string quoted(const std::string& text) {
    return '"' + text + '"';
}

std::string number_text(double value) {
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

} // namespace peakhkl
