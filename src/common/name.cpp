#include "common/name.hpp"

#include <cstring>

namespace peakpos {

std::string_view name_word(const std::array<char, namelen>& dnam) {
    int i = 1;
    for (int ii = 1; ii <= namelen; ++ii) {
        i = ii;
        if (dnam[ii - 1] != ' ') break;
    }
    int j = namelen;
    for (int ii = i; ii <= namelen; ++ii) {
        if (dnam[ii - 1] == ' ') break;
        j = ii;
    }
    return std::string_view(dnam.data() + i - 1, static_cast<std::size_t>(j - i + 1));
}

int unsafe_name_byte(std::string_view word) {
    for (std::size_t n = 0; n < word.size(); ++n) {
        const unsigned char ch = static_cast<unsigned char>(word[n]);
        if (ch < 0x20 || ch == 0x7F || std::strchr("[]{}$\\;\"", ch) != nullptr ||
            (n == 0 && ch == '#'))
            return ch;
    }
    return -1;
}

int vector_name_fault(std::string_view word) {
    for (std::size_t n = 0; n < word.size(); ++n) {
        const unsigned char ch = static_cast<unsigned char>(word[n]);
        const bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                        (ch >= '0' && ch <= '9') || ch == '_' || ch == '.' ||
                        (ch == ':' && (n == 0 || word[n - 1] != ':'));
        if (!ok) return static_cast<int>(n);
    }
    return -1;
}

} // namespace peakpos
