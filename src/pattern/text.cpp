#include "pattern/text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace pattern::text {

bool Lines::next(std::string_view& line) {
    if (rest_.empty()) return false;
    const void* nl = std::memchr(rest_.data(), '\n', rest_.size());
    const std::size_t end =
        nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - rest_.data()) : rest_.size();
    line = rest_.substr(0, end);
    rest_.remove_prefix(nl ? end + 1 : end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number_;
    return true;
}

void Lines::skip_blank_lines() {
    std::size_t i = 0, after_newline = 0, newlines = 0;
    for (; i < rest_.size(); ++i) {
        const char c = rest_[i];
        if (c == '\n') {
            ++newlines;
            after_newline = i + 1;
        } else if (c != ' ' && c != '\t' && c != '\r') {
            break;
        }
    }
    if (i == rest_.size()) after_newline = i; // blanks to the end
    rest_.remove_prefix(after_newline);
    number_ += newlines;
}

std::size_t scan_number(std::string_view s, char point, double& value) {
    std::size_t i = 0;
    const bool minus = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    const std::size_t start = i;
    std::size_t digits = 0;
    while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    std::size_t point_at = std::string_view::npos;
    if (i < s.size() && s[i] == point) {
        point_at = i;
        ++i;
        while (i < s.size() && is_digit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    std::size_t exp_at = std::string_view::npos;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '-' || s[j] == '+')) ++j;
        if (j < s.size() && is_digit(s[j])) {
            while (j < s.size() && is_digit(s[j])) ++j;
            exp_at = i;
            i = j;
        }
    }
    // from_chars reads '.' and 'e' only: a copy where the file wrote ',' or
    // 'D' (small numbers on the stack, long ones on the heap).
    std::string_view digits_text = s.substr(start, i - start);
    const bool copy = (point_at != std::string_view::npos && point != '.') ||
                      (exp_at != std::string_view::npos && (s[exp_at] == 'd' || s[exp_at] == 'D'));
    char small[64];
    std::string large;
    if (copy) {
        char* out = small;
        if (digits_text.size() > sizeof small) {
            large.assign(digits_text);
            out = large.data();
        } else {
            std::memcpy(small, digits_text.data(), digits_text.size());
        }
        if (point_at != std::string_view::npos) out[point_at - start] = '.';
        if (exp_at != std::string_view::npos) out[exp_at - start] = 'e';
        digits_text = std::string_view(out, digits_text.size());
    }
    double v = 0;
    const auto r = std::from_chars(digits_text.data(), digits_text.data() + digits_text.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Past the largest double or below the smallest: which one, by the
        // exponent's sign and the digits before it.
        bool tiny = true;
        if (exp_at != std::string_view::npos) {
            tiny = s[exp_at + 1] == '-';
        } else {
            for (std::size_t k = start; k < i && k != point_at; ++k)
                if (s[k] != '0') tiny = false;
        }
        v = tiny ? 0.0 : HUGE_VAL;
    }
    value = minus ? -v : v;
    return i;
}

std::size_t scan_nonfinite(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    const auto word = [&](std::string_view w) {
        if (s.size() - i < w.size()) return false;
        for (std::size_t k = 0; k < w.size(); ++k)
            if ((s[i + k] | 0x20) != w[k]) return false;
        return true;
    };
    if (word("infinity")) return i + 8;
    if (word("inf") || word("nan")) return i + 3;
    return 0;
}

std::string quoted(std::string_view s, std::size_t max) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string number_text(double v) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

} // namespace pattern::text
