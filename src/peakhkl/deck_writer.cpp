#include "peakhkl/deck_writer.hpp"

#include "common/name.hpp"

#include <charconv>

namespace peakhkl {

namespace {

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Appends the integers to text as lines of at most 78 columns.
void append_list(std::string& text, const std::vector<Reflection>& list,
                 int (*item)(const Reflection&)) {
    std::string line;
    for (const Reflection& r : list) {
        const std::string word = std::to_string(item(r));
        if (!line.empty() && line.size() + 1 + word.size() > 78) {
            text += line + '\n';
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    text += line + '\n';
}

} // namespace

std::string name_fault(const std::string& word) {
    if (word.empty()) return "a name of at least one character";
    if (word.size() > static_cast<std::size_t>(peakpos::namelen))
        return "a name of at most 25 characters";
    if (const int at = peakpos::vector_name_fault(word); at >= 0)
        return word[at] == ':' ? "a name without \"::\""
                               : "a name of letters, digits, '_', '.' and ':' only";
    if (!is_letter(word[0])) return "a name that begins with a letter";
    return "";
}

std::string mended_name(const std::string& word) {
    std::string name = word;
    for (int at; (at = peakpos::vector_name_fault(name)) >= 0;) name[at] = '_';
    if (name.empty() || !is_letter(name[0])) name.insert(0, "X");
    name.resize(std::min(name.size(), static_cast<std::size_t>(peakpos::namelen)));
    return name;
}

std::string float_text(double x) {
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, static_cast<float>(x));
    return std::string(buf, result.ptr);
}

std::string deck_text(const DeckValues& v, const std::vector<Reflection>& list) {
    std::string text = v.name;
    // The word ends at the first blank, so the symbol after it is read
    // only by a person; it is left out rather than cut at column 25.
    if (!v.symbol.empty() && v.name.size() + 1 + v.symbol.size() <= peakpos::namelen)
        text += ' ' + v.symbol;
    text += '\n';
    for (const double x : v.cell) text += float_text(x) + ' ';
    text += float_text(v.wave) + '\n';
    text += float_text(v.ymin) + ' ' + float_text(v.ymax) + ' ' + float_text(v.zero) + '\n';
    text += std::to_string(list.size()) + '\n';
    append_list(text, list, [](const Reflection& r) { return r.hkl[0]; });
    append_list(text, list, [](const Reflection& r) { return r.hkl[1]; });
    append_list(text, list, [](const Reflection& r) { return r.hkl[2]; });
    append_list(text, list, [](const Reflection& r) { return r.extinct ? 1 : 0; });
    return text;
}

} // namespace peakhkl
